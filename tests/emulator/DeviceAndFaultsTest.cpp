// The device's own paths, injected faults, and the state file's guarantees.

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"
#include "emulator/StateFile.h"

#include <filesystem>
#include <fstream>

namespace emutest {
namespace {

namespace code = zeqemu::code;
namespace fs = std::filesystem;

class DeviceTest : public EmulatorTest {
protected:
    void SetUp() override { Start(false); }
};

TEST_F(DeviceTest, IdentityUsersDisksAndCopyright) {
    const auto info = m_client->Get("cfg/system/device_info");
    for (const char* key : {"SerialNumber", "MacAddress", "FriendlyName", "DeviceName"}) {
        EXPECT_FALSE(info.json["body"][key].asString().empty()) << key;
    }
    // The user list is a bare array, not an envelope.
    const auto users = m_client->Get("account/userManageInfo");
    ASSERT_TRUE(users.json.isArray()) << users.text;
    EXPECT_EQ(users.json[0]["name"], "admin");

    auto disks = m_client->Get("devmanage/diskChange").json["diskChangeInfo"];
    const auto before = disks.size();
    m_emulator->SimulateDiskEvent(3, 1);
    disks = m_client->Get("devmanage/diskChange").json["diskChangeInfo"];
    ASSERT_EQ(disks.size(), before + 1);
    EXPECT_EQ(disks[before]["slot"].asInt(), 3);
    EXPECT_EQ(disks[before]["eventType"].asInt(), 1);
    EXPECT_TRUE(disks[before].isMember("diskCapacityLevevl"));

    // Fetched by a generic downloader: no client ids, credentials required.
    const auto page = m_client->Send("GET", "/html/copyright.html?usb=true", {}, "");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.text.find("<html"), std::string::npos);
    m_client->SetCredentials("test-cookie", "wrong");
    EXPECT_EQ(m_client->Send("GET", "/html/copyright.html?usb=true", {}, "").status, 401);
}

TEST_F(DeviceTest, StatisticsFollowTheDataDirectory) {
    const auto before = m_client->Get("account/userDataStatisInfo").json;
    std::ofstream(m_dir.Path() / "files" / "public" / "big.bin") << std::string(5000, 'x');
    const auto after = m_client->Get("account/userDataStatisInfo").json;
    EXPECT_EQ(after["publicUsage"].asInt64() - before["publicUsage"].asInt64(), 5000);
    EXPECT_EQ(after["usedSize"].asInt64() - before["usedSize"].asInt64(), 5000);
    EXPECT_GT(after["totalSize"].asInt64(), after["usedSize"].asInt64());
}

class FaultTest : public EmulatorTest {};

TEST_F(FaultTest, InjectedFailuresChangeNothing) {
    auto options = TestOptions(m_dir.Path(), false);
    options.faults.errorPercent = 100;
    Start(options);
    Json::Value body;
    body["path"] = "/Never";
    const auto answer = m_client->Post("filesvc/mkdir", body);
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.Code(), code::kInjectedFault);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "files" / "user" / "Never"));
}

TEST_F(FaultTest, DroppedRepliesGiveTheClientNoAnswer) {
    auto options = TestOptions(m_dir.Path(), false);
    options.faults.dropPercent = 100;
    Start(options);
    EXPECT_EQ(m_client->Get("filesvc/usbStatus").status, 0);
}

TEST_F(FaultTest, SlowBodiesArriveWhole) {
    auto options = TestOptions(m_dir.Path(), false);
    options.faults.slowChunkBytes = 7;
    options.faults.slowInterval = std::chrono::milliseconds(1);
    Start(options);
    const auto answer = m_client->Get("cfg/system/device_info");
    EXPECT_EQ(answer.Code(), 0) << answer.text;
    EXPECT_TRUE(answer.json["body"].isObject());
}

TEST(StateFileTest, ReplacesWholeAndRefusesDamage) {
    TempDir dir;
    const zeqemu::StateFile file(dir.Path() / "state" / "x.json");
    EXPECT_TRUE(file.Load().isNull());
    Json::Value doc;
    doc["n"] = 1;
    file.Save(doc);
    doc["n"] = 2;
    file.Save(doc);
    EXPECT_EQ(file.Load()["n"].asInt(), 2);
    // A temporary left by a crash mid-write is never read.
    std::ofstream(dir.Path() / "state" / "x.json.tmp") << "{\"n\":";
    EXPECT_EQ(file.Load()["n"].asInt(), 2);
    // A damaged document stops the start rather than starting over empty.
    std::ofstream(file.Path(), std::ios::trunc) << "{\"n\":";
    EXPECT_THROW(file.Load(), std::runtime_error);
}

} // namespace
} // namespace emutest
