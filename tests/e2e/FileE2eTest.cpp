// The file area and the transfer and file-service tasks, driven through the
// library's file and task services against the seeded demo tree.

#include "E2eDevice.h"

#include "emulator/ErrorCodes.h"
#include "services/FileIntfZeq.h"
#include "services/TaskCenterIntfZEQ.h"
#include "support/LogCapture.h"

#include <algorithm>
#include <chrono>
#include <set>

namespace e2e {
namespace {

namespace code = zeqemu::code;

// The folder travels percent-encoded in "Dest-File": a space, multi-byte UTF-8
// ("été 夏"), and a literal "%41" that the device would read as "A" if the
// library sent the name unencoded.
const std::string kSummer = "/Summer %41 \xc3\xa9t\xc3\xa9 \xe5\xa4\x8f";

FileListData List(const std::string& folder, std::int32_t limit = 100, std::int64_t offset = 0) {
    FileListData list;
    EXPECT_TRUE(FileIntfZeq::Instance().GetFiles({folder, limit, offset, 42, "", "user", ""}, list))
        << folder;
    return list;
}

std::vector<std::string> Names(const FileListData& list) {
    std::vector<std::string> names;
    for (const auto& file : list.files) {
        names.push_back(file->name);
    }
    return names;
}

std::shared_ptr<FileData> Entry(const FileListData& list, const std::string& name) {
    const auto found = std::find_if(list.files.begin(), list.files.end(),
                                    [&](const auto& file) { return file->name == name; });
    return found == list.files.end() ? nullptr : *found;
}

std::int64_t MakeDir(const std::string& path) {
    FileBaseData made;
    EXPECT_TRUE(FileIntfZeq::Instance().MakeDirectory({path, 1, "user"}, made)) << path;
    return made.fid;
}

const TaskInfo* FindTask(const std::vector<TaskInfo>& tasks, std::int64_t taskId) {
    const auto found = std::find_if(tasks.begin(), tasks.end(), [&](const TaskInfo& task) {
        return task.taskId == static_cast<std::uint64_t>(taskId);
    });
    return found == tasks.end() ? nullptr : &*found;
}

class FileE2e : public E2eTest {};

TEST_F(FileE2e, BrowseFoldersWithEncodedNamesAndPages) {
    Start();
    const auto summerId = MakeDir(kSummer);
    EXPECT_GT(summerId, 0);
    MakeDir(kSummer + "/Day 1");

    const auto root = List("/");
    const auto summer = Entry(root, kSummer.substr(1));
    ASSERT_NE(summer, nullptr) << testing::PrintToString(Names(root));
    EXPECT_EQ(summer->id, summerId);
    EXPECT_EQ(summer->path, kSummer + "/");
    EXPECT_EQ(summer->fullPath, kSummer);
    EXPECT_EQ(summer->requestTag, 42);

    const auto inside = List(kSummer);
    EXPECT_EQ(inside.parentPath, kSummer + "/");
    EXPECT_EQ(Names(inside), (std::vector<std::string>{"Day 1"}));
    EXPECT_EQ(inside.files[0]->fullPath, kSummer + "/Day 1");
    FolderStructureResp all;
    ASSERT_TRUE(FileIntfZeq::Instance().GetFolderAllSubFiles(all, 0, "user", kSummer));
    ASSERT_EQ(all.files.size(), 1u);
    EXPECT_EQ(all.files[0].relativePath, "Day 1");

    // Two pages of the four seeded photos, neither overlapping nor skipping.
    const auto first = List("/Photos", 3);
    EXPECT_TRUE(first.hasMore);
    const auto second = List("/Photos", 3, first.offset);
    EXPECT_FALSE(second.hasMore);
    auto names = Names(first);
    const auto rest = Names(second);
    names.insert(names.end(), rest.begin(), rest.end());
    EXPECT_EQ(names, (std::vector<std::string>{"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg",
                                               "IMG_0004.jpg"}));
}

TEST_F(FileE2e, CopyTwoFoldersOfOneNameAsTasksAndFollowThemToTheEnd) {
    // Paced, so that the device's two workers run both copies at once.
    Start([](auto& options) { options.stepDelay = std::chrono::milliseconds(40); });
    MakeDir("/Backup");
    MakeDir("/Archive");
    MakeDir("/Archive/Documents");
    auto& tasks = TaskCenterIntfZEQ::Instance();
    const CopyMoveTask seeded{"Documents", "user", "user", {"/Documents"}, "/Backup", 0, 5, "tr-1"};
    const CopyMoveTask old{"Old", "user", "user", {"/Archive/Documents"}, "/Backup", 0, 6, "tr-1"};
    CopyMoveResp copy;
    ASSERT_TRUE(FileIntfZeq::Instance().Copy({{seeded, old}, "user"}, copy));
    ASSERT_EQ(copy.tasks.size(), 2u);
    const auto taskId = copy.tasks[0].id;
    EXPECT_EQ(copy.tasks[0].centerId, taskId);
    EXPECT_EQ(copy.tasks[1].subtaskId, 6);
    EXPECT_EQ(copy.tasks[1].transId, "tr-1");
    ASSERT_TRUE(Settled(taskId));
    ASSERT_TRUE(Settled(copy.tasks[1].id));

    TaskStatusRsp status;
    ASSERT_TRUE(tasks.GetFileTaskStatus(status, taskId, 0, false));
    EXPECT_EQ(status.taskId, taskId);
    EXPECT_EQ(status.progress, 100);
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(status.error, 0);
    // The folder itself, notes.txt, plans.md, Taxes and Taxes/2023.pdf.
    EXPECT_EQ(status.totalCount, 5);
    EXPECT_EQ(status.successCount, 5);
    ASSERT_TRUE(tasks.GetFileTaskStatus(status, copy.tasks[1].id, 0, false));
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(status.successCount, 1);

    // Each copy gets a name of its own, whichever started first.
    EXPECT_EQ(Names(List("/Backup")), (std::vector<std::string>{"Documents", "Documents (1)"}));
    std::set<std::size_t> sizes{List("/Backup/Documents").files.size(),
                                List("/Backup/Documents (1)").files.size()};
    EXPECT_EQ(sizes, (std::set<std::size_t>{0, 3}));

    std::vector<TaskInfo> all;
    ASSERT_TRUE(tasks.TaskCenterGetBatch(all));
    const auto* listed = FindTask(all, taskId);
    ASSERT_NE(listed, nullptr);
    EXPECT_EQ(listed->taskType, 100);
    EXPECT_EQ(listed->progress, 100);
    EXPECT_EQ(listed->destination, "/Backup");

    std::vector<std::uint64_t> failed;
    ASSERT_TRUE(
        tasks.CleanTaskRecord(TASK_SUPER_TYPE_TRANS, {static_cast<std::uint64_t>(taskId)}, failed));
    EXPECT_TRUE(failed.empty());
    all.clear();
    ASSERT_TRUE(tasks.GetAllTaskStatus(TASK_SUPER_TYPE_TRANS, TASK_CATAGORY_BATCH_LIST, all));
    EXPECT_EQ(FindTask(all, taskId), nullptr);
    EXPECT_NE(FindTask(all, copy.tasks[1].id), nullptr);
}

TEST_F(FileE2e, RenameDeleteAndRestoreFromTheBinSurviveARestart) {
    Start();
    auto& files = FileIntfZeq::Instance();
    const auto id = MakeDir("/Drafts");
    FileBaseData result;
    ASSERT_TRUE(files.Rename({"/Drafts", "/Final drafts", "user", id}, result));

    testsupport::LogCapture log;
    EXPECT_FALSE(files.Rename({"/Drafts", "/Other", "user", id}, result));
    EXPECT_EQ(result.code, code::kNoSuchFile);
    EXPECT_EQ(
        log.Count("FileIntfZeq::ParseBaseData",
                  "ParseBaseData error: " + std::to_string(code::kNoSuchFile) + ", " + result.desc),
        1u)
        << testing::PrintToString(log.Messages());

    DeleteResp deleted;
    ASSERT_TRUE(files.Delete({{"/Final drafts"}, "user", "recycle"}, deleted));
    ASSERT_FALSE(deleted.progressId.empty());
    const auto deletion = std::stoll(deleted.progressId);
    ASSERT_TRUE(Settled(deletion));
    TaskStatusRsp status;
    ASSERT_TRUE(TaskCenterIntfZEQ::Instance().GetDeleteOrRecycleTaskStatus(status, deletion));
    EXPECT_EQ(status.status, 3);
    EXPECT_EQ(Entry(List("/"), "Final drafts"), nullptr);

    RecycleFileListData bin;
    ASSERT_TRUE(files.GetRecycleFiles({10, 0, "user"}, bin));
    ASSERT_EQ(bin.files.size(), 1u);
    EXPECT_EQ(bin.files[0]->name, "Final drafts");
    EXPECT_EQ(bin.files[0]->path, "/Final drafts");

    ASSERT_TRUE(files.RmvRecycleFiles({"restore", {bin.files[0]->rid}, "user"}, result));
    ASSERT_TRUE(Settled(result.fid));
    RcvProgressRespData progress;
    ASSERT_TRUE(
        files.GetRecoverProgress({std::to_string(result.fid), "restore", "user"}, progress));
    EXPECT_EQ(progress.total, 1);
    EXPECT_EQ(progress.proSuccess, 1);
    EXPECT_TRUE(progress.status);

    Restart();

    const auto restored = Entry(List("/"), "Final drafts");
    ASSERT_NE(restored, nullptr);
    EXPECT_EQ(restored->id, id);
    RecycleFileListData empty;
    ASSERT_TRUE(files.GetRecycleFiles({10, 0, "user"}, empty));
    EXPECT_EQ(empty.count, 0);
}

} // namespace
} // namespace e2e
