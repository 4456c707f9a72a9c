#include "EngineTestSupport.h"
#include "curlppx/CurlShare.h"
#include "curlppx/detail/UrlCoding.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <semaphore>

using namespace curlppx;
using namespace enginetest;
using testsupport::Reply;

namespace {

constexpr size_t kPool = 3;

std::string TestCa() {
    return testsupport::TestCertPath("ca.pem");
}

// Runs task on the loop thread and returns once it has run.
void OnLoop(const std::function<void()>& task) {
    auto done = std::make_shared<std::promise<void>>();
    auto ran = done->get_future();
    CurlGlobal::RunAtUvThread([&task, done] {
        task();
        done->set_value();
    });
    ASSERT_EQ(std::future_status::ready, ran.wait_for(kBound));
}

// Every epoll set of the process as the kernel sees it (the loop's is the
// only one that watches the tests' sockets): by descriptor, the inode of the
// socket it named when it was registered. Read after a task ran on the loop,
// so that libuv has made every change asked for before.
std::map<int, unsigned long> Registered() {
    OnLoop([] {});
    std::map<int, unsigned long> registered;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) != "anon_inode:[eventpoll]") {
            continue;
        }
        std::ifstream info("/proc/self/fdinfo/" + entry.path().filename().string());
        for (std::string line; std::getline(info, line);) {
            int fd = -1;
            unsigned long inode = 0;
            if (std::sscanf(line.c_str(), "tfd: %d events: %*x data: %*x pos:%*d ino:%lx", &fd,
                            &inode) == 2) {
                registered[fd] = inode;
            }
        }
    }
    return registered;
}

unsigned long InodeOf(int fd) {
    struct stat named {};
    fstat(fd, &named);
    return named.st_ino;
}

// libcurl's side of a socket's life, played on the loop thread with a
// socket pair whose first end stands for the connection.
class SocketWatchTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, m_pair)); }
    void TearDown() override {
        m_pool.reset(); // closes every poll of the pool, parked ones too
        ::close(m_pair[0]);
        ::close(m_pair[1]);
    }

    // libcurl's call for a socket it has a record for.
    void Socket(int what, CurlContext* ctx) {
        OnLoop([&] { CurlConnPool::SocketCallback(nullptr, m_pair[0], what, m_pool.get(), ctx); });
    }
    // A socket watched for reading, and its record.
    CurlContext* Watched() {
        CurlContext* ctx = nullptr;
        OnLoop([&] { ctx = CurlGlobal::GetInstance().CreateCurlContext(m_pair[0], m_pool.get()); });
        Socket(CURL_POLL_IN, ctx);
        return ctx;
    }

    std::shared_ptr<CurlConnPool> m_pool = std::make_shared<CurlConnPool>(37);
    int m_pair[2] = {-1, -1};
};

} // namespace

TEST(CurlConnPool, FreedConnectionComesBackClearedAndIsQueuedOnce) {
    auto pool = CurlGlobal::GetInstance().GetPool(kPool);
    auto conn = pool->GetConn();
    CurlConn* first = conn.get();
    conn->SetURL("http://127.0.0.1:1/x");
    conn->SetHeader("X-Old", "1");
    conn->SetNeedRetry(false);
    pool->FreeConn(conn);
    EXPECT_TRUE(conn->IsRecycled());
    pool->FreeConn(conn);
    conn.reset();

    auto again = pool->GetConn();
    EXPECT_EQ(first, again.get());
    EXPECT_FALSE(again->IsRecycled());
    EXPECT_EQ(0u, again->GetHeader().GetSize());
    EXPECT_TRUE(again->CheckNeedRetry(CURLE_COULDNT_CONNECT));
    EXPECT_EQ(kPool, again->GetPoolId());
    auto other = pool->GetConn();
    EXPECT_NE(first, other.get()); // the double free queued it only once
}

TEST(CurlConnPool, TwoThreadsFreeingOneConnectionQueueItOnce) {
    auto pool = std::make_shared<CurlConnPool>(34);
    for (int round = 0; round < 300; ++round) {
        auto conn = pool->GetConn();
        // Spun, not waited for: a wake-up takes longer than the race window.
        std::atomic<bool> ready{false};
        std::atomic<bool> go{false};
        std::thread other([&] {
            ready = true;
            while (!go) {
            }
            pool->FreeConn(conn);
        });
        while (!ready) {
        }
        go = true;
        pool->FreeConn(conn);
        other.join();
        auto first = pool->GetConn();
        auto second = pool->GetConn();
        ASSERT_NE(first.get(), second.get()) << "round " << round;
        pool->FreeConn(first);
        pool->FreeConn(second);
    }
}

TEST(CurlConnPool, InitHookAndSharedSettingsReachEveryConnectionHandedOut) {
    auto pool = std::make_shared<CurlConnPool>(31);
    std::atomic<int> hooked{0};
    pool->SetConnInitFunc([&](std::shared_ptr<CurlConn>) { ++hooked; });
    pool->GetShare()->ShareUserAgent("engine-test/1");
    pool->GetShare()->ShareHeader(CurlHeader(CurlConn::Fields{{"X-Shared", "yes"}}));
    const std::string path = UniquePath();
    Http().Script(path, {Reply::Json("{}")});
    auto conn = pool->GetConn();
    conn->SetURL(Http().BaseUrl() + path.substr(1));
    auto done = conn->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(done));
    const auto seen = RequestsTo(Http(), path);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("engine-test/1", seen[0].Header("User-Agent"));
    EXPECT_EQ("yes", seen[0].Header("X-Shared"));
    EXPECT_EQ(1, hooked.load());
    pool->FreeConn(conn);
}

// CURL_POLL_REMOVE leaves a socket's poll registered for the connection
// libcurl keeps; taken up again for that socket it stays registered.
TEST_F(SocketWatchTest, AParkedPollServesItsOwnSocketAgain) {
    Socket(CURL_POLL_REMOVE, Watched());
    Socket(CURL_POLL_IN, nullptr);
    EXPECT_EQ(InodeOf(m_pair[0]), Registered()[m_pair[0]]);
}

// libcurl closed the socket after its CURL_POLL_REMOVE and the descriptor now
// names another one: the kernel dropped the old registration with the old
// socket, so the new one is registered afresh or never heard.
TEST_F(SocketWatchTest, AParkedPollNeverServesAnotherSocketOnItsDescriptor) {
    Socket(CURL_POLL_REMOVE, Watched());
    int other[2] = {-1, -1};
    ASSERT_EQ(0, ::socketpair(AF_UNIX, SOCK_STREAM, 0, other));
    ASSERT_EQ(m_pair[0], ::dup2(other[0], m_pair[0])); // closes the first socket
    ::close(other[0]);
    ::close(m_pair[1]);
    m_pair[1] = other[1];
    Socket(CURL_POLL_IN, nullptr);
    EXPECT_EQ(InodeOf(m_pair[0]), Registered()[m_pair[0]]);
}

// The peer of a kept connection speaks (or closes) while no transfer
// listens: the poll stops, or the loop would hear it again on every turn.
TEST_F(SocketWatchTest, AParkedPollWhosePeerSpeaksFallsQuiet) {
    Socket(CURL_POLL_REMOVE, Watched());
    ASSERT_EQ(1, ::send(m_pair[1], "x", 1, MSG_NOSIGNAL));
    // The readable socket was reported with the wake of this task at the
    // latest, so the next one runs after its callback.
    OnLoop([] {});
    EXPECT_EQ(0u, Registered().count(m_pair[0]));
}

// A server that closes each connection once it has answered, without saying
// so in the reply: the kept connection is found dead, and the next one,
// likely on the same descriptor, is heard. Each request waits until the
// server's close has gone out; sent any earlier, it could race the close
// onto the dying connection, which no client can tell from a live one.
TEST(CurlConnPool, EachRequestAfterThePeerClosedTheKeptConnectionIsHeard) {
    std::counting_semaphore<> closed(0);
    RawListener server([&closed](int fd, RawListener&) {
        if (ReadRequestHead(fd)) {
            const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}";
            ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
        ::shutdown(fd, SHUT_RDWR);
        closed.release();
    });
    auto pool = std::make_shared<CurlConnPool>(36);
    auto conn = pool->GetConn();
    conn->SetURL(server.BaseUrl() + "kept");
    conn->SetNeedRetry(false);
    for (int request = 0; request < 3; ++request) {
        auto done = conn->HttpGet();
        ASSERT_EQ(CURLE_OK, Await(done)) << "request " << request;
        EXPECT_EQ("{}", conn->GetRespones());
        ASSERT_TRUE(closed.try_acquire_for(30s)) << "request " << request;
    }
    pool->FreeConn(conn);
}

TEST(CurlConnPool, PoolsRunTransfersSideBySide) {
    const std::string path = UniquePath();
    Reply slow = Reply::Json("late");
    slow.delay = 300ms;
    Http().Script(path, {slow});
    std::vector<std::shared_ptr<CurlConn>> conns;
    std::vector<std::future<CURLcode>> results;
    for (size_t id = 40; id < 44; ++id) {
        conns.push_back(ConnTo(id, Http().BaseUrl() + path.substr(1)));
        results.push_back(conns.back()->HttpGet());
    }
    for (auto& result : results) {
        EXPECT_EQ(CURLE_OK, Await(result));
    }
    for (auto& conn : conns) {
        EXPECT_EQ("late", conn->GetRespones());
    }
}

class TlsTest : public ::testing::Test {
protected:
    std::shared_ptr<CurlConn> Verified(const std::string& url) {
        auto conn = ConnTo(kPool, url);
        EXPECT_EQ(CURLE_OK, conn->SetCA(std::filesystem::path(TestCa()).wstring()));
        EXPECT_EQ(CURLE_OK, conn->SetSSLVerify("PEM"));
        return conn;
    }
};

TEST_F(TlsTest, VerificationAcceptsTheRightCaAndRejectsAnother) {
    const std::string path = UniquePath();
    Https().Script(path, {Reply::Json("secure")});
    auto good = Verified(Https().BaseUrl() + path.substr(1));
    auto ok = good->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(ok));
    EXPECT_EQ("secure", good->GetRespones());

    testsupport::TestServer stranger(testsupport::TestServer::Mode::HttpsOtherCa);
    auto bad = Verified(stranger.BaseUrl());
    bad->SetNeedRetry(false);
    auto refused = bad->HttpGet();
    EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, Await(refused));
    EXPECT_EQ(0u, stranger.RequestCount());
}

TEST_F(TlsTest, ConnectionsVerifyOnlyWhenAskedToOrWhenTheShareSaysSo) {
    testsupport::TestServer stranger(testsupport::TestServer::Mode::HttpsOtherCa);
    stranger.SetDefault(Reply::Json("unchecked"));
    auto plain = ConnTo(kPool, stranger.BaseUrl());
    auto done = plain->HttpGet();
    EXPECT_EQ(CURLE_OK, Await(done)); // the engine's default is no verification

    auto pool = std::make_shared<CurlConnPool>(32);
    ASSERT_EQ(CURLSHE_OK, pool->GetShare()->ShareCA(std::filesystem::path(TestCa()).wstring()));
    pool->GetShare()->ShareSSLVerify("PEM");
    auto shared = pool->GetConn();
    shared->SetNeedRetry(false);
    shared->SetURL(stranger.BaseUrl());
    auto checked = shared->HttpGet();
    EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, Await(checked));

    shared->ClearShare(); // verification off again, no CA
    auto unchecked = shared->HttpGet();
    EXPECT_EQ(CURLE_OK, Await(unchecked));
}

TEST_F(TlsTest, ContextHookDecidesEachHandshakeUntilRemovedOrCleared) {
    // A pool of its own: no connection of another test can spare a handshake.
    auto pool = std::make_shared<CurlConnPool>(33);
    const std::string path = UniquePath();
    Https().Script(path, {Reply::Json("hooked")});
    auto conn = pool->GetConn();
    conn->SetURL(Https().BaseUrl() + path.substr(1));
    conn->SetCA(std::filesystem::path(TestCa()).wstring());
    conn->SetSSLVerify("PEM");
    conn->SetNeedRetry(false);
    std::atomic<int> calls{0};
    std::atomic<CURLcode> answer{CURLE_SSL_PINNEDPUBKEYNOTMATCH};
    conn->SetSslCtxFunction([&](CURL* easy, void* sslCtx) {
        calls += easy != nullptr && sslCtx != nullptr ? 1 : 100;
        return answer.load();
    });
    for (int attempt = 1; attempt <= 2; ++attempt) { // the hook stays across requests
        auto refused = conn->HttpGet();
        EXPECT_EQ(CURLE_SSL_PINNEDPUBKEYNOTMATCH, Await(refused));
        EXPECT_EQ(attempt, calls.load());
    }
    EXPECT_TRUE(RequestsTo(Https(), path).empty());

    conn->SetSslCtxFunction(nullptr);
    auto unhooked = conn->HttpGet();
    EXPECT_EQ(CURLE_OK, Await(unhooked));
    EXPECT_EQ("hooked", conn->GetRespones());
    EXPECT_EQ(2, calls.load());

    // Passing the hook does not pass an unknown certificate.
    testsupport::TestServer stranger(testsupport::TestServer::Mode::HttpsOtherCa);
    answer = CURLE_OK;
    conn->SetSslCtxFunction([&](CURL*, void*) {
        ++calls;
        return answer.load();
    });
    conn->SetURL(stranger.BaseUrl());
    auto unknown = conn->HttpGet();
    EXPECT_EQ(CURLE_PEER_FAILED_VERIFICATION, Await(unknown));
    EXPECT_EQ(3, calls.load());

    pool->FreeConn(conn); // Clear drops the hook
    conn = pool->GetConn();
    conn->SetURL(stranger.BaseUrl());
    auto cleared = conn->HttpGet();
    EXPECT_EQ(CURLE_OK, Await(cleared));
    EXPECT_EQ(3, calls.load());
    pool->FreeConn(conn);
}

TEST(CurlConnConfig, MethodTextsAndUnknownMethods) {
    EXPECT_EQ("get", CurlConn::GetMethodStr(static_cast<CurlReqMethod>(9)));
    EXPECT_EQ("patch", CurlConn::GetMethodStr(CURL_REQ_PATCH));
    CurlConn conn;
    EXPECT_EQ(CURLE_UNKNOWN_OPTION, conn.SetMethod(static_cast<CurlReqMethod>(8)));
    EXPECT_EQ(CURLE_OK, conn.SetMethod(CURL_REQ_OPTIONS));
}

TEST(CurlConnConfig, UrlsAreParsedWithAGuessedScheme) {
    CurlConn conn;
    EXPECT_EQ(CURLE_OK, conn.SetURL("example.test/a"));
    EXPECT_EQ("http://example.test/a", conn.GetURL());
    EXPECT_EQ(CURLE_URL_MALFORMAT, conn.SetURL("http://[::1"));
    EXPECT_EQ("http://example.test/a", conn.GetURL());
}

TEST(CurlConnConfig, CaOfTheWrongKindIsRefusedWith99) {
    CurlConn conn;
    const auto file = std::filesystem::path(TestCa());
    EXPECT_EQ(99, conn.SetCA(file.parent_path().wstring()));
    EXPECT_EQ(99, conn.SetCAs(file.wstring()));
    EXPECT_EQ(99, conn.SetCA(L"/nonexistent/ca.pem"));
    EXPECT_EQ(CURLE_OK, conn.SetCA(file.wstring()));
    EXPECT_EQ(CURLE_OK, conn.SetCAs(file.parent_path().wstring()));
    EXPECT_EQ(CURLE_OK, conn.ClearCA());
    EXPECT_EQ(99, conn.SetShare(nullptr));
}

TEST(CurlConnConfig, UrlCodingFallsBackToTheInput) {
    CurlConn conn;
    EXPECT_EQ("", conn.UrlEncode(""));
    EXPECT_EQ("a%20b%2Fc", conn.UrlEncode("a b/c"));
    EXPECT_EQ("a b/c", conn.UrlUncode("a%20b%2Fc"));
    EXPECT_EQ("x", conn.UrlUncode("x%00y"));
    EXPECT_EQ("a%20b", CurlGlobal::UrlEncode("a b"));
    EXPECT_EQ("a b", CurlGlobal::UrlUncode("a%20b"));
}

// Texts of 2 GiB and more are coded in pieces; small pieces show the seams.
TEST(CurlConnConfig, UrlCodingInPiecesNeverSplitsAnEscape) {
    CURL* easy = curl_easy_init();
    EXPECT_EQ("a%20b%2Fc%20", detail::Escape(easy, "a b/c ", 2));
    for (size_t chunk : {3, 4, 5, 7}) {
        EXPECT_EQ("ab cd/ef%", detail::Unescape(easy, "ab%20cd%2Fef%25", chunk)) << chunk;
        EXPECT_EQ("x", detail::Unescape(easy, "x%00y%20", chunk)) << chunk;
    }
    curl_easy_cleanup(easy);
}

namespace {

struct FieldPacker : CurlConn {
    using CurlConn::PackageFields;
};

class WireTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = UniquePath();
        // Long enough for every range the tests ask for: the test server does
        // not bound a range that starts past the body.
        Http().Script(m_path, {Reply::Json("{}" + std::string(1022, ' '))});
        m_conn = ConnTo(kPool, Http().BaseUrl() + m_path.substr(1));
    }
    void TearDown() override { CurlGlobal::GetInstance().FreeConn(kPool, m_conn); }

    testsupport::RecordedRequest Send() {
        auto done = m_conn->HttpGet();
        EXPECT_EQ(CURLE_OK, Await(done));
        auto seen = RequestsTo(Http(), m_path);
        Http().ClearRequests();
        return seen.empty() ? testsupport::RecordedRequest{} : seen.back();
    }

    std::string m_path;
    std::shared_ptr<CurlConn> m_conn;
};

} // namespace

TEST(CurlConnConfig, FieldsArePackedInKeyOrder) {
    FieldPacker packer;
    EXPECT_EQ("a=x%20y&b=2", packer.PackageFields({{"b", "2"}, {"a", "x y"}}, true));
    EXPECT_EQ("a=x y&b=2", packer.PackageFields({{"b", "2"}, {"a", "x y"}}, false));
    EXPECT_EQ("", packer.PackageFields({}, true));
}

TEST_F(WireTest, HeaderObjectReplacesSingleFields) {
    m_conn->SetHeader("X-First", "1");
    EXPECT_EQ("1", Send().Header("X-First"));
    CurlHeader header(CurlConn::Fields{{"X-Second", "2"}});
    m_conn->SetHeader(header);
    const auto seen = Send();
    EXPECT_FALSE(seen.HasHeader("X-First"));
    EXPECT_EQ("2", seen.Header("X-Second"));
    m_conn->ClearHeader();
    EXPECT_FALSE(Send().HasHeader("X-Second"));
}

TEST_F(WireTest, RangesUserAgentAndBearerReachTheServer) {
    m_conn->SetRange(0, 499);
    EXPECT_EQ("bytes=0-499", Send().Header("Range"));
    m_conn->SetRange(500, 500);
    EXPECT_EQ("bytes=500-", Send().Header("Range"));
    m_conn->ClearRange();
    m_conn->SetUserAgent("agent/2");
    m_conn->OauthByBearer("tkn");
    auto seen = Send();
    EXPECT_FALSE(seen.HasHeader("Range"));
    EXPECT_EQ("agent/2", seen.Header("User-Agent"));
    EXPECT_EQ("Bearer tkn", seen.Header("Authorization"));
    m_conn->OauthClear();
    m_conn->ClearUserAgent();
    seen = Send();
    EXPECT_FALSE(seen.HasHeader("Authorization"));
    EXPECT_FALSE(seen.HasHeader("User-Agent"));
}

TEST_F(WireTest, AGetAfterOtherMethodsIsAPlainGet) {
    auto deleted = m_conn->HttpDelete();
    ASSERT_EQ(CURLE_OK, Await(deleted));
    auto patched = m_conn->HttpPatch(std::string("{}"));
    ASSERT_EQ(CURLE_OK, Await(patched));
    auto head = m_conn->HttpHead();
    ASSERT_EQ(CURLE_OK, Await(head));
    Http().ClearRequests();
    const auto seen = Send();
    EXPECT_EQ("GET", seen.method);
    EXPECT_EQ("", seen.body);
    EXPECT_EQ(1024u, m_conn->GetRespones().size());
}

TEST_F(WireTest, ACopyRunsItsOwnRequestsAndLeavesTheSourceIntact) {
    m_conn->SetHeader("X-Copied", "yes");
    {
        CurlConn copy(*m_conn);
        auto done = copy.HttpGet();
        ASSERT_EQ(CURLE_OK, Await(done));
        EXPECT_EQ(1024u, copy.GetRespones().size());
        EXPECT_EQ("", m_conn->GetRespones());
    }
    const auto seen = RequestsTo(Http(), m_path);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("yes", seen[0].Header("X-Copied"));
    Http().ClearRequests();
    EXPECT_EQ("yes", Send().Header("X-Copied"));
}
