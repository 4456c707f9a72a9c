// Tasks that span areas or families: asynchronous gallery operations and
// their task types, copies between the gallery and the file area, batch
// operations, and the USB area.

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"

#include <filesystem>
#include <fstream>
#include <map>

namespace emutest {
namespace {

namespace code = zeqemu::code;
namespace fs = std::filesystem;

class CrossAreaTaskTest : public EmulatorTest {
protected:
    void StartWith(const std::string& caps) {
        auto options = TestOptions(m_dir.Path());
        options.capabilities = zeqemu::Capabilities::Parse(caps);
        Start(options);
    }
    std::int64_t Started(const Answer& answer) const {
        EXPECT_EQ(answer.Code(), 0) << answer.text;
        const auto id = answer.json["taskId"].asInt64();
        EXPECT_TRUE(Settled(id));
        return id;
    }
    Json::Value GalleryTasks(const std::vector<int>& types) const {
        Json::Value body;
        body["taskCategory"] = 2;
        body["taskId"] = Json::Value(Json::arrayValue);
        body["taskTypes"] = Json::Value(Json::arrayValue);
        for (const auto type : types) {
            body["taskTypes"].append(type);
        }
        return m_client->Post("gallery/getAllTaskStatus", body).json["data"]["tasks"];
    }
    Json::Value BinIds() const {
        Json::Value query;
        query["offset"] = 0;
        query["num"] = 100;
        return m_client->Post("gallery/queryBin", query).json["data"];
    }
};

TEST_F(CrossAreaTaskTest, AsynchronousGalleryOperationsRunAsTypedTasks) {
    StartWith("6,7,8,10");
    Json::Value body;
    body["clientType"] = 3;
    body["deviceId"] = "d";
    body["userId"] = "u";
    body["transId"] = "g-1";
    body["subTaskId"] = 1;
    body["membs"] = AlbumMembers({1, 2});
    const auto deleted = Started(m_client->Post("gallery/delFileAsync", body));
    EXPECT_EQ(BinIds().size(), 4u);
    const auto recovered = Started(m_client->Post("gallery/recoverFileAsync", body));
    EXPECT_EQ(BinIds().size(), 2u);
    body["empty"] = 0;
    body["membs"] = AlbumMembers({35});
    const auto cleaned = Started(m_client->Post("gallery/cleanBinAsync", body));
    EXPECT_EQ(BinIds().size(), 1u);

    Json::Value album;
    album["albumId"] = 1;
    album["albumName"] = "Holidays";
    album["albumType"] = 1;
    album["membs"] = AlbumMembers({30, 31});
    album["addTime"] = 0;
    const auto added = Started(m_client->Post("gallery/addAlbumMembAsync", album));
    EXPECT_EQ(m_client->Get("gallery/albumCfg", {{"albumType", "1"}, {"albumId", "1"}})
                  .json["data"]["num"]
                  .asInt(),
              14);

    const auto tasks = GalleryTasks({300, 302, 303, 304, 305});
    std::map<std::int64_t, int> typeOf;
    for (const auto& task : tasks) {
        typeOf[task["taskId"].asInt64()] = task["taskType"].asInt();
        EXPECT_EQ(task["progress"].asInt(), 100);
    }
    EXPECT_EQ(typeOf[deleted], 303);
    EXPECT_EQ(typeOf[recovered], 304);
    EXPECT_EQ(typeOf[cleaned], 305);
    EXPECT_EQ(typeOf[added], 300);
    EXPECT_EQ(GalleryTasks({303}).size(), 1u);

    // Asking for a file that is not in the bin fails that task.
    body["membs"] = AlbumMembers({3});
    const auto failed = Started(m_client->Post("gallery/recoverFileAsync", body));
    Json::Value one;
    one["taskCategory"] = 3;
    one["taskId"].append(static_cast<Json::Int64>(failed));
    const auto record = m_client->Post("gallery/getAllTask", one).json["data"]["tasks"];
    ASSERT_EQ(record.size(), 1u);
    EXPECT_EQ(record[0]["progress"].asInt(), -1);
    EXPECT_EQ(record[0]["errorInfo"]["detail"][0]["id"], "3");
}

TEST_F(CrossAreaTaskTest, WithoutCapabilitySevenClearingTheBinIsADeletion) {
    StartWith("6");
    Json::Value body;
    body["deviceId"] = "d";
    body["transId"] = "g";
    body["subTaskId"] = 0;
    body["empty"] = 1;
    body["membs"] = Json::Value(Json::arrayValue);
    const auto id = Started(m_client->Post("gallery/cleanBinAsync", body));
    EXPECT_EQ(BinIds().size(), 0u);
    const auto tasks = GalleryTasks({});
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0]["taskId"].asInt64(), id);
    EXPECT_EQ(tasks[0]["taskType"].asInt(), 303);
}

TEST_F(CrossAreaTaskTest, CopiesBetweenGalleryAndFiles) {
    StartWith("6,7,8,10");
    Json::Value out;
    out["deviceId"] = "d";
    out["clientType"] = 3;
    out["transId"] = "x-1";
    out["subTaskId"] = 2;
    out["src"]["service"] = "gallery";
    out["src"]["files"][0]["fid"] = 5;
    out["src"]["files"][0]["category"] = "";
    out["dest"]["service"] = "file";
    out["dest"]["dirs"][0]["albumId"] = 0;
    out["dest"]["dirs"][0]["albumType"] = 0;
    out["dest"]["dirs"][0]["path"] = "/Documents";
    out["dest"]["dirs"][0]["category"] = "user";
    out["dest"]["dirs"][0]["addTime"] = 0;
    const auto toFiles = m_client->Post("trans/acrosscopy", out);
    const auto& result = toFiles.json["data"]["tasks"][0];
    EXPECT_EQ(result["transId"], "x-1") << toFiles.text;
    const auto outId = result["id"].asInt64();
    ASSERT_TRUE(Settled(outId));
    EXPECT_EQ(m_client
                  ->Post("trans/acrossstatus",
                         [&] {
                             Json::Value q;
                             q["task"][0]["id"] = static_cast<Json::Int64>(outId);
                             return q;
                         }())
                  .json["data"]["tasks"][0]["status"]
                  .asInt(),
              3);
    const auto copied = m_dir.Path() / "files" / "user" / "Documents" / "IMG_20231004.jpg";
    EXPECT_TRUE(fs::exists(copied));
    // A retry goes on after the steps that ran: the second target is a file
    // and fails again, and the first one gets no second copy.
    const auto again = m_dir.Path() / "files" / "user" / "Again";
    fs::create_directories(again);
    out["dest"]["dirs"][0]["path"] = "/Again";
    out["dest"]["dirs"][1] = out["dest"]["dirs"][0];
    out["dest"]["dirs"][1]["path"] = "/Documents/notes.txt";
    Json::Value retry;
    retry["taskId"] = m_client->Post("trans/acrosscopy", out).json["data"]["tasks"][0]["id"];
    retry["isSupportSubTask"] = 0;
    ASSERT_TRUE(Settled(retry["taskId"].asInt64()));
    EXPECT_EQ(m_client->Post("trans/retryTask", retry).Code(), 0);
    ASSERT_TRUE(Settled(retry["taskId"].asInt64()));
    EXPECT_EQ(std::distance(fs::directory_iterator(again), fs::directory_iterator()), 1);

    Json::Value in;
    in["deviceId"] = "d";
    in["src"]["service"] = "file";
    in["src"]["files"][0]["fid"] = 0;
    in["src"]["files"][0]["path"] = "/Photos/IMG_0001.jpg";
    in["src"]["files"][0]["category"] = "user";
    in["dest"]["service"] = "gallery";
    in["dest"]["dirs"][0]["albumId"] = 2;
    in["dest"]["dirs"][0]["albumType"] = 1;
    in["dest"]["dirs"][0]["category"] = "";
    in["dest"]["dirs"][0]["addTime"] = 0;
    const auto before = m_client->Get("gallery/albumCfg", {{"albumType", "1"}, {"albumId", "2"}})
                            .json["data"]["num"]
                            .asInt();
    const auto inId = m_client->Post("trans/acrosscopy", in).json["data"]["tasks"][0]["id"];
    ASSERT_TRUE(Settled(inId.asInt64()));
    EXPECT_EQ(m_client->Get("gallery/albumCfg", {{"albumType", "1"}, {"albumId", "2"}})
                  .json["data"]["num"]
                  .asInt(),
              before + 1);
    // A text file is no gallery item: refused when the step runs.
    in["src"]["files"][0]["path"] = "/Documents/notes.txt";
    const auto refused = m_client->Post("trans/acrosscopy", in).json["data"]["tasks"][0]["id"];
    ASSERT_TRUE(Settled(refused.asInt64()));
    Json::Value status;
    status["taskId"] = refused;
    status["category"] = "user";
    EXPECT_EQ(
        m_client->Post("trans/getTaskStatus", status).json["data"]["tasks"][0]["progress"].asInt(),
        -1);
}

TEST_F(CrossAreaTaskTest, BatchOperationsAndTheUsbArea) {
    StartWith("6,7,8,10");
    const auto usb = m_client->Get("filesvc/usbStatus");
    EXPECT_TRUE(usb.json["data"]["status"].asBool()) << usb.text;
    EXPECT_EQ(usb.json["data"]["info"][0]["name"], "usb1");
    const auto disks = m_client->List("/mnt/usb/");
    EXPECT_EQ(disks.json["data"]["parentPath"], "/mnt/usb/");
    EXPECT_EQ(EntryNamed(disks, "usb1")["type"].asInt(), 3);

    Json::Value task;
    task["deviceId"] = "d";
    task["clientType"] = 3;
    task["subTaskId"] = 4;
    task["transId"] = "b-1";
    task["name"] = "tidy";
    task["type"] = 1;
    task["srcPath"].append("/mnt/usb/usb1/camera.jpg");
    task["srcPath"].append("/Music");
    Json::Value body;
    body["tasks"].append(task);
    const auto started =
        m_client->Post("filesvc/batchOperation", body,
                       {{"category", "user"}, {"operation", "recycle"}, {"type", "file"}});
    const auto& result = started.json["data"]["tasks"][0];
    EXPECT_EQ(result["transId"], "b-1") << started.text;
    ASSERT_TRUE(Settled(result["taskId"].asInt64()));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "usb" / "usb1" / "camera.jpg"));
    const auto bin =
        m_client->Get("filesvc/recycleFiles", {{"limit", "10"}, {"offset", "0"}, {"category", ""}});
    ASSERT_EQ(bin.json["data"]["count"].asInt(), 2) << bin.text;

    // Restore both through a second batch, by recycle bin id (as text).
    Json::Value restore = task;
    restore.removeMember("srcPath");
    for (const auto& entry : bin.json["data"]["files"]) {
        restore["rid"].append(std::to_string(entry["rid"].asInt64()));
    }
    Json::Value restoreBody;
    restoreBody["tasks"].append(restore);
    const auto restored = m_client->Post("filesvc/batchOperation", restoreBody,
                                         {{"category", "user"}, {"operation", "restore"}});
    ASSERT_TRUE(Settled(restored.json["data"]["tasks"][0]["taskId"].asInt64()));
    EXPECT_TRUE(fs::exists(m_dir.Path() / "usb" / "usb1" / "camera.jpg"));
    EXPECT_TRUE(fs::is_directory(m_dir.Path() / "files" / "user" / "Music"));

    Json::Value list;
    list["taskCategory"] = 3;
    list["taskTypes"].append(405);
    list["taskTypes"].append(407);
    EXPECT_EQ(m_client->Post("filesvc/getAllTaskStatus", list).json["data"]["tasks"].size(), 2u);
    EXPECT_EQ(
        m_client
            ->Post("filesvc/batchOperation", body, {{"category", "user"}, {"operation", "explode"}})
            .Code(),
        code::kBadField);
}

TEST(CapabilitiesTest, ParsesTheFlagAndRefusesUnknownNumbers) {
    EXPECT_EQ(zeqemu::Capabilities::Parse("10, 6").ToString(), "6,10");
    EXPECT_EQ(zeqemu::Capabilities::Parse("none").ToString(), "none");
    EXPECT_EQ(zeqemu::Capabilities::Parse("").Offered().size(), 0u);
    EXPECT_THROW(zeqemu::Capabilities::Parse("6,9"), std::invalid_argument);
    EXPECT_THROW(zeqemu::Capabilities::Parse("6x"), std::invalid_argument);
}

} // namespace
} // namespace emutest
