// The device information service, capability-dependent paths on a newer and
// an older device, and a session the device refuses.

#include "E2eDevice.h"

#include "emulator/ErrorCodes.h"
#include "services/DeviceIntfZEQ.h"
#include "services/FileIntfZeq.h"
#include "services/TaskCenterIntfZEQ.h"
#include "support/LogCapture.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace e2e {
namespace {

namespace code = zeqemu::code;

FileBatchOperationRequestParam RecycleMusic() {
    FileBatchOperationRequestParam batch;
    batch.srcPath = {"/Music"};
    batch.name = "music";
    batch.operation = batch.queryType = "recycle";
    batch.category = "user";
    batch.subTaskId = 2;
    batch.transId = "tr-batch";
    return batch;
}

bool Listed(const std::vector<TaskInfo>& tasks, std::int64_t taskId, std::int64_t taskType) {
    return std::any_of(tasks.begin(), tasks.end(), [&](const TaskInfo& task) {
        return task.taskId == static_cast<std::uint64_t>(taskId) && task.taskType == taskType &&
               task.progress == 100;
    });
}

std::string ReadAll(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class DeviceE2e : public E2eTest {};

TEST_F(DeviceE2e, IdentityStatisticsUsersDisksAndCopyright) {
    Start();
    auto& device = DeviceIntfZEQ::Instance();
    DeviceInfo info;
    ASSERT_TRUE(device.GetDeviceInfo(info));
    EXPECT_EQ(info.deviceName, "zeq-emulator");
    EXPECT_FALSE(info.friendlyName.empty());
    EXPECT_EQ(info.serialNumber.rfind("ZEQ", 0), 0u) << info.serialNumber;
    EXPECT_EQ(info.macAddress.size(), 17u) << info.macAddress;

    DiskStatisInfo stats;
    ASSERT_TRUE(device.GetUserDataStatisInfo(stats));
    EXPECT_GT(stats.totalSize, 0);
    EXPECT_GT(stats.userUsage, 0) << "the seeded gallery and files take room";
    EXPECT_EQ(stats.usedSize,
              std::min(stats.userUsage + stats.membersUsage + stats.publicUsage, stats.totalSize));

    std::vector<DeviceUserInfo> users;
    ASSERT_TRUE(device.GetDeviceUserListInfo(users));
    ASSERT_EQ(users.size(), 3u);
    EXPECT_EQ(users[0].name, "admin");
    EXPECT_EQ(users[0].uid, 1000);
    EXPECT_EQ(users[2].nick, "Guest");

    auto disks = device.GetDiskStatusInfo();
    ASSERT_EQ(disks.size(), 2u);
    EXPECT_EQ(disks[0].isExist, 1);
    EXPECT_FALSE(disks[0].sn.empty());
    Device().SimulateDiskEvent(2, 2); // slot 2 removed
    disks = device.GetDiskStatusInfo();
    ASSERT_EQ(disks.size(), 3u);
    EXPECT_EQ(disks[2].slot, 2);
    EXPECT_EQ(disks[2].eventType, 2);

    const std::filesystem::path page = device.DownloadZEQCopyright();
    EXPECT_EQ(page, AppDataDir() / "copyright.html");
    EXPECT_NE(ReadAll(page).find("<title>Copyright notices</title>"), std::string::npos);
}

TEST_F(DeviceE2e, NewestDeviceRunsBatchOperationsAsFileServiceTasks) {
    Start();
    FileBatchOperationResp batch;
    ASSERT_TRUE(FileIntfZeq::Instance().BatchOperation(RecycleMusic(), batch));
    ASSERT_GT(batch.taskId, 0);
    EXPECT_EQ(batch.transId, "tr-batch");
    ASSERT_TRUE(Settled(batch.taskId));

    auto& tasks = TaskCenterIntfZEQ::Instance();
    std::vector<TaskInfo> one;
    ASSERT_TRUE(tasks.GetFileTaskStatus(static_cast<std::uint64_t>(batch.taskId), one));
    EXPECT_TRUE(Listed(one, batch.taskId, 405));
    std::vector<TaskInfo> all;
    ASSERT_TRUE(tasks.TaskCenterGetBatch(all));
    EXPECT_TRUE(Listed(all, batch.taskId, 405));
    RecycleFileListData bin;
    ASSERT_TRUE(FileIntfZeq::Instance().GetRecycleFiles({10, 0, "user"}, bin));
    ASSERT_EQ(bin.files.size(), 1u);
    EXPECT_EQ(bin.files[0]->path, "/Music");
}

TEST_F(DeviceE2e, OlderDeviceGetsTheOlderRequestsOnly) {
    // No type 305, no transfer task center, no batch operations.
    Start([](auto& options) { options.capabilities = zeqemu::Capabilities({6}); });
    auto& files = FileIntfZeq::Instance();
    auto& tasks = TaskCenterIntfZEQ::Instance();

    testsupport::LogCapture log;
    const int asked = m_host.ConnInfoCalls();
    FileBatchOperationResp batch;
    EXPECT_FALSE(files.BatchOperation(RecycleMusic(), batch));
    std::vector<TaskInfo> fileTasks;
    EXPECT_TRUE(tasks.GetAllTaskStatus(TASK_SUPER_TYPE_FILE, TASK_CATAGORY_BATCH_LIST, fileTasks));
    EXPECT_TRUE(fileTasks.empty());
    EXPECT_EQ(m_host.ConnInfoCalls(), asked) << "a request went to the device";
    EXPECT_TRUE(log.Messages().empty()) << testing::PrintToString(log.Messages());

    FileBaseData made;
    ASSERT_TRUE(files.MakeDirectory({"/Backup", 1, "user"}, made));
    CopyMoveResp copy;
    ASSERT_TRUE(files.Copy(
        {{{"Documents", "user", "user", {"/Documents"}, "/Backup", 0, 9, "tr-old"}}, "user"},
        copy));
    ASSERT_EQ(copy.tasks.size(), 1u);
    const auto copyId = copy.tasks[0].id;
    EXPECT_GT(copyId, 0);
    EXPECT_EQ(copy.tasks[0].centerId, 0);
    EXPECT_TRUE(copy.tasks[0].transId.empty());
    ASSERT_TRUE(Settled(copyId));
    // The older status reply carries no total: the caller's stands in.
    TaskStatusRsp status;
    ASSERT_TRUE(tasks.GetFileTaskStatus(status, copyId, 7, false));
    EXPECT_EQ(status.taskId, copyId);
    EXPECT_EQ(status.totalCount, 7);
    EXPECT_EQ(status.successCount, 5);
    EXPECT_EQ(status.progress, 100);
    EXPECT_EQ(status.status, 3);

    CopyAcrossRequestParam across;
    across.name = "photo to files";
    across.srcService = "gallery";
    across.srcFiles.push_back({3, "", "user", ""});
    across.destService = "file";
    across.destDirs.push_back({0, 0, "", "/Backup", "user", 0});
    ASSERT_TRUE(files.CopyAcrossGalleryAndFile(across, copy));
    ASSERT_EQ(copy.tasks.size(), 1u);
    const auto acrossId = copy.tasks[0].id;
    ASSERT_TRUE(Settled(acrossId));
    status = {};
    ASSERT_TRUE(tasks.GetFileTaskStatus(status, acrossId, 1, true));
    EXPECT_EQ(status.taskId, acrossId);
    EXPECT_EQ(status.successCount, 1);
    EXPECT_EQ(status.status, 3);

    std::vector<TaskInfo> all;
    ASSERT_TRUE(tasks.TaskCenterGetBatch(all));
    EXPECT_TRUE(Listed(all, copyId, 100));
    EXPECT_TRUE(Listed(all, acrossId, 200));
}

TEST_F(DeviceE2e, ARefusedTokenFailsThroughTheEnvelopeWithTheDevicesText) {
    Start();
    const auto page = DeviceIntfZEQ::Instance().DownloadZEQCopyright();
    const auto goodCopy = ReadAll(page);
    ASSERT_FALSE(goodCopy.empty());
    const std::string forged = "forged-token-0123";
    m_host.ForgeToken(forged);
    testsupport::LogCapture log;

    DeviceInfo info;
    EXPECT_FALSE(DeviceIntfZEQ::Instance().GetDeviceInfo(info));
    EXPECT_EQ(log.Count("DeviceIntfZEQ::GetDeviceInfo",
                        "http get device info error: " + std::to_string(code::kUnauthorized) +
                            ", wrong or missing cookie id or token"),
              1u)
        << testing::PrintToString(log.Messages());
    FileListData list;
    EXPECT_FALSE(FileIntfZeq::Instance().GetFiles({"/", 10, 0, 0, "", "user", ""}, list));
    EXPECT_EQ(list.code, code::kUnauthorized);
    // The device's error page must not replace the copy saved earlier.
    EXPECT_EQ(DeviceIntfZEQ::Instance().DownloadZEQCopyright(), page);
    EXPECT_EQ(ReadAll(page), goodCopy);
    for (const auto& message : log.Messages()) {
        EXPECT_EQ(message.find(forged), std::string::npos) << message;
        EXPECT_EQ(message.find(Device().CookieId()), std::string::npos) << message;
    }

    m_host.ForgeToken(std::nullopt);
    EXPECT_TRUE(DeviceIntfZEQ::Instance().GetDeviceInfo(info));
    EXPECT_EQ(info.deviceName, "zeq-emulator");
}

} // namespace
} // namespace e2e
