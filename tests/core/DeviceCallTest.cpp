#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "support/DeviceHost.h"
#include "support/LogCapture.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using testsupport::LogCapture;
using testsupport::Reply;

constexpr const char* kFunction = "AlbumIntfZEQ::DeleteGalleryUserAlbum";
constexpr const char* kPhrase = "http req del user album";

struct EnvelopeFailure {
    const char* reply;
    const char* message;
};

class ReplyEnvelope : public testing::TestWithParam<EnvelopeFailure> {};

TEST_P(ReplyEnvelope, EachFailureLogsOnceAndLeavesTheRecordAlone) {
    LogCapture log;
    const DeviceCall call(Scribo::subAlbum, kFunction);
    HttpPostRspCode rsp{99, "untouched"};
    Json::Value root;
    EXPECT_FALSE(call.CheckReply(GetParam().reply, kPhrase, root, &rsp));
    ASSERT_EQ(log.Records().size(), 1u) << testing::PrintToString(log.Messages());
    const auto record = log.Records().front();
    EXPECT_EQ(record.function, kFunction);
    EXPECT_EQ(record.message, GetParam().message);
    EXPECT_EQ(record.module, Scribo::subAlbum);
    EXPECT_EQ(record.severity, Scribo::LOG_ERROR);
    EXPECT_EQ(rsp.code, 99);
    EXPECT_EQ(rsp.des, "untouched");
}

// The empty reply also logs "body is null" from the parser, which the
// capture sees first; so it is checked on its own below.
INSTANTIATE_TEST_SUITE_P(
    Mechanisms, ReplyEnvelope,
    testing::Values(
        EnvelopeFailure{"{\"code\":", "StringToCppJsonObj failed for http req del user album"},
        EnvelopeFailure{"null", "jsonRoot is null for http req del user album"},
        EnvelopeFailure{"[]", "jsonRoot is not object for http req del user album"},
        EnvelopeFailure{"\"text\"", "jsonRoot is not object for http req del user album"}));

TEST(ReplyEnvelopeEdges, AnEmptyReplyIsANullRoot) {
    LogCapture log;
    Json::Value root;
    EXPECT_FALSE(DeviceCall(Scribo::subAlbum, kFunction).CheckReply("", kPhrase, root));
    EXPECT_EQ(log.Messages(), (std::vector<std::string>{
                                  "JsonUtil::StringToCppJsonObj: body is null",
                                  std::string(kFunction) + ": jsonRoot is null for " + kPhrase}));
}

TEST(ReplyEnvelopeEdges, DeviceErrorCodeFillsTheRecordAndLogsCodeAndDes) {
    LogCapture log;
    HttpPostRspCode rsp;
    Json::Value root;
    EXPECT_FALSE(DeviceCall(Scribo::subAlbum, kFunction)
                     .CheckReply(R"({"code":1001,"des":"album busy"})", kPhrase, root, &rsp));
    EXPECT_EQ(rsp.code, 1001);
    EXPECT_EQ(rsp.des, "album busy");
    EXPECT_EQ(log.Count(kFunction, "http req del user album error: 1001, album busy"), 1u);
}

TEST(ReplyEnvelopeEdges, CodeZeroOrAbsentIsSuccessAndStillFillsTheRecord) {
    LogCapture log;
    const DeviceCall call(Scribo::subAlbum, kFunction);
    for (const char* reply : {R"({"code":0})", R"({"albumId":5})", R"({"code":"0","des":"ok"})"}) {
        HttpPostRspCode rsp{7, "stale"};
        Json::Value root;
        EXPECT_TRUE(call.CheckReply(reply, kPhrase, root, &rsp)) << reply;
        EXPECT_EQ(rsp.code, 0);
        EXPECT_EQ(rsp.des, JsonUtil::GetStrValFromJson(root, "des"));
    }
    EXPECT_TRUE(log.Records().empty());
}

TEST(ReplyEnvelopeEdges, ExtraSuccessCodesAreAcceptedOnlyWhereAsked) {
    LogCapture log;
    const DeviceCall call(Scribo::subGallery, "PhotoIntfZEQ::ParseSelectdMetadataRsp");
    Json::Value root;
    ASSERT_TRUE(call.ParseReply(R"({"code":30103})", "p", root));
    EXPECT_TRUE(call.CheckCode(root, "p", nullptr, {0, 30103}));
    EXPECT_FALSE(call.CheckCode(root, "p", nullptr));
    EXPECT_EQ(log.Count("PhotoIntfZEQ::ParseSelectdMetadataRsp", "p error: 30103, "), 1u);
}

// The whole call against a real device stand-in.
class DeviceCallRoundTrip : public testing::Test {
protected:
    testsupport::TestServer server;
    testsupport::DeviceHost host{server.BaseUrl()};
    LogCapture log;
    DeviceCall call{Scribo::subAlbum, kFunction};
};

TEST_F(DeviceCallRoundTrip, PostDeliversTheParsedReply) {
    server.Script("/gallery/delAlbum", {Reply::Json(R"({"code":0,"albumId":12})")});
    Json::Value root;
    HttpPostRspCode rsp;
    ASSERT_TRUE(
        call.Post("gallery/delAlbum", R"({"a":1})", "post del user album", kPhrase, root, &rsp));
    EXPECT_EQ(JsonUtil::GetInt64ValFromJson(root, "albumId", 0), 12);
    EXPECT_EQ(server.Requests().front().body, R"({"a":1})");
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(DeviceCallRoundTrip, GetCarriesQueryAndExtraHeaders) {
    server.Script("/filesvc/list", {Reply::Json(R"({"code":0})")});
    Json::Value root;
    ASSERT_TRUE(call.Get("filesvc/list", {{"path", "/a"}}, "get list", "http get list", root,
                         nullptr, {{"Dest-File", "%2fa"}}));
    const auto request = server.Requests().front();
    EXPECT_EQ(request.query, "clientType=3&deviceId=" + HttpReqZEQ::reqDeviceId + "&path=/a");
    // The test server hands header values over percent-decoded.
    EXPECT_EQ(request.Header("Dest-File"), "/a");
}

TEST_F(DeviceCallRoundTrip, RequestPreparationFailureIsLoggedWithTheRequestPhrase) {
    host.SetBaseUrl("https://");
    Json::Value root;
    EXPECT_FALSE(call.Post("gallery/delAlbum", "{}", "post del user album", kPhrase, root));
    EXPECT_EQ(log.Count(kFunction, "http request init failed for post del user album"), 1u);
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(DeviceCallRoundTrip, TransferFailureIsLoggedWithTheRequestPhrase) {
    host.SetBaseUrl("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    Json::Value root;
    EXPECT_FALSE(call.Post("gallery/delAlbum", "{}", "post del user album", kPhrase, root));
    EXPECT_EQ(log.Count(kFunction, "http request do failed for post del user album"), 1u);
}

TEST_F(DeviceCallRoundTrip, DeviceErrorAfterRetriesReachesTheEnvelope) {
    server.Script("/gallery/delAlbum", {Reply::Status(500, R"({"code":5,"des":"x"})")});
    Json::Value root;
    HttpPostRspCode rsp;
    EXPECT_FALSE(call.Post("gallery/delAlbum", "{}", "post del user album", kPhrase, root, &rsp));
    EXPECT_EQ(server.RequestCount(), 3u);
    EXPECT_EQ(rsp.code, 5);
    EXPECT_EQ(rsp.des, "x");
    EXPECT_EQ(log.Count(kFunction, "http req del user album error: 5, x"), 1u);
}

} // namespace
