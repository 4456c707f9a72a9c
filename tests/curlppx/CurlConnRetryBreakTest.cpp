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

    // Starts a download of Slow() and returns once its first bytes arrived.
    std::future<CURLcode> StartSlowDownload(std::promise<void>& firstBytes) {
        Http().Script(m_path, {Slow()});
        return m_conn->HttpDownload(
            [](char*, size_t size, size_t count, void* user) {
                auto* signal = static_cast<std::promise<void>*>(user);
                if (signal != nullptr) {
                    try {
                        signal->set_value();
                    } catch (const std::future_error&) {
                    }
                }
                return size * count;
            },
            &firstBytes);
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

TEST_F(RetryBreakTest, BodyCutMidwayIsRetriedAndDeliveredOnce) {
    Reply cut = Reply::Json(std::string(4096, 'c'));
    cut.fault = Reply::Fault::DropMidBody;
    Http().Script(m_path, {cut, Reply::Json(std::string(4096, 'c'))});
    auto done = m_conn->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ(1, m_conn->GetRetryCount());
    EXPECT_EQ(std::string(4096, 'c'), m_conn->GetRespones());
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

TEST_F(RetryBreakTest, BreakOnARunningDownloadCompletesWith42AndDoesNotLeak) {
    std::promise<void> firstBytes;
    auto done = StartSlowDownload(firstBytes);
    ASSERT_EQ(std::future_status::ready, firstBytes.get_future().wait_for(kBound));
    m_conn->Break();
    // Break returns after the loop thread ended the transfer.
    ASSERT_EQ(std::future_status::ready, done.wait_for(0s));
    EXPECT_EQ(CURLE_ABORTED_BY_CALLBACK, done.get());
    EXPECT_EQ(0, m_conn->GetRetryCount());
    ExpectNextRequestWorks();
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

TEST_F(RetryBreakTest, BreakWithNothingRunningCompletesNothing) {
    Completion completion;
    Http().Script(m_path, {Reply::Json("x")});
    m_conn->HttpGet(completion.Callback());
    ASSERT_TRUE(completion.WaitFor(1));
    m_conn->Break();
    ExpectNextRequestWorks();
    EXPECT_EQ(std::vector<CURLcode>{CURLE_OK}, completion.Codes());
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

TEST_F(RetryBreakTest, FreeingAConnectionMidTransferEndsItFirst) {
    std::promise<void> firstBytes;
    auto done = StartSlowDownload(firstBytes);
    ASSERT_EQ(std::future_status::ready, firstBytes.get_future().wait_for(kBound));
    CurlGlobal::GetInstance().FreeConn(kPool, m_conn);
    EXPECT_EQ(CURLE_ABORTED_BY_CALLBACK, Await(done));
    m_conn.reset();
}
