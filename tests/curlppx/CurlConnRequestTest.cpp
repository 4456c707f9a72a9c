#include "EngineTestSupport.h"
#include "curlppx/detail/CallbackPool.h"
#include "support/LogCapture.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace curlppx;
using namespace enginetest;
using testsupport::Reply;

namespace {

constexpr size_t kPool = 1;

struct MethodCase {
    std::string name;
    std::function<std::future<CURLcode>(CurlConn&)> future;
    std::function<void(CurlConn&, CurlConn::DoneFunc)> callback;
    std::string method;
    std::string body;        // what the server must receive
    std::string contentType; // "" when the request sends none of its own
    bool hasResponseBody;
};

// Names the case in test output instead of dumping its bytes.
void PrintTo(const MethodCase& c, std::ostream* os) {
    *os << c.name;
}

const CurlConn::Fields kFields{{"name", "a b"}, {"id", "7"}};
const std::string kEncodedFields = "id=7&name=a%20b";
const std::string kForm = "x-www-form-urlencoded; charset=utf-8";
const std::string kJson = "{\"x\":1}";

std::vector<MethodCase> Cases() {
    return {
        {"Get", [](CurlConn& c) { return c.HttpGet(); },
         [](CurlConn& c, CurlConn::DoneFunc cb) { c.HttpGet(std::move(cb)); }, "GET", "", "", true},
        {"PostFields", [](CurlConn& c) { return c.HttpPost(kFields, true); },
         [](CurlConn& c, CurlConn::DoneFunc cb) { c.HttpPost(kFields, std::move(cb), true); },
         "POST", kEncodedFields, kForm, true},
        {"PostString", [](CurlConn& c) { return c.HttpPost(kJson, "application/json"); },
         [](CurlConn& c, CurlConn::DoneFunc cb) {
             c.HttpPost(kJson, std::move(cb), "application/json");
         },
         "POST", kJson, "application/json", true},
        {"PutFields", [](CurlConn& c) { return c.HttpPut(kFields, true); },
         [](CurlConn& c, CurlConn::DoneFunc cb) { c.HttpPut(kFields, std::move(cb), true); }, "PUT",
         kEncodedFields, kForm, true},
        {"PutString", [](CurlConn& c) { return c.HttpPut(kJson, "application/json"); },
         [](CurlConn& c, CurlConn::DoneFunc cb) {
             c.HttpPut(kJson, std::move(cb), "application/json");
         },
         "PUT", kJson, "application/json", true},
        {"PatchFields", [](CurlConn& c) { return c.HttpPatch(kFields, false); },
         [](CurlConn& c, CurlConn::DoneFunc cb) { c.HttpPatch(kFields, std::move(cb), false); },
         "PATCH", "id=7&name=a b", kForm, true},
        {"PatchString", [](CurlConn& c) { return c.HttpPatch(kJson, "application/json"); },
         [](CurlConn& c, CurlConn::DoneFunc cb) {
             c.HttpPatch(kJson, std::move(cb), "application/json");
         },
         "PATCH", kJson, "application/json", true},
        {"Delete", [](CurlConn& c) { return c.HttpDelete(); },
         [](CurlConn& c, CurlConn::DoneFunc cb) { c.HttpDelete(std::move(cb)); }, "DELETE", "", "",
         true},
        {"Head", [](CurlConn& c) { return c.HttpHead(); },
         [](CurlConn& c, CurlConn::DoneFunc cb) { c.HttpHead(std::move(cb)); }, "HEAD", "", "",
         false},
    };
}

class MethodTest : public ::testing::TestWithParam<MethodCase> {
protected:
    void SetUp() override {
        m_path = UniquePath();
        m_conn = ConnTo(kPool, Https().BaseUrl() + m_path.substr(1));
        ASSERT_TRUE(m_conn);
    }
    void TearDown() override { CurlGlobal::GetInstance().FreeConn(kPool, m_conn); }

    void ExpectServerSaw(size_t count) {
        const auto seen = RequestsTo(Https(), m_path);
        ASSERT_EQ(count, seen.size());
        for (const auto& request : seen) {
            EXPECT_EQ(GetParam().method, request.method);
            EXPECT_EQ(GetParam().body, request.body);
            if (!GetParam().contentType.empty()) {
                EXPECT_EQ(GetParam().contentType, request.Header("Content-Type"));
            }
        }
    }

    std::string m_path;
    std::shared_ptr<CurlConn> m_conn;
};

} // namespace

TEST_P(MethodTest, FutureCompletesWithTheReplyTheServerWasAskedFor) {
    Reply reply = Reply::Json("{\"ok\":true}");
    reply.headers = {{"X-Reply", "v1"}};
    Https().Script(m_path, {reply});

    auto done = GetParam().future(*m_conn);
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ(200, m_conn->GetResCode());
    EXPECT_EQ(GetParam().hasResponseBody ? "{\"ok\":true}" : "", m_conn->GetRespones());
    EXPECT_EQ("v1", m_conn->GetResHeader()["X-Reply"]);
    EXPECT_EQ(0, m_conn->GetRetryCount());
    EXPECT_GT(m_conn->GetReqTotalTime(), 0);
    ExpectServerSaw(1);
}

TEST_P(MethodTest, CallbackIsCalledOnceOffTheCallerAndLoopThreads) {
    Https().Script(m_path, {Reply::Json("{}")});
    Completion completion;
    GetParam().callback(*m_conn, completion.Callback());
    ASSERT_TRUE(completion.WaitFor(1));
    EXPECT_EQ(std::vector<CURLcode>{CURLE_OK}, completion.Codes());
    EXPECT_NE(std::this_thread::get_id(), completion.Threads()[0]);

    // A later request on the same connection must not call the old callback.
    auto again = GetParam().future(*m_conn);
    ASSERT_EQ(CURLE_OK, Await(again));
    EXPECT_EQ(1u, completion.Codes().size());
    ExpectServerSaw(2);
}

TEST_P(MethodTest, HttpErrorStatusCompletesWithoutRetry) {
    EngineLog log(CURL_LOG_ERROR);
    Https().Script(m_path, {Reply::Status(500, "boom")});
    auto done = GetParam().future(*m_conn);
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ(500, m_conn->GetResCode());
    EXPECT_EQ(0, m_conn->GetRetryCount());
    ExpectServerSaw(1);
    // A failed request that keeps its body in memory is logged once.
    EXPECT_EQ(GetParam().hasResponseBody ? 1u : 0u, log.Count("errCode=0 and httpCode=500"));
}

INSTANTIATE_TEST_SUITE_P(Methods, MethodTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

namespace {

class RequestTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_path = UniquePath();
        m_conn = ConnTo(kPool, Http().BaseUrl() + m_path.substr(1));
        ASSERT_TRUE(m_conn);
    }
    void TearDown() override { CurlGlobal::GetInstance().FreeConn(kPool, m_conn); }

    std::string TempFile(const std::string& content) {
        const auto path = std::filesystem::temp_directory_path() /
                          ("upload-" + std::to_string(::getpid()) + m_path.substr(1));
        std::ofstream(path, std::ios::binary) << content;
        m_files.push_back(path);
        return path.string();
    }

    ~RequestTest() override {
        for (const auto& file : m_files) {
            std::filesystem::remove(file);
        }
    }

    std::string m_path;
    std::shared_ptr<CurlConn> m_conn;
    std::vector<std::filesystem::path> m_files;
};

std::string Pattern(size_t size) {
    std::string out(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        out[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    }
    return out;
}

} // namespace

TEST_F(RequestTest, DownloadHandsEveryByteToTheSinkAndKeepsNoBody) {
    const std::string body = Pattern(300 * 1024);
    Http().Script(m_path, {Reply::Json(body)});
    std::string sink;
    auto done = m_conn->HttpDownload(
        [](char* data, size_t size, size_t count, void* user) {
            static_cast<std::string*>(user)->append(data, size * count);
            return size * count;
        },
        &sink);
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ(body, sink);
    EXPECT_EQ("", m_conn->GetRespones());
}

TEST_F(RequestTest, ASinkStartingItsOwnConnectionAgainIsRefusedAndTheBodyGoesOn) {
    const std::string body = Pattern(300 * 1024);
    Http().Script(m_path, {Reply::Json(body)});
    std::string sink;
    std::future<CURLcode> nested;
    auto done = m_conn->HttpDownload(
        [&](char* data, size_t size, size_t count, void*) {
            if (!nested.valid()) {
                nested = m_conn->HttpGet();
            }
            sink.append(data, size * count);
            return size * count;
        },
        nullptr);
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ(body, sink);
    EXPECT_EQ(CurlConn::kEngineError, Await(nested));
}

TEST_F(RequestTest, SinkTakingLessThanOfferedEndsTheDownloadWithAWriteError) {
    Http().Script(m_path, {Reply::Json(Pattern(1024))});
    m_conn->SetNeedRetry(false);
    auto done =
        m_conn->HttpDownload([](char*, size_t, size_t, void*) { return size_t{0}; }, nullptr);
    EXPECT_EQ(CURLE_WRITE_ERROR, Await(done));
}

TEST_F(RequestTest, FileUploadStartsAtTheOffset) {
    Http().Script(m_path, {Reply::Json("stored")});
    auto done = m_conn->HttpUpload(std::filesystem::path(TempFile("0123456789")).wstring(), 4);
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ("stored", m_conn->GetRespones());
    const auto seen = RequestsTo(Http(), m_path);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ("POST", seen[0].method);
    EXPECT_EQ("456789", seen[0].body);
}

TEST_F(RequestTest, UnreadableUploadFileIsReadyAtOnceWith37) {
    auto missing = m_conn->HttpUpload(L"/nonexistent/upload.bin", 0);
    ASSERT_EQ(std::future_status::ready, missing.wait_for(0s));
    EXPECT_EQ(CURLE_FILE_COULDNT_READ_FILE, missing.get());
    auto pastEnd = m_conn->HttpUpload(std::filesystem::path(TempFile("abc")).wstring(), 10);
    EXPECT_EQ(CURLE_FILE_COULDNT_READ_FILE, Await(pastEnd));
    EXPECT_TRUE(RequestsTo(Http(), m_path).empty());
}

TEST_F(RequestTest, CallbackUploadSendsWhatTheSourceGives) {
    Http().Script(m_path, {Reply::Json("ok")});
    struct Source {
        std::string data;
        size_t sent = 0;
    } source{Pattern(70000)};
    auto done = m_conn->HttpUpload(
        static_cast<int64_t>(source.data.size()),
        [](char* buffer, size_t size, char*, void* user) {
            auto* src = static_cast<Source*>(user);
            const size_t n = std::min(size * 1, src->data.size() - src->sent);
            src->data.copy(buffer, n, src->sent);
            src->sent += n;
            return n;
        },
        &source);
    ASSERT_EQ(CURLE_OK, Await(done));
    const auto seen = RequestsTo(Http(), m_path);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(source.data, seen[0].body);
}

TEST_F(RequestTest, HeaderLinesAreTrimmedAndOnlyNameValuePairsKept) {
    const auto feed = [&](std::string line) {
        return CurlConn::HeaderCallback(line.data(), 1, line.size(), m_conn.get());
    };
    EXPECT_EQ(17u, feed("HTTP/1.1 200 OK\r\n"));
    EXPECT_EQ(19u, feed(" \tX-Name :  va l \r\n"));
    EXPECT_EQ(8u, feed("Empty:\r\n"));
    EXPECT_EQ(9u, feed("Blank: \r\n"));
    EXPECT_EQ(6u, feed("NoSep\n"));
    EXPECT_EQ(2u, feed("\r\n"));
    EXPECT_EQ(0u, CurlConn::HeaderCallback(nullptr, 1, 3, m_conn.get()));
    EXPECT_EQ((std::map<std::string, std::string>{{"X-Name", "va l"}}), m_conn->GetResHeader());
    feed("X-Name: second\r\n");
    EXPECT_EQ("second", m_conn->GetResHeader()["X-Name"]);
    EXPECT_EQ(0u, m_conn->GetResHeader().count("x-name"));
}

TEST_F(RequestTest, EachRequestStartsFromAnEmptyReplyEvenWhenItCannotStart) {
    Reply first = Reply::Json("first");
    first.headers = {{"X-First", "1"}};
    const std::string second = UniquePath();
    Http().Script(m_path, {first});
    Http().Script(second, {Reply::Json("second")});
    auto done = m_conn->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(done));
    ASSERT_EQ(1u, m_conn->GetResHeader().count("X-First"));

    ASSERT_EQ(CURLE_OK, m_conn->SetURL(Http().BaseUrl() + second.substr(1)));
    done = m_conn->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ("second", m_conn->GetRespones());
    EXPECT_EQ(0u, m_conn->GetResHeader().count("X-First"));

    // Without a URL the request never reaches the loop thread.
    EngineLog log(CURL_LOG_ERROR);
    ASSERT_EQ(CURLE_OK, m_conn->SetURL(CurlUrl()));
    done = m_conn->HttpGet();
    ASSERT_EQ(CURLE_URL_MALFORMAT, Await(done));
    EXPECT_EQ(1u, log.Count("url is empty!"));
    EXPECT_EQ("", m_conn->GetRespones());
    EXPECT_TRUE(m_conn->GetResHeader().empty());
}

TEST_F(RequestTest, ProgressReportsFractionsUpToOneAndASpeed) {
    Reply reply = Reply::Json(Pattern(64 * 1024));
    reply.fault = Reply::Fault::Trickle;
    reply.trickleChunk = 8 * 1024;
    reply.trickleInterval = 30ms;
    Http().Script(m_path, {reply});

    std::mutex mutex;
    std::vector<double> fractions;
    int64_t bestSpeed = 0;
    ASSERT_EQ(CURLE_OK, m_conn->ProgressEnable(true));
    m_conn->SetProgressCB([&](double dl, double ul, int64_t dlSpeed, int64_t) {
        std::lock_guard lock(mutex);
        fractions.push_back(dl);
        bestSpeed = std::max(bestSpeed, dlSpeed);
        EXPECT_EQ(0.0, ul);
    });
    auto done = m_conn->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(done));
    std::lock_guard lock(mutex);
    ASSERT_FALSE(fractions.empty());
    for (size_t i = 0; i < fractions.size(); ++i) {
        EXPECT_GE(fractions[i], 0.0);
        EXPECT_LE(fractions[i], 1.0);
        if (i > 0) {
            EXPECT_GE(fractions[i], fractions[i - 1]);
        }
    }
    EXPECT_EQ(1.0, fractions.back());
    EXPECT_GT(bestSpeed, 0);
    EXPECT_GT(m_conn->GetDownloadSpeed(), 0);
}

TEST_F(RequestTest, ProgressWithUnknownTotalReportsAZeroFraction) {
    std::vector<double> seen;
    m_conn->ProgressEnable(true);
    m_conn->SetProgressCB([&](double dl, double, int64_t, int64_t) { seen.push_back(dl); });
    EXPECT_EQ(CURL_PROGRESSFUNC_CONTINUE, CurlConn::ProgressCallback(m_conn.get(), 0, 10, 0, 0));
    EXPECT_EQ(std::vector<double>{0.0}, seen);
    EXPECT_EQ(CURLE_ABORTED_BY_CALLBACK, CurlConn::ProgressCallback(nullptr, 0, 0, 0, 0));
    // Turning progress off drops the callback as well.
    m_conn->ProgressEnable(false);
    CurlConn::ProgressCallback(m_conn.get(), 10, 10, 0, 0);
    EXPECT_EQ(1u, seen.size());
}

TEST_F(RequestTest, EmptyUrlCompletesWithAnErrorInsteadOfHanging) {
    EngineLog log(CURL_LOG_ERROR);
    auto conn = CurlGlobal::GetInstance().GetConn(kPool);
    auto done = conn->HttpGet();
    EXPECT_EQ(CURLE_URL_MALFORMAT, Await(done));
    Completion completion;
    conn->HttpHead(completion.Callback());
    ASSERT_TRUE(completion.WaitFor(1));
    EXPECT_EQ(std::vector<CURLcode>{CURLE_URL_MALFORMAT}, completion.Codes());
    EXPECT_EQ(2u, log.Count("url is empty!"));
    CurlGlobal::GetInstance().FreeConn(kPool, conn);
}

namespace {

enum class Target { SameOrigin, PlainHttp, OtherHttps };

struct RedirectCase {
    std::string name;
    std::function<void(CurlConn&)> credentials;
    Target target;
    bool refused;
};

void PrintTo(const RedirectCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kSecret = "s3cr3t-value";

testsupport::TestServer& OtherHttps() {
    static testsupport::TestServer server(testsupport::TestServer::Mode::Https);
    return server;
}

std::vector<RedirectCase> RedirectCases() {
    const auto none = [](CurlConn&) {};
    const auto header = [](const char* name) {
        return [name](CurlConn& c) { c.SetHeader(name, kSecret); };
    };
    return {
        {"DowngradeWithoutCredentials", none, Target::PlainHttp, true},
        {"TokenToOtherOrigin", header("Token"), Target::OtherHttps, true},
        {"CookieToOtherOrigin", header("Cookie"), Target::OtherHttps, true},
        {"AuthorizationInAnyCaseToOtherOrigin", header("authorization"), Target::OtherHttps, true},
        {"BearerToOtherOrigin", [](CurlConn& c) { c.OauthByBearer(kSecret); }, Target::OtherHttps,
         true},
        {"TokenWithinTheOrigin", header("Token"), Target::SameOrigin, false},
        {"OtherOriginWithoutCredentials", none, Target::OtherHttps, false},
    };
}

class RedirectTest : public ::testing::TestWithParam<RedirectCase> {
protected:
    void SetUp() override {
        m_from = UniquePath("-from");
        m_to = UniquePath("-to");
        m_conn = ConnTo(kPool, Https().BaseUrl() + m_from.substr(1));
        ASSERT_TRUE(m_conn);
    }
    void TearDown() override { CurlGlobal::GetInstance().FreeConn(kPool, m_conn); }

    testsupport::TestServer& TargetServer() {
        switch (GetParam().target) {
        case Target::PlainHttp:
            return Http();
        case Target::OtherHttps:
            return OtherHttps();
        default:
            return Https();
        }
    }

    std::string m_from;
    std::string m_to;
    std::shared_ptr<CurlConn> m_conn;
};

} // namespace

TEST_P(RedirectTest, RedirectIsFollowedOnlyWhereCredentialsAndTlsAreKept) {
    EngineLog log(CURL_LOG_ERROR);
    const std::string target = TargetServer().BaseUrl() + m_to.substr(1);
    Reply moved = Reply::Status(302);
    moved.headers = {{"Location", target}};
    Https().Script(m_from, {moved});
    TargetServer().Script(m_to, {Reply::Json("arrived")});
    GetParam().credentials(*m_conn);

    Completion completion;
    m_conn->HttpGet(completion.Callback());
    ASSERT_TRUE(completion.WaitFor(1));
    const auto arrived = RequestsTo(TargetServer(), m_to);
    EXPECT_EQ(1u, RequestsTo(Https(), m_from).size());
    if (GetParam().refused) {
        EXPECT_EQ(CurlConn::kRedirectRefused, completion.Codes()[0]);
        EXPECT_EQ(302, m_conn->GetResCode());
        EXPECT_EQ(target, m_conn->GetRefusedRedirect());
        EXPECT_TRUE(arrived.empty());
        EXPECT_EQ(1u, log.Count("redirect refused: " + target));
    } else {
        EXPECT_EQ(CURLE_OK, completion.Codes()[0]);
        EXPECT_EQ("arrived", m_conn->GetRespones());
        EXPECT_EQ("", m_conn->GetRefusedRedirect());
        ASSERT_EQ(1u, arrived.size());
    }
    for (const auto& line : log.Lines()) {
        EXPECT_EQ(std::string::npos, line.msg.find(kSecret)) << line.msg;
    }

    // The next request starts with nothing refused, and the refused one was
    // completed once and never retried.
    Https().Script(m_from, {Reply::Json("direct")});
    auto next = m_conn->HttpGet();
    ASSERT_EQ(CURLE_OK, Await(next));
    EXPECT_EQ("", m_conn->GetRefusedRedirect());
    EXPECT_EQ(1u, completion.Codes().size());
    EXPECT_EQ(0, m_conn->GetRetryCount());
}

INSTANTIATE_TEST_SUITE_P(Redirects, RedirectTest, ::testing::ValuesIn(RedirectCases()),
                         [](const auto& info) { return info.param.name; });

// The server refuses as soon as it has the head and never reads the body:
// the answer arrives while libcurl still has the body to write, and only a
// socket watched for reading as well as writing hears it at once.
TEST_F(RequestTest, UploadRefusedEarlyEndsWithTheRefusal) {
    RawListener refuser(
        [](int fd, RawListener& self) {
            if (ReadRequestHead(fd)) {
                const std::string reply = "HTTP/1.1 413 Payload Too Large\r\n"
                                          "Content-Length: 0\r\nConnection: close\r\n\r\n";
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                // Closed with the body unread, the socket would answer the
                // client's next bytes with a reset that can beat the reply.
                ::shutdown(fd, SHUT_WR);
                self.Held();
            }
        },
        4096);
    ASSERT_EQ(CURLE_OK, m_conn->SetURL(refuser.BaseUrl() + "upload"));
    m_conn->SetHeader("Expect", ""); // no 100-continue: the body follows the head at once
    m_conn->SetNeedRetry(false);
    auto done = m_conn->HttpUpload(
        int64_t{256} * 1024 * 1024,
        [](char* buffer, size_t size, char*, void*) {
            std::fill(buffer, buffer + size, 'x');
            return size;
        },
        nullptr);
    EXPECT_EQ(CURLE_OK, Await(done));
    EXPECT_EQ(413, m_conn->GetResCode());
}

TEST_F(RequestTest, RetriedCallbackUploadIsResentWholeOrNotAtAll) {
    struct Source {
        std::string data = Pattern(5000);
        size_t sent = 0;
    };
    const auto read = [](char* buffer, size_t size, char*, void* user) {
        auto* src = static_cast<Source*>(user);
        const size_t n = std::min(size, src->data.size() - src->sent);
        src->data.copy(buffer, n, src->sent);
        src->sent += n;
        return n;
    };
    Reply cut = Reply::Json(std::string(4096, 'c'));
    cut.fault = Reply::Fault::DropMidBody;

    // A source that cannot go back is not read twice: the failure stands.
    Http().Script(m_path, {cut, Reply::Json("again")});
    Source once;
    auto done = m_conn->HttpUpload(static_cast<int64_t>(once.data.size()), read, &once);
    EXPECT_EQ(CURLE_PARTIAL_FILE, Await(done));
    EXPECT_EQ(0, m_conn->GetRetryCount());
    auto seen = RequestsTo(Http(), m_path);
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(once.data, seen[0].body);

    // One that can go back is rewound and sent whole again.
    Http().ClearRequests();
    Http().Script(m_path, {cut, Reply::Json("again")});
    Source twice;
    std::vector<int64_t> seeks;
    auto retried = m_conn->HttpUpload(
        static_cast<int64_t>(twice.data.size()), read, &twice, [&](int64_t offset, void* user) {
            seeks.push_back(offset);
            static_cast<Source*>(user)->sent = static_cast<size_t>(offset);
            return true;
        });
    ASSERT_EQ(CURLE_OK, Await(retried));
    EXPECT_EQ("again", m_conn->GetRespones());
    EXPECT_EQ(std::vector<int64_t>{0}, seeks);
    seen = RequestsTo(Http(), m_path);
    ASSERT_EQ(2u, seen.size());
    EXPECT_EQ(twice.data, seen[0].body);
    EXPECT_EQ(twice.data, seen[1].body);
}

namespace {

thread_local int t_callbacksHere = 0;

std::thread::id LoopThreadId() {
    std::promise<std::thread::id> id;
    CurlGlobal::RunAtUvThread([&] { id.set_value(std::this_thread::get_id()); });
    return id.get_future().get();
}

} // namespace

TEST_F(RequestTest, CallbacksRunSideBySideOnThreadsThatAreReused) {
    constexpr int kSideBySide = 4;
    Http().Script(m_path, {Reply::Json("{}")});
    const auto loop = LoopThreadId();
    const size_t threadsBefore = detail::CallbackPool::Instance().Threads();

    // Each callback waits for all the others: run one after another, they
    // would never meet.
    std::mutex mutex;
    std::condition_variable met;
    int entered = 0;
    bool allMet = true;
    std::vector<std::thread::id> threads;
    Completion completion;
    std::vector<std::shared_ptr<CurlConn>> conns;
    for (int i = 0; i < kSideBySide; ++i) {
        conns.push_back(ConnTo(kPool, Http().BaseUrl() + m_path.substr(1)));
        conns.back()->HttpGet([&, done = completion.Callback()](CURLcode code) {
            ++t_callbacksHere;
            {
                std::unique_lock lock(mutex);
                threads.push_back(std::this_thread::get_id());
                ++entered;
                met.notify_all();
                allMet = met.wait_for(lock, 20s, [&] { return entered == kSideBySide; }) && allMet;
            }
            done(code);
        });
    }
    ASSERT_TRUE(completion.WaitFor(kSideBySide));
    EXPECT_TRUE(allMet);
    for (const auto& id : threads) {
        EXPECT_NE(loop, id);
        EXPECT_NE(std::this_thread::get_id(), id);
    }
    EXPECT_LE(detail::CallbackPool::Instance().Threads(),
              std::max<size_t>(threadsBefore, kSideBySide));

    // One at a time, each callback finds a thread that has run one before.
    const size_t threadsAfter = detail::CallbackPool::Instance().Threads();
    for (int i = 0; i < 10; ++i) {
        std::promise<int> callsHere;
        m_conn->HttpGet([&](CURLcode) { callsHere.set_value(++t_callbacksHere); });
        auto calls = callsHere.get_future();
        ASSERT_EQ(std::future_status::ready, calls.wait_for(kBound));
        EXPECT_GE(calls.get(), 2) << "round " << i;
    }
    EXPECT_EQ(threadsAfter, detail::CallbackPool::Instance().Threads());
    for (auto& conn : conns) {
        CurlGlobal::GetInstance().FreeConn(kPool, conn);
    }
}

TEST(CallbackPool, ABurstOfJobsEachGetsAThreadThoughOneWakeStartsThem) {
    static constexpr int kJobs = 6;
    detail::CallbackPool pool;
    // Each job of a burst waits for all the others to enter: the threads a
    // burst wakes one from another must each wake the next before they run.
    // Shared, as a job that timed out may outlive a failed test.
    struct Meeting {
        std::mutex mutex;
        std::condition_variable met;
        int entered = 0;
        int allMet = 0;
    };
    // Well inside the 30 s after which an idle thread looks for work by
    // itself, which would hide a wake that never came.
    static constexpr auto kWithin = 10s;
    const auto burst = [&] {
        auto meeting = std::make_shared<Meeting>();
        for (int job = 0; job < kJobs; ++job) {
            pool.Run([meeting] {
                std::unique_lock lock(meeting->mutex);
                ++meeting->entered;
                meeting->met.notify_all();
                const bool all =
                    meeting->met.wait_for(lock, kWithin, [&] { return meeting->entered == kJobs; });
                meeting->allMet += all ? 1 : 0;
                meeting->met.notify_all();
            });
        }
        std::unique_lock lock(meeting->mutex);
        return meeting->met.wait_for(lock, kWithin, [&] { return meeting->allMet == kJobs; });
    };
    ASSERT_TRUE(burst()); // starts the threads
    // Mostly the same threads again, now waiting for work.
    ASSERT_TRUE(burst());
}

TEST(CallbackPool, ACallbackWaitsForAThreadWhenNoneCanStart) {
    std::atomic<int> refusals{2};
    detail::CallbackPool pool([&](std::function<void()> body) {
        return refusals.fetch_sub(1) <= 0 && detail::CallbackPool::StartThread(std::move(body));
    });
    std::mutex mutex;
    std::condition_variable ran;
    std::vector<int> order;
    for (int job = 1; job <= 3; ++job) {
        pool.Run([&, job] {
            std::lock_guard lock(mutex);
            order.push_back(job);
            ran.notify_all();
        });
    }
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ran.wait_for(lock, kBound, [&] { return order.size() == 3; }));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), order);
    EXPECT_EQ(1u, pool.Threads());
}
