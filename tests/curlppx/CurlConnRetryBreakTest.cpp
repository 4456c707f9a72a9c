#include "EngineTestSupport.h"
#include "support/LogCapture.h"

using namespace curlppx;
using namespace enginetest;
using testsupport::Reply;

namespace {

constexpr size_t kPool = 2;

class RetryBreakTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = UniquePath();
        m_conn = ConnTo(kPool, Http().BaseUrl() + m_path.substr(1));
        ASSERT_TRUE(m_conn);
    }
    void TearDown() override {
        if (m_conn) {
            CurlGlobal::GetInstance().FreeConn(kPool, m_conn);
        }
    }

    // A body that takes long to arrive, so a transfer is surely running.
    static Reply Slow() {
        Reply reply = Reply::Json(std::string(256 * 1024, 's'));
        reply.fault = Reply::Fault::Trickle;
        reply.trickleChunk = 1024;
        reply.trickleInterval = 20ms;
        return reply;
    }

    void ExpectNextRequestWorks() {
        const std::string next = UniquePath();
        Http().Script(next, {Reply::Json("fine")});
        ASSERT_EQ(CURLE_OK, m_conn->SetURL(Http().BaseUrl() + next.substr(1)));
        auto done = m_conn->HttpGet();
        ASSERT_EQ(CURLE_OK, Await(done));
        EXPECT_EQ("fine", m_conn->GetRespones());
    }

    std::string m_path;
    std::shared_ptr<CurlConn> m_conn;
};

} // namespace

TEST_F(RetryBreakTest, RetryCallbackAnsweringTrueTwiceRunsTheTransferThreeTimes) {
    Http().Script(m_path, {Reply::Json("1"), Reply::Json("2"), Reply::Json("3")});
    std::atomic<int> asked{0};
    m_conn->SetRetryCallback([&](CurlConn*, CURLcode) { return ++asked < 3; });
    Completion completion;
    m_conn->HttpGet(completion.Callback());
    ASSERT_TRUE(completion.WaitFor(1));
    EXPECT_EQ(3, asked.load());
    EXPECT_EQ(2, m_conn->GetRetryCount());
    EXPECT_EQ(3u, RequestsTo(Http(), m_path).size());
    // Only the last attempt's body is kept.
    EXPECT_EQ("3", m_conn->GetRespones());
    ExpectNextRequestWorks();
    EXPECT_EQ(1u, completion.Codes().size());
}

TEST_F(RetryBreakTest, APersistentFailureIsTriedFourTimesAndTheLimitSpansRequests) {
    testsupport::LogCapture trace;
    Reply cut = Reply::Json(std::string(4096, 'c'));
    cut.fault = Reply::Fault::DropMidBody;
    Http().Script(m_path, {cut});
    auto done = m_conn->HttpGet();
    EXPECT_EQ(CURLE_PARTIAL_FILE, Await(done));
    EXPECT_EQ(3, m_conn->GetRetryCount());
    EXPECT_EQ(4u, RequestsTo(Http(), m_path).size());
    const std::string func = "curlppx::CurlConn::InitDefaultRetryCallback::<lambda_1>::operator ()";
    EXPECT_EQ(3u, trace.Count(func, "DoRetryCallback errCode: 18, isNeedRetry: true"));
    EXPECT_EQ(1u, trace.Count(func, "DoRetryCallback errCode: 18, isNeedRetry: false"));
    // Only Clear resets the count: the next request has no retries left.
    auto again = m_conn->HttpGet();
    EXPECT_EQ(CURLE_PARTIAL_FILE, Await(again));
    EXPECT_EQ(5u, RequestsTo(Http(), m_path).size());
    EXPECT_EQ(3, m_conn->GetRetryCount());
}

TEST_F(RetryBreakTest, ExpiredTokenStatusSetsTheFlagAndIsNotRetried) {
    EngineLog log(CURL_LOG_INFO);
    CurlGlobal::SetAtIsExpired(false);
    Http().Script(m_path, {Reply::Status(401)});
    auto done = m_conn->HttpGet();
    EXPECT_EQ(CURLE_OK, Await(done));
    EXPECT_TRUE(CurlGlobal::GetAtIsExpired());
    EXPECT_EQ(0, m_conn->GetRetryCount());
    EXPECT_EQ(1u, RequestsTo(Http(), m_path).size());
    EXPECT_EQ(1u, log.Count("SetAtIsExpired"));
    CurlGlobal::SetAtIsExpired(false);
}

TEST_F(RetryBreakTest, RetrySwitchedOffTriesOnce) {
    m_conn->SetNeedRetry(false);
    m_conn->SetURL("http://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    auto done = m_conn->HttpGet();
    EXPECT_EQ(CURLE_COULDNT_CONNECT, Await(done));
    EXPECT_EQ(0, m_conn->GetRetryCount());
    EXPECT_FALSE(m_conn->CheckNeedRetry(CURLE_COULDNT_CONNECT));
    m_conn->SetNeedRetry(true);
    EXPECT_TRUE(m_conn->CheckNeedRetry(CURLE_COULDNT_CONNECT));
    EXPECT_FALSE(m_conn->CheckNeedRetry(CURLE_ABORTED_BY_CALLBACK));
    EXPECT_FALSE(m_conn->CheckNeedRetry(CURLE_OK));
}

TEST_F(RetryBreakTest, BreakWhileTheStartTaskIsQueuedNeverStartsTheTransfer) {
    Http().Script(m_path, {Reply::Json("never")});
    std::future<CURLcode> done;
    {
        LoopGate gate;
        done = m_conn->HttpGet();
        std::thread breaker([&] { m_conn->Break(); });
        ASSERT_TRUE(gate.WaitQueued(2)); // the start task and the break task
        // A second break while the first is pending returns at once, even
        // though the loop is still held.
        m_conn->Break();
        gate.Release();
        breaker.join();
    }
    EXPECT_EQ(CURLE_ABORTED_BY_CALLBACK, Await(done));
    ExpectNextRequestWorks();
    EXPECT_TRUE(RequestsTo(Http(), m_path).empty());
}

TEST_F(RetryBreakTest, BreakConnAbortsEveryTransferUntilCleared) {
    Http().Script(m_path, {Reply::Json("data")});
    m_conn->BreakConn();
    auto done = m_conn->HttpGet();
    EXPECT_EQ(CURLE_WRITE_ERROR, Await(done));
    EXPECT_EQ(3, m_conn->GetRetryCount());
    CurlGlobal::GetInstance().FreeConn(kPool, m_conn); // clears the switch
    m_conn = CurlGlobal::GetInstance().GetConn(kPool);
    ExpectNextRequestWorks();
}

TEST_F(RetryBreakTest, ConnectionWhosePoolIsGoneCompletesWith99) {
    auto pool = std::make_shared<CurlConnPool>(777);
    auto orphan = pool->GetConn();
    orphan->SetURL(Http().BaseUrl());
    pool.reset();
    auto done = orphan->HttpGet();
    ASSERT_EQ(std::future_status::ready, done.wait_for(0s));
    EXPECT_EQ(99, done.get());
    Completion completion;
    orphan->HttpDelete(completion.Callback());
    ASSERT_TRUE(completion.WaitFor(1));
    EXPECT_EQ(std::vector<CURLcode>{static_cast<CURLcode>(99)}, completion.Codes());
    orphan->Break(); // no pool: returns at once
}

TEST_F(RetryBreakTest, DestroyingAPoolEndsItsRunningTransfersWith99) {
    auto pool = std::make_shared<CurlConnPool>(778);
    auto conn = pool->GetConn();
    conn->SetURL(Http().BaseUrl() + m_path.substr(1));
    Http().Script(m_path, {Slow()});
    std::promise<void> firstBytes;
    auto done = conn->HttpDownload(
        [](char*, size_t size, size_t count, void* user) {
            try {
                static_cast<std::promise<void>*>(user)->set_value();
            } catch (const std::future_error&) {
            }
            return size * count;
        },
        &firstBytes);
    ASSERT_EQ(std::future_status::ready, firstBytes.get_future().wait_for(kBound));
    // The last reference may fall on the loop thread, which holds the pool
    // while it runs one of its callbacks; either way the transfer ends.
    pool.reset();
    EXPECT_EQ(99, Await(done));
    // The loop keeps working for everyone else.
    ExpectNextRequestWorks();
}

namespace {

// Where the owner of a running request acts on its connection: from its
// sink, progress callback, upload source or retry callback (all on the loop
// thread), or from its own thread once the body flows.
enum class Where { Sink, Progress, Source, Retry, Caller };
enum class Action { Break, FreeConn, Drop };

std::string Name(Where where) {
    static const char* const kNames[] = {"Sink", "Progress", "Source", "Retry", "Caller"};
    return kNames[static_cast<int>(where)];
}

std::string Name(Action action) {
    static const char* const kNames[] = {"Break", "FreeConn", "Drop"};
    return kNames[static_cast<int>(action)];
}

class ActionTest : public ::testing::TestWithParam<std::tuple<Where, Action>> {
protected:
    static constexpr size_t kOwnPool = 5;

    void SetUp() override {
        m_path = UniquePath();
        m_conn = ConnTo(kOwnPool, Http().BaseUrl() + m_path.substr(1));
        ASSERT_TRUE(m_conn);
    }

    // Every callback of the request comes here; the first one acts.
    void Called(bool acts) {
        if (m_acted) {
            ++m_callsAfter;
        } else if (acts) {
            Act();
        }
    }

    void Act() {
        m_acting = true;
        auto conn = std::move(m_conn);
        switch (std::get<1>(GetParam())) {
        case Action::Break:
            conn->Break();
            break;
        case Action::FreeConn:
            CurlGlobal::GetInstance().FreeConn(kOwnPool, conn);
            break;
        case Action::Drop:
            break;
        }
        conn.reset(); // the last reference, for Drop
        m_acted = true;
    }

    std::future<CURLcode> Start() {
        const Where where = std::get<0>(GetParam());
        CurlConn& conn = *m_conn;
        if (where == Where::Source) {
            Http().Script(m_path, {Reply::Json("stored")});
            return conn.HttpUpload(
                64 * 1024 * 1024,
                [this](char* buffer, size_t size, char*, void*) {
                    Called(true);
                    std::fill(buffer, buffer + size, 'u');
                    return size;
                },
                nullptr);
        }
        Reply big = Reply::Json(std::string(4 * 1024 * 1024, 'd'));
        if (where == Where::Retry) {
            big.fault = Reply::Fault::DropMidBody;
            conn.SetRetryCallback([this](CurlConn*, CURLcode) {
                Called(true);
                return true;
            });
        } else if (where == Where::Caller) {
            big.fault = Reply::Fault::Trickle;
            big.trickleChunk = 16 * 1024;
            big.trickleInterval = 20ms;
        }
        Http().Script(m_path, {big});
        if (where == Where::Progress) {
            conn.ProgressEnable(true);
            conn.SetProgressCB([this](double, double, int64_t, int64_t) { Called(true); });
        }
        return conn.HttpDownload(
            [this, where](char*, size_t size, size_t count, void*) {
                Called(where == Where::Sink);
                if (where == Where::Caller) {
                    std::call_once(m_flowing, [this] { m_bodyFlows.set_value(); });
                }
                return size * count;
            },
            nullptr);
    }

    std::string m_path;
    std::shared_ptr<CurlConn> m_conn;
    std::atomic<bool> m_acting{false};
    std::atomic<bool> m_acted{false};
    std::atomic<int> m_callsAfter{0};
    std::once_flag m_flowing;
    std::promise<void> m_bodyFlows;
};

} // namespace

TEST_P(ActionTest, RequestEndsOnceWith42AndThePoolKeepsWorking) {
    auto done = Start();
    if (std::get<0>(GetParam()) == Where::Caller) {
        ASSERT_EQ(std::future_status::ready, m_bodyFlows.get_future().wait_for(kBound));
        Act();
        // From another thread, the action returns once the request has ended.
        ASSERT_EQ(std::future_status::ready, done.wait_for(0s));
    }
    EXPECT_EQ(CurlConn::kBroken, Await(done));
    EXPECT_TRUE(m_acting.load());

    // The pool hands the connection out again (FreeConn) or a new one, and
    // both the loop and the pool work on.
    const std::string next = UniquePath();
    Http().Script(next, {Reply::Json("after")});
    auto conn = ConnTo(kOwnPool, Http().BaseUrl() + next.substr(1));
    auto again = conn->HttpGet();
    EXPECT_EQ(CURLE_OK, Await(again));
    EXPECT_EQ("after", conn->GetRespones());
    CurlGlobal::GetInstance().FreeConn(kOwnPool, conn);

    // Nothing of the ended request ran after the action, and a retry
    // callback that ended it did not start it again.
    EXPECT_EQ(0, m_callsAfter.load());
    EXPECT_LE(RequestsTo(Http(), m_path).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Actions, ActionTest,
    ::testing::Combine(::testing::Values(Where::Sink, Where::Progress, Where::Source, Where::Retry,
                                         Where::Caller),
                       ::testing::Values(Action::Break, Action::FreeConn, Action::Drop)),
    [](const auto& info) { return Name(std::get<0>(info.param)) + Name(std::get<1>(info.param)); });

TEST_F(RetryBreakTest, BreakRacingTheNextRequestEndsItOnceOrNotAtAll) {
    constexpr int kRounds = 200;
    Http().Script(m_path, {Reply::Json("r")});
    for (int round = 0; round < kRounds; ++round) {
        Completion completion;
        std::promise<void> go;
        auto start = go.get_future().share();
        std::thread breaker([&] {
            start.wait();
            m_conn->Break();
        });
        go.set_value();
        m_conn->HttpGet(completion.Callback());
        breaker.join();
        ASSERT_TRUE(completion.WaitFor(1)) << "round " << round;
        // A request that was started twice fails here: its handle is busy.
        auto next = m_conn->HttpGet();
        ASSERT_EQ(CURLE_OK, Await(next)) << "round " << round;
        const auto codes = completion.Codes();
        ASSERT_EQ(1u, codes.size()) << "round " << round;
        ASSERT_TRUE(codes[0] == CURLE_OK || codes[0] == CURLE_ABORTED_BY_CALLBACK);
    }
}
