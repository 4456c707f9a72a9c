#include "core/HttpReqZEQ.h"
#include "platform/GlobalParamWrapper.h"
#include "support/DeviceHost.h"
#include "support/LogCapture.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>

namespace {

using testsupport::DeviceHost;
using testsupport::LogCapture;
using testsupport::Reply;
using testsupport::TestServer;
using Map = std::map<std::string, std::string>;

constexpr const char* kDeviceId = "device-7";

class HttpReqZEQTest : public testing::Test {
protected:
    void SetUp() override {
        GlobalParamWrapper::GetInstance()->SetReqDeviceId(kDeviceId);
        HttpReqZEQ::reqDeviceId.clear();
    }

    // One GET or POST through the public sequence; the reply body lands in reply.
    bool Call(HttpReqZEQ::HttpRequestMethod method, const std::string& path, const Map& query,
              const std::string& body = {}, Map extra = {}) {
        HttpReqZEQ request(method);
        if (!request.CtxInit(path, query, body)) {
            return false;
        }
        return request.DoRequest(reply, std::move(extra), 10000);
    }

    TestServer server;
    DeviceHost host{server.BaseUrl()};
    LogCapture log;
    std::string reply;
};

TEST_F(HttpReqZEQTest, GetAddsClientTypeAndDeviceIdAndKeepsKeyOrderUnencoded) {
    server.Script("/gallery/list", {Reply::Json(R"({"code":0})")});
    ASSERT_TRUE(Call(HttpReqZEQ::HTTP_GET, "gallery/list",
                     {{"b", "2"}, {"a", "1"}, {"clientType", "7"}, {"q", "x/y&z=%41"}}));
    ASSERT_EQ(server.RequestCount(), 1u);
    const auto request = server.Requests().front();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.target, std::string("/gallery/list?a=1&b=2&clientType=3&deviceId=") +
                                  kDeviceId + "&q=x/y&z=%41");
    EXPECT_EQ(reply, R"({"code":0})");
}

TEST_F(HttpReqZEQTest, AQueryValueWithASpaceIsNotEncodedAndLibcurlRefusesTheUrl) {
    EXPECT_FALSE(Call(HttpReqZEQ::HTTP_GET, "gallery/list", {{"q", "x y"}}));
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 3"), 3u);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(HttpReqZEQTest, PostSendsBodyWithoutQueryAndWithContentType) {
    server.Script("/gallery/addAlbum", {Reply::Json("{}")});
    ASSERT_TRUE(Call(HttpReqZEQ::HTTP_POST, "gallery/addAlbum", {}, R"({"albumName":"x"})"));
    const auto request = server.Requests().front();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/gallery/addAlbum");
    EXPECT_EQ(request.body, R"({"albumName":"x"})");
    EXPECT_EQ(request.Header("Content-Type"), "application/json; charset=UTF-8");
}

TEST_F(HttpReqZEQTest, SendsTheStandardHeadersThenTheExtraOnes) {
    server.Script("/x", {Reply::Json("{}")});
    ASSERT_TRUE(
        Call(HttpReqZEQ::HTTP_GET, "x", {}, {}, {{"Dest-File", "%2fa"}, {"Token", "extra"}}));
    const auto request = server.Requests().front();
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(server.Port()));
    EXPECT_EQ(request.Header("Cookie"), std::string("ID=") + DeviceHost::kCookieId);
    EXPECT_EQ(request.Header("Connection"), "Keep-Alive");
    EXPECT_EQ(request.Header("User-Agent"), "okhttp/4.9.3");
    // The test server hands header values over percent-decoded.
    EXPECT_EQ(request.Header("Dest-File"), "/a");
    EXPECT_FALSE(request.HasHeader("Content-Type"));
    // A key in both maps goes out twice, the standard value first.
    EXPECT_EQ(request.HeaderValues("Token"),
              (std::vector<std::string>{DeviceHost::kToken, "extra"}));
}

TEST_F(HttpReqZEQTest, RepeatsUntil200AndHandsOverTheLastBodyWhenAttemptsRunOut) {
    server.Script("/r", {Reply::Status(500, "first"), Reply::Status(503, "second"),
                         Reply::Status(500, "third"), Reply::Status(200, "never")});
    EXPECT_TRUE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_EQ(reply, "third");
}

TEST_F(HttpReqZEQTest, StopsAtTheFirst200) {
    server.Script("/r", {Reply::Status(404, "no"), Reply::Status(200, "yes")});
    EXPECT_TRUE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(server.RequestCount(), 2u);
    EXPECT_EQ(reply, "yes");
}

TEST_F(HttpReqZEQTest, A204IsDeliveredAfterOneAttempt) {
    server.Script("/r", {Reply::Status(204)});
    EXPECT_TRUE(Call(HttpReqZEQ::HTTP_POST, "r", {}, "{}"));
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(reply, "");
}

TEST_F(HttpReqZEQTest, FarDataServiceMakesOneAttempt) {
    host.SetFarDataService(true);
    server.Script("/r", {Reply::Status(500, "busy"), Reply::Status(200)});
    EXPECT_TRUE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(reply, "busy");
}

TEST_F(HttpReqZEQTest, RefusedConnectionFailsAfterThreeAttemptsWithItsLogLines) {
    host.SetBaseUrl("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    EXPECT_FALSE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 7"), 3u)
        << testing::PrintToString(log.Messages());
    const auto records = log.Records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().message, "request fail, code:0");
    EXPECT_EQ(records.back().module, Scribo::subUserAuthService);
    EXPECT_EQ(records.back().severity, Scribo::LOG_INFO);
    EXPECT_EQ(records.front().module, Scribo::subCloudSuite);
    EXPECT_EQ(records.front().severity, Scribo::LOG_ERROR);
}

// The status, not the transfer result, decides: a 200 whose body was cut short
// is delivered as it came, and a cut 500 is tried again.
TEST_F(HttpReqZEQTest, ABodyCutShortCountsByItsStatus) {
    Reply cut500 = Reply::Status(500, std::string(10000, 'x'));
    cut500.fault = Reply::Fault::DropMidBody;
    Reply cut200 = Reply::Json(std::string(10000, 'y'));
    cut200.fault = Reply::Fault::DropMidBody;
    server.Script("/r", {cut500, cut200});
    EXPECT_TRUE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(server.RequestCount(), 2u);
    EXPECT_EQ(reply, std::string(5000, 'y'));
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 18"), 2u)
        << testing::PrintToString(log.Messages());
}

// Off by default, so a slow device is waited for as before; once set, an
// attempt with nothing coming ends with libcurl's time-out.
TEST_F(HttpReqZEQTest, StallLimitEndsASilentAttemptOnlyWhenSet) {
    struct Restore {
        ~Restore() { HttpReqZEQ::SetStallLimit(0); }
    } restore;
    Reply slow = Reply::Json(R"({"code":0})");
    slow.delay = std::chrono::milliseconds(2500);
    server.Script("/r", {slow});
    EXPECT_TRUE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(reply, R"({"code":0})");

    host.SetFarDataService(true); // one attempt
    HttpReqZEQ::SetStallLimit(1);
    EXPECT_FALSE(Call(HttpReqZEQ::HTTP_GET, "r", {}));
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 28"), 1u)
        << testing::PrintToString(log.Messages());
}

TEST_F(HttpReqZEQTest, UnsupportedMethodIsRefusedBeforeAnyCallback) {
    HttpReqZEQ request(HttpReqZEQ::HTTP_DELETE);
    EXPECT_FALSE(request.CtxInit("x", {}, ""));
    EXPECT_EQ(log.Count("HttpReqZEQ::CtxInit", "http method(2) is not support yet!"), 1u);
    EXPECT_EQ(host.ConnInfoCalls(), 0);
}

TEST_F(HttpReqZEQTest, ShortOrSlashlessBaseUrlIsRefused) {
    for (const char* base : {"https://", "https://127.0.0.1:1"}) {
        host.SetBaseUrl(base);
        HttpReqZEQ request;
        EXPECT_FALSE(request.CtxInit("x", {}, "")) << base;
    }
    EXPECT_EQ(log.Count("HttpReqZEQ::CtxInit", "failed to get valid httpsUrl for http req!"), 2u);
}

TEST(HttpReqZEQUnregistered, CtxInitLogsTheMissingCallbackTwice) {
    LogCapture log;
    HttpReqZEQ request(HttpReqZEQ::HTTP_POST);
    EXPECT_FALSE(request.CtxInit("x", {}, "{}"));
    EXPECT_EQ(log.Count("HttpReqZEQ::BuildHttpUrl", "getZeqConnInfo uninitialized error!"), 1u);
    EXPECT_EQ(log.Count("HttpReqZEQ::CtxInit", "getZeqConnInfo uninitialized error!"), 1u);
}

// TLS: the peer is verified against config/ca.pem beside the executable, and
// the host's hook has the last word.
TEST(HttpReqZEQTls, WithoutAHookEveryHandshakeFails) {
    TestServer server;
    DeviceHost host(server.BaseUrl(), /*registerSslHook=*/false);
    LogCapture log;
    server.Script("/r", {Reply::Json("{}")});
    HttpReqZEQ request;
    ASSERT_TRUE(request.CtxInit("r", {}, ""));
    std::string reply;
    EXPECT_FALSE(request.DoRequest(reply, {}, 10000));
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 83"), 3u);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(HttpReqZEQTls, AServerFromAnotherCaIsRejectedEvenWithAnAcceptingHook) {
    TestServer server(TestServer::Mode::HttpsOtherCa);
    DeviceHost host(server.BaseUrl());
    LogCapture log;
    HttpReqZEQ request;
    ASSERT_TRUE(request.CtxInit("r", {}, ""));
    std::string reply;
    EXPECT_FALSE(request.DoRequest(reply, {}, 10000));
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 60"), 3u)
        << testing::PrintToString(log.Messages());
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST(HttpReqZEQTls, TheHookSeesEachHandshakeAndCanRefuseIt) {
    TestServer server;
    DeviceHost host(server.BaseUrl());
    static int calls = 0;
    calls = 0;
    HttpReqZEQ::RegSslFunction([](void* curl, void* sslCtx, void*) {
        ++calls;
        return curl != nullptr && sslCtx != nullptr ? 35 : 0; // CURLE_SSL_CONNECT_ERROR
    });
    LogCapture log;
    HttpReqZEQ request;
    ASSERT_TRUE(request.CtxInit("r", {}, ""));
    std::string reply;
    EXPECT_FALSE(request.DoRequest(reply, {}, 10000));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(log.Count("HttpReqZEQ::SendHttpReq", "request fail, result: 35"), 3u);
}

TEST(HttpReqZEQIds, DeviceAndUserIdsAreTakenOnceAndAnEmptyUserIdIsAskedAgain) {
    GlobalParamWrapper* params = GlobalParamWrapper::GetInstance();
    HttpReqZEQ::reqDeviceId.clear();
    HttpReqZEQ::reqUserId.clear();
    params->SetReqDeviceId("first");
    params->SetCurrentUserId(L"");
    HttpReqZEQ{};
    EXPECT_EQ(HttpReqZEQ::reqDeviceId, "first");
    EXPECT_EQ(HttpReqZEQ::reqUserId, "");

    params->SetReqDeviceId("second");
    params->SetCurrentUserId(L"us\u00e9r");
    HttpReqZEQ{};
    EXPECT_EQ(HttpReqZEQ::reqDeviceId, "first");
    EXPECT_EQ(HttpReqZEQ::reqUserId, "us\xC3\xA9r");
}

} // namespace
