#include "EngineTestSupport.h"

using namespace curlppx;
using namespace enginetest;
using testsupport::Reply;

// Many caller threads, several pools, every request form and breaks mixed in:
// each request must complete exactly once, and nothing may hang.
TEST(EngineStress, EveryRequestCompletesExactlyOnce) {
    constexpr int kThreads = 8;
    constexpr int kPerThread = 200;
    constexpr size_t kPools = 4;
    constexpr size_t kFirstPool = 60;

    const std::string fast = UniquePath("-fast");
    const std::string slow = UniquePath("-slow");
    Http().Script(fast, {Reply::Json("{\"ok\":1}")});
    Reply held = Reply::Json(std::string(64 * 1024, 'h'));
    held.fault = Reply::Fault::Trickle;
    held.trickleChunk = 4096;
    held.trickleInterval = 20ms;
    Http().Script(slow, {held});

    std::vector<std::atomic<int>> completions(kThreads * kPerThread);
    std::atomic<int> failures{0};
    std::mutex mutex;
    std::condition_variable allDone;
    int finished = 0;
    const auto complete = [&](int id, CURLcode code, bool broken) {
        completions[id].fetch_add(1);
        const bool acceptable = code == CURLE_OK || (broken && code == CURLE_ABORTED_BY_CALLBACK);
        if (!acceptable) {
            failures.fetch_add(1);
        }
        std::lock_guard lock(mutex);
        ++finished;
        allDone.notify_all();
    };

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            auto& global = CurlGlobal::GetInstance();
            for (int i = 0; i < kPerThread; ++i) {
                const int id = t * kPerThread + i;
                const size_t poolId = kFirstPool + static_cast<size_t>(id) % kPools;
                const bool broken = i % 25 == 7;
                auto conn = global.GetConn(poolId);
                conn->SetURL(Http().BaseUrl() + (broken ? slow : fast).substr(1));
                if (broken) {
                    auto done = conn->HttpGet();
                    conn->Break();
                    complete(id, static_cast<CURLcode>(Await(done)), true);
                } else if (i % 2 == 0) {
                    std::future<CURLcode> done;
                    switch (i % 5) {
                    case 0:
                        done = conn->HttpGet();
                        break;
                    case 1:
                        done = conn->HttpPost(std::string("{}"));
                        break;
                    case 2:
                        done = conn->HttpPut(CurlConn::Fields{{"a", "b"}});
                        break;
                    case 3:
                        done = conn->HttpPatch(std::string("p"));
                        break;
                    default:
                        done = conn->HttpDelete();
                        break;
                    }
                    complete(id, static_cast<CURLcode>(Await(done)), false);
                } else {
                    std::promise<void> called;
                    auto cb = [&, id](CURLcode code) {
                        complete(id, code, false);
                        called.set_value();
                    };
                    if (i % 3 == 0) {
                        conn->HttpHead(cb);
                    } else {
                        conn->HttpGet(cb);
                    }
                    // The connection goes back only after its completion.
                    called.get_future().wait_for(kBound);
                }
                global.FreeConn(poolId, conn);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            allDone.wait_for(lock, kBound, [&] { return finished >= kThreads * kPerThread; }));
    }
    // One more round trip through the loop: a late duplicate would show now.
    std::promise<void> flushed;
    CurlGlobal::RunAtUvThread([&] { flushed.set_value(); });
    ASSERT_EQ(std::future_status::ready, flushed.get_future().wait_for(kBound));
    for (size_t id = 0; id < completions.size(); ++id) {
        ASSERT_EQ(1, completions[id].load()) << "request " << id;
    }
    EXPECT_EQ(0, failures.load());
}
