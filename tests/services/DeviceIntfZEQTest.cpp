#include "services/DeviceIntfZEQ.h"
#include "context/ClientUtils.h"
#include "platform/GlobalParamWrapper.h"
#include "support/DeviceHost.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::DeviceHost;
using testsupport::LogCapture;
using testsupport::Reply;
using testsupport::TestServer;

class DeviceService : public testing::Test {
protected:
    void Answer(const std::string& path, const std::string& body) {
        server.Script(path, {Reply::Json(body)});
    }

    // Lines of this service, as "function: message".
    std::vector<std::string> Lines() const { return log.Messages(); }

    TestServer server;
    DeviceHost host{server.BaseUrl()};
    LogCapture log;
    DeviceIntfZEQ& device = DeviceIntfZEQ::Instance();
};

TEST_F(DeviceService, StatisticsCapTheSumOfUsagesAtTheCapacity) {
    Answer("/account/userDataStatisInfo",
           R"({"code":0,"totalSize":100,"userUsage":30,"membersUsage":50,"publicUsage":40,)"
           R"("usedSize":7,"singleUsage":"5","doubleUsage":6})");
    DiskStatisInfo info;
    ASSERT_TRUE(device.GetUserDataStatisInfo(info));
    EXPECT_EQ(info.totalSize, 100);
    EXPECT_EQ(info.usedSize, 100);
    EXPECT_EQ(info.userUsage, 30);
    EXPECT_EQ(info.membersUsage, 50);
    EXPECT_EQ(info.publicUsage, 40);
    EXPECT_EQ(info.singleUsage, 5);
    EXPECT_EQ(info.doubleUsage, 6);
    const auto request = server.Requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_TRUE(request.query.starts_with("clientType=3&deviceId=")) << request.query;
}

TEST_F(DeviceService, StatisticsNeverReportANegativeSize) {
    Answer("/account/userDataStatisInfo", R"({"totalSize":-1,"userUsage":0,"usedSize":9})");
    DiskStatisInfo info;
    ASSERT_TRUE(device.GetUserDataStatisInfo(info));
    EXPECT_EQ(info.totalSize, 0);
    EXPECT_EQ(info.usedSize, 0);
}

// Found by fuzzing: the shares were summed in 64 bits, which overflowed.
TEST_F(DeviceService, StatisticsSumSharesBeyondTheSixtyFourBitRange) {
    Answer("/account/userDataStatisInfo",
           R"({"totalSize":100,"userUsage":9223372036854775807,"membersUsage":1,)"
           R"("publicUsage":9223372036854775807})");
    DiskStatisInfo info;
    ASSERT_TRUE(device.GetUserDataStatisInfo(info));
    EXPECT_EQ(info.usedSize, 100);
    EXPECT_EQ(info.userUsage, 9223372036854775807);

    Answer("/account/userDataStatisInfo",
           R"({"totalSize":100,"userUsage":-9223372036854775808,"membersUsage":-1})");
    ASSERT_TRUE(device.GetUserDataStatisInfo(info));
    EXPECT_EQ(info.usedSize, 0);
    EXPECT_EQ(info.totalSize, 100);
}

TEST_F(DeviceService, ADeviceErrorCodeIsLoggedWithItsText) {
    Answer("/account/userDataStatisInfo", R"({"code":3,"des":"x"})");
    Answer("/cfg/system/device_info", R"({"code":-2,"des":"busy"})");
    DiskStatisInfo statis;
    DeviceInfo info;
    EXPECT_FALSE(device.GetUserDataStatisInfo(statis));
    EXPECT_FALSE(device.GetDeviceInfo(info));
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "DeviceIntfZEQ::GetUserDataStatisInfo: http get device disk statistics "
                           "info error: 3, x",
                           "DeviceIntfZEQ::GetDeviceInfo: http get device info error: -2, busy"}));
    const auto record = log.Records().at(0);
    EXPECT_EQ(record.module, Scribo::subDevice);
    EXPECT_EQ(record.severity, Scribo::LOG_ERROR);
}

TEST_F(DeviceService, DeviceInfoIsReadFromTheBody) {
    Answer("/cfg/system/device_info",
           R"({"code":0,"body":{"DeviceName":"box","FriendlyName":"Home","MacAddress":"aa:bb",)"
           R"("SerialNumber":"SN1"},"DeviceName":"not here"})");
    DeviceInfo info;
    ASSERT_TRUE(device.GetDeviceInfo(info));
    EXPECT_EQ(info.deviceName, "box");
    EXPECT_EQ(info.friendlyName, "Home");
    EXPECT_EQ(info.macAddress, "aa:bb");
    EXPECT_EQ(info.serialNumber, "SN1");
}

TEST_F(DeviceService, DeviceInfoWithoutABodyIsEmptyButSuccessful) {
    Answer("/cfg/system/device_info", R"({"code":0})");
    DeviceInfo info{"old", "old", "old", "old"};
    ASSERT_TRUE(device.GetDeviceInfo(info));
    EXPECT_EQ(info.deviceName, "");
    EXPECT_EQ(info.serialNumber, "");
}

TEST_F(DeviceService, DiskSlotEventsAreReadInOrderWithoutTheEnvelope) {
    Answer("/devmanage/diskChange",
           R"({"code":7,"diskChangeInfo":[{"slot":1,"newSlot":2,"sn":"S","isExist":1,)"
           R"("eventType":3,"usedSize":"40","totalSize":90,"diskCapacityLevevl":2},{"slot":5}]})");
    const auto slots = device.GetDiskStatusInfo();
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].slot, 1);
    EXPECT_EQ(slots[0].newSlot, 2);
    EXPECT_EQ(slots[0].sn, "S");
    EXPECT_EQ(slots[0].isExist, 1);
    EXPECT_EQ(slots[0].eventType, 3);
    EXPECT_EQ(slots[0].usedSize, 40);
    EXPECT_EQ(slots[0].totalSize, 90);
    EXPECT_EQ(slots[0].diskCapacityLevel, 2);
    EXPECT_EQ(slots[1].slot, 5);
    EXPECT_EQ(slots[1].sn, "");
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(DeviceService, DiskSlotRepliesWithoutAListGiveNoSlotsAndNoComplaint) {
    for (const char* reply : {R"({"code":0})", "[1,2]", R"({"diskChangeInfo":{"slot":1}})"}) {
        Answer("/devmanage/diskChange", reply);
        EXPECT_TRUE(device.GetDiskStatusInfo().empty()) << reply;
    }
    EXPECT_TRUE(log.Records().empty());
}

TEST_F(DeviceService, UserListSkipsEntriesThatAreNotObjects) {
    Answer("/account/userManageInfo",
           R"([{"uid":1,"userId":"11","state":2,"level":3,"name":"a","nick":"n","avatar":"v"},)"
           R"(5,{"uid":2},null])");
    std::vector<DeviceUserInfo> users(1);
    ASSERT_TRUE(device.GetDeviceUserListInfo(users));
    ASSERT_EQ(users.size(), 3u) << "the vector is appended to, not cleared";
    EXPECT_EQ(users[1].uid, 1);
    EXPECT_EQ(users[1].userId, 11);
    EXPECT_EQ(users[1].state, 2);
    EXPECT_EQ(users[1].level, 3);
    EXPECT_EQ(users[1].name, "a");
    EXPECT_EQ(users[1].nick, "n");
    EXPECT_EQ(users[1].avatar, "v");
    EXPECT_EQ(users[2].uid, 2);
    EXPECT_EQ(users[2].name, "");
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{
                  "DeviceIntfZEQ::GetDeviceUserListInfo: user model json err at index:1",
                  "DeviceIntfZEQ::GetDeviceUserListInfo: user model json err at index:3"}));
    EXPECT_EQ(log.Records().at(0).module, Scribo::subGallery);
}

TEST_F(DeviceService, AnEmptyUserListIsASuccess) {
    Answer("/account/userManageInfo", "[]");
    std::vector<DeviceUserInfo> users;
    EXPECT_TRUE(device.GetDeviceUserListInfo(users));
    EXPECT_TRUE(users.empty());
}

struct BadUserList {
    const char* reply;
    const char* message;
};

void PrintTo(const BadUserList& bad, std::ostream* os) {
    *os << bad.reply;
}

class UserListReply : public DeviceService, public testing::WithParamInterface<BadUserList> {};

TEST_P(UserListReply, IsRejectedWithItsOwnLine) {
    Answer("/account/userManageInfo", GetParam().reply);
    std::vector<DeviceUserInfo> users;
    EXPECT_FALSE(device.GetDeviceUserListInfo(users));
    EXPECT_EQ(log.Count("DeviceIntfZEQ::GetDeviceUserListInfo", GetParam().message), 1u)
        << testing::PrintToString(Lines());
    EXPECT_TRUE(users.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, UserListReply,
    testing::Values(BadUserList{"[{", "StringToCppJsonObj failed for get user list info"},
                    BadUserList{"null", "jsonRoot is null for get user list info"},
                    BadUserList{"", "jsonRoot is null for get user list info"},
                    BadUserList{R"({"code":0})", "jsonRoot is not array for get user list info"}));

// One operation of the service and the phrase its request failures name.
struct Operation {
    const char* name;
    const char* function;
    const char* phrase;
    std::function<bool()> fails;
};

void PrintTo(const Operation& operation, std::ostream* os) {
    *os << operation.name;
}

class RequestFailure : public testing::TestWithParam<Operation> {};

TEST_P(RequestFailure, WithoutConnectionInfoThePreparationFails) {
    LogCapture log;
    EXPECT_TRUE(GetParam().fails());
    EXPECT_EQ(log.Count(GetParam().function,
                        std::string("http request init failed for ") + GetParam().phrase),
              1u)
        << testing::PrintToString(log.Messages());
}

TEST_P(RequestFailure, WithoutAnyReplyTheRequestFails) {
    DeviceHost host("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    LogCapture log;
    EXPECT_TRUE(GetParam().fails());
    EXPECT_EQ(log.Count(GetParam().function,
                        std::string("http request do failed for ") + GetParam().phrase),
              1u)
        << testing::PrintToString(log.Messages());
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RequestFailure,
    testing::Values(Operation{"Statistics", "DeviceIntfZEQ::GetUserDataStatisInfo",
                              "get device disk statistics info",
                              [] {
                                  DiskStatisInfo info;
                                  return !DeviceIntfZEQ::Instance().GetUserDataStatisInfo(info);
                              }},
                    Operation{"DeviceInfo", "DeviceIntfZEQ::GetDeviceInfo", "get device info",
                              [] {
                                  DeviceInfo info;
                                  return !DeviceIntfZEQ::Instance().GetDeviceInfo(info);
                              }},
                    Operation{"DiskStatus", "DeviceIntfZEQ::GetDiskStatusInfo", "get disk info",
                              [] { return DeviceIntfZEQ::Instance().GetDiskStatusInfo().empty(); }},
                    Operation{"UserList", "DeviceIntfZEQ::GetDeviceUserListInfo",
                              "get user list info",
                              [] {
                                  std::vector<DeviceUserInfo> users;
                                  return !DeviceIntfZEQ::Instance().GetDeviceUserListInfo(users);
                              }}),
    [](const testing::TestParamInfo<Operation>& info) { return info.param.name; });

class Copyright : public DeviceService {
protected:
    void SetUp() override {
        GlobalParamWrapper::GetInstance()->SetAppDataLocalPath(UTF8ToUnicode(folder.string()));
    }
    void TearDown() override { GlobalParamWrapper::GetInstance()->SetAppDataLocalPath(L""); }

    std::string Contents(const fs::path& path) const {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The generic service's lines, forwarded under this operation's name.
    std::vector<std::string> Forwarded() const {
        std::vector<std::string> lines;
        for (const auto& record : log.Records()) {
            if (record.module == Scribo::subSetting && record.severity == Scribo::LOG_NET &&
                !record.flag && record.function == "DeviceIntfZEQ::DownloadZEQCopyright") {
                lines.push_back(record.message);
            }
        }
        return lines;
    }

    testsupport::TempDir temp;
    const fs::path folder = temp.Path();
};

TEST_F(Copyright, IsSavedInTheApplicationDataFolder) {
    server.Script("/html/copyright.html", {Reply::Status(200, "<p>(c)</p>")});
    const std::wstring path = device.DownloadZEQCopyright();
    EXPECT_EQ(path, UTF8ToUnicode((folder / "copyright.html").string()));
    EXPECT_EQ(Contents(folder / "copyright.html"), "<p>(c)</p>");

    const auto request = server.Requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.query, "usb=true");
    EXPECT_EQ(request.Header("Cookie"), std::string("ID=") + DeviceHost::kCookieId);
    EXPECT_EQ(request.Header("Token"), DeviceHost::kToken);
    EXPECT_EQ(Forwarded(),
              std::vector<std::string>{"httpRequest Method:GET\nCurlCode: 0\nHttpCode= 200"});
    for (const auto& record : log.Records()) {
        EXPECT_EQ(record.message.find(DeviceHost::kToken), std::string::npos);
        EXPECT_EQ(record.message.find(DeviceHost::kCookieId), std::string::npos);
    }
}

TEST_F(Copyright, AFailedDownloadStillGivesThePath) {
    server.Script("/html/copyright.html", {Reply::Status(404, "missing")});
    EXPECT_EQ(device.DownloadZEQCopyright(), UTF8ToUnicode((folder / "copyright.html").string()));
    EXPECT_FALSE(fs::exists(folder / "copyright.html"));
    ASSERT_FALSE(Forwarded().empty());
    EXPECT_EQ(Forwarded().back(), "DownloadFile: no file written, CurlCode: 0, HttpCode= 404");
}

TEST(CopyrightWithoutHost, NeedsTheDataConnectionCallback) {
    LogCapture log;
    EXPECT_EQ(DeviceIntfZEQ::Instance().DownloadZEQCopyright(), L"");
    ASSERT_EQ(log.Records().size(), 1u);
    const auto record = log.Records().at(0);
    EXPECT_EQ(record.function, "DeviceIntfZEQ::DownloadZEQCopyright");
    EXPECT_EQ(record.message, "getZeqDataConnInfo uninitialized error!");
    EXPECT_EQ(record.module, Scribo::subCloudSuite);
    EXPECT_EQ(record.severity, Scribo::LOG_ERROR);
}

} // namespace
