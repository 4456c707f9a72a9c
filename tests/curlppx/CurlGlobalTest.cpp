#include "EngineTestSupport.h"
#include "curlppx/detail/Network.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace curlppx;
using namespace enginetest;

TEST(CurlGlobal, UrlErrorNamesCoverTheTableAndNothingBeyond) {
    EXPECT_EQ("CURLUE_OK", CurlGlobal::GetErrStr(CURLUE_OK));
    EXPECT_EQ("CURLUE_NO_FRAGMENT", CurlGlobal::GetErrStr(static_cast<CURLUcode>(17)));
    EXPECT_EQ("CURLUE_UNKNOWN", CurlGlobal::GetErrStr(static_cast<CURLUcode>(18)));
    EXPECT_EQ("CURLUE_UNKNOWN", CurlGlobal::GetErrStr(static_cast<CURLUcode>(-1)));
}

TEST(CurlGlobal, StartsOnceWithALoopAndReportsItsInitialisation) {
    auto& global = CurlGlobal::GetInstance();
    EXPECT_TRUE(global.HasInit(nullptr));
    const char* text = nullptr;
    EXPECT_TRUE(global.HasInit(&text));
    EXPECT_STREQ(curl_easy_strerror(CURLE_OK), text);
    EXPECT_TRUE(global.HasProtocol("http"));
    EXPECT_FALSE(global.HasProtocol("HTTP"));
    EXPECT_TRUE(global.CheckFeatures(CURL_VERSION_SSL));
    EXPECT_EQ(23u, CurlGlobal::GetStandByDns().size());
    EXPECT_TRUE(CurlGlobal::GetQxClientMode().empty());
}

TEST(CurlGlobal, OnePoolPerIdEvenWhenThreadsRaceForANewId) {
    auto& global = CurlGlobal::GetInstance();
    constexpr int kThreads = 8;
    std::vector<std::shared_ptr<CurlConnPool>> seen(kThreads);
    std::promise<void> go;
    auto start = go.get_future().share();
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            start.wait();
            seen[i] = global.GetPool(4242);
        });
    }
    go.set_value();
    for (auto& t : threads) {
        t.join();
    }
    for (const auto& pool : seen) {
        ASSERT_TRUE(pool);
        EXPECT_EQ(seen[0].get(), pool.get());
    }
    EXPECT_NE(seen[0].get(), global.GetPool(4243).get());
}

TEST(CurlGlobal, TasksRunOnTheLoopThreadInQueueOrder) {
    constexpr int kTasks = 200;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::promise<void> done;
    for (int i = 0; i < kTasks; ++i) {
        CurlGlobal::RunAtUvThread([&, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
            if (i == kTasks - 1) {
                done.set_value();
            }
        });
    }
    ASSERT_EQ(std::future_status::ready, done.get_future().wait_for(kBound));
    ASSERT_EQ(static_cast<size_t>(kTasks), order.size());
    for (int i = 0; i < kTasks; ++i) {
        EXPECT_EQ(i, order[i]);
        EXPECT_EQ(threads[0], threads[i]);
    }
    EXPECT_NE(std::this_thread::get_id(), threads[0]);
    EXPECT_FALSE(CurlGlobal::IsLoopThread());
}

TEST(CurlGlobal, TaskQueuedFromATaskRunsInTheSameDrainOrLater) {
    std::promise<bool> inner;
    CurlGlobal::RunAtUvThread(
        [&] { CurlGlobal::RunAtUvThread([&] { inner.set_value(CurlGlobal::IsLoopThread()); }); });
    auto result = inner.get_future();
    ASSERT_EQ(std::future_status::ready, result.wait_for(kBound));
    EXPECT_TRUE(result.get());
}

TEST(CurlGlobal, LogHookSeesOnlyLevelsUpToTheSetLevel) {
    {
        EngineLog log(CURL_LOG_NONE);
        CurlUrl url;
        url.GetQuery(); // a level 2 failure
        EXPECT_TRUE(log.Lines().empty());
    }
    EngineLog log(CURL_LOG_ERROR);
    CurlUrl("http://h/").GetQuery();
    ASSERT_EQ(1u, log.Count("CURLUE_NO_QUERY"));
    EXPECT_EQ(CURL_LOG_ERROR, log.Lines()[0].level);
    EXPECT_EQ("curlppx::CurlUrl::GetUrlPart", log.Lines()[0].func);
    EXPECT_EQ(static_cast<size_t>(-1), log.Lines()[0].poolId);
}

// The request context writes these on its thread while connections read
// them on the loop thread; ThreadSanitizer checks every pair here.
TEST(CurlGlobal, SettingsMayBeWrittenWhileAnotherThreadReadsThem) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) {
            CurlGlobal::SetStandByDnsFlag(i % 2 == 0);
            CurlGlobal::m_isAtExpire = i % 2 == 1;
            CurlGlobal::SetTimeoutConnect(1000 + i % 7);
            CurlGlobal::SetLimitLowSpeed(30 + i % 3);
            CurlGlobal::m_timeoutLowSpeed = 10 + i % 5;
            CurlGlobal::SetCurrentAt(i % 2 == 0 ? L"token-a" : L"token-b");
            CurlGlobal::m_sysUUid = L"uuid";
        }
    });
    int flags = 0;
    for (int i = 0; i < 2000; ++i) {
        flags += static_cast<int>(CurlGlobal::m_dnsFlag) + CurlGlobal::GetAtIsExpired();
        EXPECT_GE(CurlGlobal::GetTimeoutConnect(), 1000);
        EXPECT_GE(CurlGlobal::GetLimitLowSpeed() + CurlGlobal::GetTimeoutLowSpeed(), 40);
        const std::wstring at = CurlGlobal::GetCurrentAt();
        EXPECT_TRUE(at.empty() || at == L"token-a" || at == L"token-b");
        EXPECT_LE(CurlGlobal::GetSystemUUid().size(), 4u);
    }
    EXPECT_LE(flags, 4000);
    stop = true;
    writer.join();
    CurlGlobal::SetStandByDnsFlag(false);
    CurlGlobal::SetAtIsExpired(false);
    CurlGlobal::SetTimeoutConnect(30000);
    CurlGlobal::SetLimitLowSpeed(30);
    CurlGlobal::SetTimeoutLowSpeed(10);
    CurlGlobal::SetCurrentAt(L"");
    CurlGlobal::SetSystemUUid(L"");
}

class NetworkKindTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_root = std::filesystem::temp_directory_path() /
                 ("netkind-" + std::to_string(::getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_root);
    }
    void TearDown() override { std::filesystem::remove_all(m_root); }

    void Interface(const std::string& name, const std::string& state, const std::string& type,
                   bool wireless) {
        const auto dir = m_root / name;
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "operstate") << state << "\n";
        std::ofstream(dir / "type") << type << "\n";
        if (wireless) {
            std::filesystem::create_directories(dir / "wireless");
        }
    }

    std::wstring Kind(const std::vector<std::string>& names) {
        return detail::NetworkKind(names, m_root.string());
    }

    std::filesystem::path m_root;
};

TEST_F(NetworkKindTest, FirstUpAdapterDecidesBetweenWireAndWifi) {
    Interface("lo", "unknown", "772", false);
    Interface("eth0", "up", "1", false);
    Interface("wlan0", "up", "1", true);
    EXPECT_EQ(L"wire", Kind({"lo", "eth0", "wlan0"}));
    EXPECT_EQ(L"Wifi", Kind({"lo", "wlan0", "eth0"}));
}

TEST_F(NetworkKindTest, DownAndOtherAdaptersGiveNothing) {
    Interface("lo", "unknown", "772", false);
    Interface("eth0", "down", "1", false);
    Interface("wlan0", "dormant", "1", true);
    Interface("tun0", "up", "65534", false);
    EXPECT_EQ(L"", Kind({"lo", "eth0", "wlan0", "tun0", "missing0"}));
}

TEST(CurlGlobal, NetworkOfThisHostIsOneOfTheThreeAnswers) {
    const auto kind = CurlGlobal::GetNetwork();
    EXPECT_TRUE(kind.empty() || kind == L"wire" || kind == L"Wifi");
}

// Process exit with the engine in use: each case runs in a child process
// of its own, started afresh, and must end with the code it chose.
class EngineExitDeathTest : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

    // Blocks the calling thread until the process ends under it.
    [[noreturn]] static void AwaitExit() {
        std::promise<void> never;
        never.get_future().wait_for(kBound);
        std::_Exit(9);
    }
};

TEST_F(EngineExitDeathTest, ExitFromACompletionCallback) {
    EXPECT_EXIT(
        {
            auto conn = ConnTo(70, Http().BaseUrl());
            conn->HttpGet([](CURLcode) { std::exit(0); });
            AwaitExit();
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(EngineExitDeathTest, ExitFromALoopTask) {
    EXPECT_EXIT(
        {
            CurlGlobal::RunAtUvThread([] { std::exit(0); });
            AwaitExit();
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(EngineExitDeathTest, PoolAndConnectionInAStaticThatOutlivesTheEngine) {
    EXPECT_EXIT(
        {
            // Made before the engine, so destroyed after it.
            static struct Holder {
                std::shared_ptr<CurlConnPool> pool;
                std::shared_ptr<CurlConn> conn;
            } holder;
            holder.pool = CurlGlobal::GetInstance().GetPool(71);
            holder.conn = holder.pool->GetConn();
            holder.conn->SetURL(Http().BaseUrl());
            auto done = holder.conn->HttpGet();
            done.wait_for(kBound);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(EngineExitDeathTest, TasksHandedOverWhileTheLoopStopsRunOneAtATime) {
    EXPECT_EXIT(
        {
            static std::atomic<bool> inside{false};
            static std::atomic<bool> spinning{true};
            static std::vector<std::thread> spinners;
            // Registered before the engine starts, so run after it has
            // stopped: the threads hand tasks over all through its stop.
            std::atexit([] {
                spinning = false;
                for (auto& spinner : spinners) {
                    spinner.join();
                }
            });
            const auto task = [] {
                if (inside.exchange(true)) {
                    std::_Exit(3); // two threads ran loop tasks at once
                }
                std::this_thread::yield(); // widen the window another thread could use
                inside = false;
            };
            for (int t = 0; t < 2; ++t) {
                spinners.emplace_back([task] {
                    while (spinning) {
                        // One task in flight each keeps the queue short.
                        auto ran = std::make_shared<std::promise<void>>();
                        CurlGlobal::RunAtUvThread([task, ran] {
                            task();
                            ran->set_value();
                        });
                        ran->get_future().wait_for(kBound);
                    }
                });
            }
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}
