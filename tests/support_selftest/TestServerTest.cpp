#include "support/TestServer.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using testsupport::Reply;
using testsupport::TestServer;
using namespace std::chrono_literals;

namespace {

struct Result {
    CURLcode code = CURLE_OK;
    long status = 0;
    std::string body;
};

using CurlPtr = std::unique_ptr<CURL, decltype(&curl_easy_cleanup)>;

CurlPtr NewHandle() {
    return CurlPtr(curl_easy_init(), &curl_easy_cleanup);
}

size_t Collect(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// Verifies the peer and its name (the certificates carry IP:127.0.0.1), so a
// broken test certificate shows up here rather than in every client test.
Result Fetch(CURL* curl, const std::string& url,
             const std::function<void(CURL*)>& setup = nullptr) {
    Result result;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, testsupport::TestCertPath("ca.pem").c_str());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 120L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &result.body);
    if (setup) {
        setup(curl);
    }
    result.code = curl_easy_perform(curl);
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
    return result;
}

Result Fetch(const std::string& url, const std::function<void(CURL*)>& setup = nullptr) {
    return Fetch(NewHandle().get(), url, setup);
}

} // namespace

TEST(TestServer, ScriptIsServedInOrderThenLastReplyRepeats) {
    TestServer server;
    server.Script("/seq", {Reply::Status(500), Reply::Status(500), Reply::Json(R"({"ok":1})")});
    std::vector<long> statuses;
    for (int i = 0; i < 4; ++i) {
        statuses.push_back(Fetch(server.BaseUrl() + "seq?attempt=" + std::to_string(i)).status);
    }
    EXPECT_EQ(statuses, (std::vector<long>{500, 500, 200, 200}));
    EXPECT_EQ(Fetch(server.BaseUrl() + "seq").body, R"({"ok":1})");
    EXPECT_EQ(Fetch(server.BaseUrl() + "unscripted").status, 404);

    server.Script("/seq", {Reply::Status(503)});
    EXPECT_EQ(Fetch(server.BaseUrl() + "seq").status, 503);
    EXPECT_EQ(server.RequestCount(), 7u);
}

TEST(TestServer, RecordsTargetHeadersAndBodyAsSent) {
    TestServer server;
    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "X-Repeat: one");
    headers = curl_slist_append(headers, "X-Repeat: two");
    // cpp-httplib would reject or reshape these bodies if it saw these headers.
    headers = curl_slist_append(headers, "Content-Encoding: gzip");
    headers = curl_slist_append(headers, "Content-Type: multipart/form-data; boundary=xyz");
    const std::string body = "--xyz\r\nnot gzip, not a valid part\r\n--xyz--\r\n";
    const auto result = Fetch(server.BaseUrl() + "a%2Fb/c?b=2&a=%20x&a=1", [&](CURL* curl) {
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    });
    curl_slist_free_all(headers);
    ASSERT_EQ(result.code, CURLE_OK);
    // libcurl labels it a form, which cpp-httplib caps at 8 KiB.
    const std::string form(2 * 1024 * 1024, 'f');
    const auto upload = Fetch(server.BaseUrl() + "upload", [&](CURL* curl) {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, form.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(form.size()));
    });
    ASSERT_EQ(upload.code, CURLE_OK);
    EXPECT_EQ(upload.status, 404);

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    const auto& rec = requests[0];
    EXPECT_EQ(rec.method, "POST");
    EXPECT_EQ(rec.target, "/a%2Fb/c?b=2&a=%20x&a=1");
    EXPECT_EQ(rec.path, "/a%2Fb/c");
    EXPECT_EQ(rec.query, "b=2&a=%20x&a=1");
    EXPECT_EQ(rec.HeaderValues("x-REPEAT"), (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(rec.Header("content-encoding"), "gzip");
    EXPECT_EQ(rec.Header("Content-Type"), "multipart/form-data; boundary=xyz");
    EXPECT_FALSE(rec.HasHeader("REMOTE_ADDR"));
    EXPECT_EQ(rec.Header("Absent"), "");
    EXPECT_EQ(rec.body, body);
    EXPECT_TRUE(requests[1].body == form) << "got " << requests[1].body.size() << " bytes";
}

TEST(TestServer, FaultsShapeTheBody) {
    TestServer server;
    std::string big(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + i % 26);
    }
    Reply drop = Reply::Json(std::string(1000, 'd'));
    drop.fault = Reply::Fault::DropMidBody;
    Reply trickle = Reply::Json("0123456789abcdefghij");
    trickle.fault = Reply::Fault::Trickle;
    trickle.trickleChunk = 3;
    trickle.trickleInterval = 5ms;
    server.Script("/drop", {drop});
    server.Script("/trickle", {trickle});
    server.Script("/big", {Reply::Json(big)});

    const auto dropped = Fetch(server.BaseUrl() + "drop");
    EXPECT_EQ(dropped.code, CURLE_PARTIAL_FILE);
    EXPECT_EQ(dropped.status, 200);
    EXPECT_EQ(dropped.body.size(), 500u);

    const auto trickled = Fetch(server.BaseUrl() + "trickle");
    EXPECT_EQ(trickled.code, CURLE_OK);
    EXPECT_EQ(trickled.body, trickle.body);

    // Asking for compression must not change the bytes a test scripted.
    char* type = nullptr;
    auto curl = NewHandle();
    const auto large = Fetch(curl.get(), server.BaseUrl() + "big", [](CURL* c) {
        curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "gzip");
        curl_easy_setopt(c, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    });
    curl_easy_getinfo(curl.get(), CURLINFO_CONTENT_TYPE, &type);
    EXPECT_EQ(large.code, CURLE_OK);
    EXPECT_TRUE(large.body == big) << "got " << large.body.size() << " bytes";
    EXPECT_STREQ(type, "application/json");

    // A range past the end must never read past the scripted body.
    const auto past = Fetch(server.BaseUrl() + "trickle",
                            [](CURL* c) { curl_easy_setopt(c, CURLOPT_RANGE, "100-"); });
    EXPECT_TRUE(past.body.empty()) << past.body.size();
}

TEST(TestServer, OnlyTheTestCaServerPassesVerification) {
    TestServer trusted;
    TestServer other(TestServer::Mode::HttpsOtherCa);
    EXPECT_EQ(Fetch(trusted.BaseUrl()).code, CURLE_OK);
    EXPECT_EQ(Fetch(other.BaseUrl()).code, CURLE_PEER_FAILED_VERIFICATION);
    EXPECT_EQ(other.RequestCount(), 0u);
}

TEST(TestServer, PlainHttpAndRefusedPort) {
    TestServer server(TestServer::Mode::Http);
    ASSERT_EQ(server.BaseUrl().rfind("http://127.0.0.1:", 0), 0u);
    const auto result = Fetch(server.BaseUrl() + "x", [](CURL* curl) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PATCH");
    });
    EXPECT_EQ(result.code, CURLE_OK);
    EXPECT_EQ(result.status, 404);
    ASSERT_TRUE(server.WaitForRequests(1, 0ms));
    EXPECT_EQ(server.Requests()[0].method, "PATCH");

    const auto refused =
        Fetch("http://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    EXPECT_EQ(refused.code, CURLE_COULDNT_CONNECT);
}

// A hanging destructor would stall every suite that uses the server, so stop
// must cut a long delay short and not wait out an idle keep-alive connection.
TEST(TestServer, StopsPromptlyDuringDelayAndWithIdleConnection) {
    auto server = std::make_unique<TestServer>();
    Reply slow = Reply::Json("{}");
    slow.delay = 10min;
    server->Script("/slow", {slow});

    auto idle = NewHandle(); // keeps its connection open after the request
    ASSERT_EQ(Fetch(idle.get(), server->BaseUrl() + "fast").code, CURLE_OK);

    Result delayed;
    std::thread client([&] { delayed = Fetch(server->BaseUrl() + "slow"); });
    ASSERT_TRUE(server->WaitForRequests(2, 60s));

    const auto begin = std::chrono::steady_clock::now();
    server.reset();
    const auto took = std::chrono::steady_clock::now() - begin;
    client.join();
    EXPECT_LT(took, 30s);
    EXPECT_NE(delayed.status, 200);
}
