// Background tasks through the task-center paths, capability gating, and
// what survives a restart of the device.

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"

#include <filesystem>
#include <fstream>

namespace emutest {
namespace {

namespace code = zeqemu::code;
namespace fs = std::filesystem;

using zeqemu::Emulator;

class TaskFlowTest : public EmulatorTest {
protected:
    fs::path Real(const std::string& relative) const {
        return m_dir.Path() / "files" / "user" / relative;
    }
    void Touch(const std::string& relative, const std::string& text) const {
        fs::create_directories(Real(relative).parent_path());
        std::ofstream(Real(relative)) << text;
    }
    Answer Copy(const std::string& source, const std::string& destination,
                const std::string& path = "trans/copy") const {
        Json::Value task;
        task["name"] = "copy of " + source;
        task["sPaths"].append(source);
        task["dPath"] = destination;
        task["sCategory"] = "user";
        task["dCategory"] = "user";
        task["dVersion"] = 0;
        task["deviceId"] = "test-device";
        task["subTaskId"] = 7;
        task["transId"] = "tr-1";
        Json::Value body;
        body["tasks"].append(task);
        return m_client->Post(path, body, {{"category", "user"}});
    }
    Json::Value Status(std::int64_t taskId) const {
        Json::Value body;
        body["taskId"] = static_cast<Json::Int64>(taskId);
        body["category"] = "user";
        const auto answer = m_client->Post("trans/getTaskStatus", body);
        EXPECT_EQ(answer.Code(), 0) << answer.text;
        return answer.json["data"]["tasks"][0];
    }
    Answer ByIds(const char* path, std::int64_t taskId) const {
        Json::Value body;
        body["taskIdList"].append(static_cast<Json::Int64>(taskId));
        return m_client->Post(path, body);
    }
};

TEST_F(TaskFlowTest, CopyRunsToOneHundredAndCopiesTheFiles) {
    Start(false);
    Touch("Src/a.txt", "alpha");
    Touch("Src/deep/b.txt", "beta");
    fs::create_directories(Real("Dst"));
    const auto started = Copy("/Src", "/Dst");
    ASSERT_EQ(started.Code(), 0) << started.text;
    const auto& result = started.json["data"]["tasks"][0];
    const auto taskId = result["id"].asInt64();
    EXPECT_EQ(result["centerId"].asInt64(), taskId);
    EXPECT_EQ(result["subtaskId"].asInt64(), 7);
    EXPECT_EQ(result["transId"], "tr-1");

    ASSERT_TRUE(Settled(taskId));
    const auto status = Status(taskId);
    EXPECT_EQ(status["progress"].asInt(), 100) << status.toStyledString();
    EXPECT_EQ(status["taskType"].asInt(), 100);
    EXPECT_EQ(status["sumNum"].asInt(), 4); // folder, a.txt, deep, deep/b.txt
    EXPECT_EQ(status["finishedNum"].asInt(), 4);
    EXPECT_EQ(status["errorInfo"]["errorCode"].asInt(), 0);
    std::ifstream copied(Real("Dst/Src/deep/b.txt"));
    std::string text;
    copied >> text;
    EXPECT_EQ(text, "beta");
    EXPECT_TRUE(fs::exists(Real("Src/a.txt"))) << "a copy leaves the source";

    // A second copy into the same folder never overwrites.
    const auto again = Copy("/Src", "/Dst").json["data"]["tasks"][0]["id"].asInt64();
    ASSERT_TRUE(Settled(again));
    EXPECT_TRUE(fs::exists(Real("Dst/Src (1)/a.txt")));

    // The listing of the family shows both; finished records can be cleaned.
    Json::Value list;
    list["taskCategory"] = 2;
    list["taskId"] = Json::Value(Json::arrayValue);
    list["taskTypes"].append(100);
    EXPECT_EQ(m_client->Post("trans/getAllTaskStatus", list).json["data"]["tasks"].size(), 2u);
    EXPECT_EQ(ByIds("trans/cleanTaskRecord", taskId).json["errorIdList"].size(), 0u);
    EXPECT_EQ(m_client->Post("trans/getAllTaskStatus", list).json["data"]["tasks"].size(), 1u);
    // A gallery path does not clean a transfer record.
    EXPECT_EQ(ByIds("gallery/cleanTaskRecord", again).json["errorIdList"][0].asInt64(), again);
}

TEST_F(TaskFlowTest, MoveKeepsIdsAndAFailedStepFailsTheTask) {
    Start(false);
    Touch("Box/item.txt", "x");
    fs::create_directories(Real("Shelf"));
    const auto id = EntryNamed(m_client->List("/Box"), "item.txt")["id"];
    const auto moved = Copy("/Box/item.txt", "/Shelf", "trans/move");
    ASSERT_TRUE(Settled(moved.json["data"]["tasks"][0]["id"].asInt64()));
    EXPECT_EQ(EntryNamed(m_client->List("/Shelf"), "item.txt")["id"], id);
    EXPECT_FALSE(fs::exists(Real("Box/item.txt")));

    // Unknown sources are refused before a task exists.
    EXPECT_EQ(Copy("/Nothing", "/Shelf").Code(), code::kNoSuchFile);

    // A source that vanishes after the request fails the task, with detail.
    Json::Value remove;
    remove["srcPath"].append("/Shelf/item.txt");
    remove["srcPath"].append("/Shelf/item.txt");
    const auto started =
        m_client->Post("filesvc/remove", remove, {{"category", "user"}, {"type", "force"}});
    const auto taskId = std::stoll(started.json["data"]["progressId"].asString());
    ASSERT_TRUE(Settled(taskId));
    Json::Value status;
    status["taskId"] = static_cast<Json::Int64>(taskId);
    const auto record = m_client->Post("filesvc/getTaskStatus", status).json["data"]["tasks"][0];
    EXPECT_EQ(record["progress"].asInt(), -1) << record.toStyledString();
    EXPECT_EQ(record["status"].asInt(), 4);
    EXPECT_EQ(record["finishedNum"].asInt(), 1);
    EXPECT_EQ(record["errorInfo"]["detail"][0]["err"].asInt64(), code::kNoSuchFile);
    EXPECT_EQ(record["errorInfo"]["detail"][0]["name"], "/Shelf/item.txt");
}

TEST_F(TaskFlowTest, CancelStopsARunningTaskAndRetryQueuesItAgain) {
    auto options = TestOptions(m_dir.Path(), false);
    // Slow enough that the task is certainly still running when cancelled;
    // cancelling cuts the pause short, so the test does not wait for it.
    options.stepDelay = std::chrono::minutes(1);
    Start(options);
    Touch("Many/1.txt", "1");
    Touch("Many/2.txt", "2");
    fs::create_directories(Real("Out"));
    const auto taskId = Copy("/Many", "/Out").json["data"]["tasks"][0]["id"].asInt64();
    ASSERT_TRUE(m_emulator->WaitForTask(taskId, Emulator::TaskWait::Running, kTaskBound));

    const auto cancelled = ByIds("gallery/cancelRecord", taskId);
    ASSERT_EQ(cancelled.json["detail"].size(), 1u) << cancelled.text;
    ASSERT_TRUE(Settled(taskId));
    auto status = Status(taskId);
    EXPECT_EQ(status["progress"].asInt(), -1);
    EXPECT_EQ(status["errorInfo"]["errorCode"].asInt64(), code::kTaskCancelled);
    EXPECT_FALSE(fs::exists(Real("Out/Many")));
    // Cancelling an ended task does nothing.
    EXPECT_EQ(ByIds("gallery/cancelRecord", taskId).json["detail"].size(), 0u);

    Json::Value retry;
    retry["taskId"] = static_cast<Json::Int64>(taskId);
    retry["isSupportSubTask"] = 1;
    retry["transId"] = "tr-2";
    const auto retried = m_client->Post("trans/retryTask", retry);
    EXPECT_EQ(retried.json["tranId"], "tr-2") << retried.text;
    ASSERT_TRUE(m_emulator->WaitForTask(taskId, Emulator::TaskWait::Running, kTaskBound));
    // A running task can be neither retried nor cleaned.
    EXPECT_EQ(m_client->Post("trans/retryTask", retry).Code(), code::kTaskState);
    EXPECT_EQ(ByIds("trans/cleanTaskRecord", taskId).json["errorIdList"].size(), 1u);
    ByIds("gallery/cancelRecord", taskId);
    ASSERT_TRUE(Settled(taskId));
}

TEST_F(TaskFlowTest, CapabilitiesDecideWhichPathsExist) {
    auto options = TestOptions(m_dir.Path(), false);
    options.capabilities = zeqemu::Capabilities::Parse("6");
    Start(options);
    EXPECT_EQ(m_emulator->DevCap(2, 6), 1);
    EXPECT_EQ(m_emulator->DevCap(2, 7), 0);
    EXPECT_EQ(m_emulator->DevCap(1, 8), 0);
    EXPECT_EQ(m_emulator->DevCap(1, 6), 0) << "a capability answers under its own category";

    Json::Value list;
    list["taskCategory"] = 2;
    EXPECT_EQ(m_client->Post("trans/getAllTaskStatus", list).status, 404);
    EXPECT_EQ(m_client->Post("trans/getAllTask", list).Code(), 0);
    EXPECT_EQ(m_client->Post("filesvc/getAllTaskStatus", list).status, 404);
    EXPECT_EQ(m_client->Post("filesvc/batchOperation", list).status, 404);
    EXPECT_EQ(m_client->Post("gallery/getAllTaskStatus", list).Code(), 0);

    // Without capability 8 a copy answers without the task-center fields and
    // is followed through the older status paths.
    Touch("f.txt", "f");
    fs::create_directories(Real("To"));
    const auto result = Copy("/f.txt", "/To").json["data"]["tasks"][0];
    EXPECT_FALSE(result.isMember("transId"));
    EXPECT_FALSE(result.isMember("centerId"));
    const auto taskId = result["id"].asInt64();
    ASSERT_TRUE(Settled(taskId));
    const auto old =
        m_client->Get("trans/status", {{"taskId", std::to_string(taskId)}, {"category", "user"}});
    EXPECT_EQ(old.json["data"]["tasks"][0]["status"].asInt(), 3) << old.text;
    EXPECT_EQ(old.json["data"]["tasks"][0]["progress"].asInt(), 100);
}

TEST_F(TaskFlowTest, StateSurvivesARestart) {
    Start(true);
    Json::Value album;
    album["albumName"] = "Kept";
    album["albumType"] = 1;
    const auto albumId = m_client->Post("gallery/addAlbum", album).json["albumId"].asInt64();
    Json::Value dir;
    dir["path"] = "/Kept folder";
    const auto folderId = m_client->Post("filesvc/mkdir", dir).json["data"]["fid"].asInt64();
    const auto taskId =
        Copy("/Documents/notes.txt", "/Kept folder").json["data"]["tasks"][0]["id"].asInt64();
    ASSERT_TRUE(Settled(taskId));
    const auto photos = m_client->Get("gallery/getFullPhotosInfoTable", {{"startFileId", "0"}});

    Restart();
    EXPECT_EQ(
        m_client
            ->Get("gallery/albumCfg", {{"albumType", "1"}, {"albumId", std::to_string(albumId)}})
            .json["data"]["albumName"],
        "Kept");
    EXPECT_EQ(EntryNamed(m_client->List("/"), "Kept folder")["id"].asInt64(), folderId);
    EXPECT_EQ(Status(taskId)["progress"].asInt(), 100);
    EXPECT_EQ(m_client->Get("gallery/getFullPhotosInfoTable", {{"startFileId", "0"}}).json,
              photos.json);
    // No seeding twice, and ids go on from where they were.
    EXPECT_EQ(m_client->Get("gallery/getAlbumList", {{"albumType", "1"}}).json["albumlist"].size(),
              3u);
    album["albumName"] = "Later";
    EXPECT_GT(m_client->Post("gallery/addAlbum", album).json["albumId"].asInt64(), albumId);
}

TEST_F(TaskFlowTest, ATaskCutShortByShutdownComesBackInterrupted) {
    auto options = TestOptions(m_dir.Path(), false);
    options.stepDelay = std::chrono::minutes(1);
    Start(options);
    Touch("Slow/1.txt", "1");
    fs::create_directories(Real("Out"));
    const auto taskId = Copy("/Slow", "/Out").json["data"]["tasks"][0]["id"].asInt64();
    ASSERT_TRUE(m_emulator->WaitForTask(taskId, Emulator::TaskWait::Running, kTaskBound));
    const auto begin = std::chrono::steady_clock::now();
    Restart(); // stopping must not wait out the step pause
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(30));
    const auto status = Status(taskId);
    EXPECT_EQ(status["progress"].asInt(), -1);
    EXPECT_EQ(status["errorInfo"]["errorCode"].asInt64(), code::kTaskInterrupted);
}

} // namespace
} // namespace emutest
