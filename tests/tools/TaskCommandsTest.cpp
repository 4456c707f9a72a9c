#include "ToolFixture.h"

#include <chrono>
#include <set>

namespace zeqctltest {
namespace {

using ZeqctlTasks = ToolTest;

Json::Value I(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

TEST_F(ZeqctlTasks, WatchFollowsACopyToItsEndWithPlainProgressLines) {
    zeqemu::EmulatorOptions slow;
    slow.stepDelay = std::chrono::milliseconds(40);
    StartDevice(slow);
    const auto started = Json({"files", "cp", "/Photos", "/Documents"});
    const auto id = started["taskId"].asInt64();
    ASSERT_GT(id, 0);

    const auto run = Device({"tasks", "watch", std::to_string(id), "--interval", "20"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Not a terminal: lines, never a carriage return redrawing a bar.
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_NE(run.out.find("100%  5/5 items"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("trans task " + std::to_string(id) + " done"), std::string::npos);

    const auto watched = Json({"tasks", "watch", std::to_string(id), "--family", "trans"});
    EXPECT_EQ(watched["state"].asString(), "done");
    EXPECT_EQ(watched["progress"].asInt64(), 100);
    EXPECT_EQ(watched["total"].asInt64(), 5);
}

TEST_F(ZeqctlTasks, ListCleanAndUnknownTasks) {
    const auto copy = Json({"files", "cp", "/Music", "/Documents", "--wait"});
    const auto removal = Json({"files", "rm", "/Videos", "--wait"});
    const auto copyId = copy["taskId"].asInt64();
    const auto removalId = removal["taskId"].asInt64();

    const auto all = Json({"tasks", "ls"});
    EXPECT_EQ(FindBy(all["tasks"], "taskId", I(copyId))["family"].asString(), "trans");
    EXPECT_EQ(FindBy(all["tasks"], "taskId", I(removalId))["family"].asString(), "file");
    const auto transOnly = Json({"tasks", "ls", "--family", "trans"});
    EXPECT_TRUE(FindBy(transOnly["tasks"], "taskId", I(removalId)).isNull());

    // The family is looked up when not given.
    Json({"tasks", "clean", std::to_string(copyId), std::to_string(removalId)});
    EXPECT_EQ(Json({"tasks", "ls"})["tasks"].size(), 0u);

    const auto unknown = Device({"tasks", "watch", "424242"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_NE(unknown.err.find("no task 424242"), std::string::npos) << unknown.err;
}

TEST_F(ZeqctlTasks, CancelledTaskFailsTheWatchAndRetryRestartsIt) {
    // Steps far slower than the test: cancelling cuts the pause short, so
    // nothing here waits for a step.
    zeqemu::EmulatorOptions slow;
    slow.stepDelay = std::chrono::seconds(30);
    StartDevice(slow);
    const auto id = Json({"files", "cp", "/Photos", "/Music"})["taskId"].asInt64();
    const auto idText = std::to_string(id);
    ASSERT_TRUE(
        m_device->WaitForTask(id, zeqemu::Emulator::TaskWait::Running, std::chrono::seconds(60)));
    EXPECT_EQ(Json({"tasks", "cancel", idText})["cancelled"].size(), 1u);

    const auto watched = Device({"--json", "tasks", "watch", idText});
    EXPECT_EQ(watched.exitCode, 1) << watched.err;
    EXPECT_EQ(watched.Json()["state"].asString(), "failed") << watched.out;
    EXPECT_NE(watched.err.find("failed with code"), std::string::npos) << watched.err;

    Json({"tasks", "retry", idText});
    const auto again = FindBy(Json({"tasks", "ls"})["tasks"], "taskId", I(id));
    EXPECT_EQ(again["state"].asString(), "running") << again;
    Json({"tasks", "cancel", idText});
}

// An older device answers tasks at other endpoints; --caps must say so, and
// a wrong claim ends with the device's own refusal.
TEST_F(ZeqctlTasks, OlderDeviceIsFollowedThroughItsOlderEndpoints) {
    zeqemu::EmulatorOptions older;
    older.capabilities = zeqemu::Capabilities(std::set<int>{});
    StartDevice(older);
    const auto copy = Json({"--caps", "none", "files", "cp", "/Music", "/Documents", "--wait"});
    EXPECT_EQ(copy["task"]["state"].asString(), "done") << copy;
    const auto listed = Json({"--caps", "none", "tasks", "ls", "--family", "trans"});
    EXPECT_FALSE(FindBy(listed["tasks"], "taskId", copy["taskId"]).isNull()) << listed;

    const auto claimed = Device({"tasks", "ls", "--family", "trans"});
    EXPECT_EQ(claimed.exitCode, 1);
    EXPECT_NE(claimed.err.find("refused with code"), std::string::npos) << claimed.err;
}

// zeqctl's own emulated device: state, and tasks, carry from one process to
// the next because each process lets its started tasks finish before it ends.
TEST(ZeqctlEmbedded, StateAndTasksCarryBetweenCommands) {
    TempDir home;
    TempDir data;
    const Zeqctl zeqctl(home.Path());
    const std::vector<std::string> device{"--json", "--data-dir", data.Path().string(),
                                          "--step-delay", "30"};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), device.begin(), device.end());
        const auto result = zeqctl(args);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result.Json();
    };
    run({"files", "mkdir", "/Kept"});
    const auto id = run({"files", "cp", "/Photos", "/Kept"})["taskId"].asInt64();
    const auto watched = run({"tasks", "watch", std::to_string(id)});
    EXPECT_EQ(watched["state"].asString(), "done") << watched;
    const auto kept = run({"files", "ls", "/Kept"});
    EXPECT_EQ(EntryNames(kept), std::vector<std::string>{"Photos/"});
}

TEST(ZeqctlEmbedded, DemoTourEndsWithTheCopyDoneAndADownload) {
    TempDir home;
    const auto run = Zeqctl(home.Path())({"--json", "demo", "--step-delay", "0"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto doc = run.Json();
    EXPECT_FALSE(doc["device"]["serialNumber"].asString().empty());
    EXPECT_GE(doc["albums"].size(), 1u);
    EXPECT_FALSE(FindBy(doc["listing"]["entries"], "name", "Photos/").isNull());
    EXPECT_EQ(doc["copy"]["state"].asString(), "done");
    EXPECT_FALSE(FindBy(doc["copied"]["entries"], "name", "Photos/").isNull());
    EXPECT_EQ(doc["download"]["status"].asInt(), 200) << run.out;
    EXPECT_GT(doc["download"]["bytes"].asInt64(), 0);
    // The tour's device is its own and gone afterwards.
    EXPECT_FALSE(std::filesystem::exists(home.Path() / "zeqctl" / "device"));
}

} // namespace
} // namespace zeqctltest
