#pragma once

#include "platform/HttpLibExport.h"
#include "services/TaskCenterModels.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// Capabilities the device reports through the host's capability callback.
enum TaskCenterFeatureCap : int {
    // Gallery task status endpoints, task types 300 and 302 to 304, and the
    // transfer ids of the asynchronous album operations.
    TASK_CENTER_CAP_GALLERY_STATUS = 6,
    // Task type 305; asked only when TASK_CENTER_CAP_GALLERY_STATUS holds.
    TASK_CENTER_CAP_TYPE_305 = 7,
};

enum FileFeatureCap : int {
    // Task-center fields of transfer tasks and the "trans/" status endpoints.
    FILE_CAP_TRANS_TASK_CENTER = 8,
    // File-service batch operations and file task lists.
    FILE_CAP_BATCH_OPERATION = 10,
};

// The device's task center, and the library's capability questions about the
// connected device. Devices of different software levels answer the same
// question at different endpoints; the capabilities pick which one.
class HTTPLIB_API TaskCenterIntfZEQ {
public:
    static TaskCenterIntfZEQ& Instance();

    TaskCenterIntfZEQ& operator=(const TaskCenterIntfZEQ&) { return *this; }

    // Asked afresh on every call; nothing is cached.
    bool IsTaskCenterCapSupport(TaskCenterFeatureCap cap);
    static bool IsSupportFileCap(FileFeatureCap cap);

    // ---- Gallery task center ----
    // Appends to out; it is never cleared.
    bool TaskCenterGet(std::int64_t taskCategory, const std::vector<std::uint64_t>& taskIds,
                       std::vector<TaskInfo>& out);
    bool HttpTaskCenterClean(const std::vector<std::uint64_t>& taskIds,
                             std::vector<std::uint64_t>& failedIds);
    bool HttpTaskCenterRetry(const TaskCenterRetryReqBody& body, TaskCenterRetryReqRsp& rsp);
    bool HttpTaskCenterCancel(const std::vector<std::uint64_t>& taskIds,
                              std::vector<std::uint64_t>& detail);

    // ---- Per family ----
    bool GetAllTaskStatus(TaskSuperType family, TaskCatagory category, std::vector<TaskInfo>& out);
    // All three families, appended to out and sorted newest first. False when
    // any family failed; out then holds what the others added.
    bool TaskCenterGetBatch(std::vector<TaskInfo>& out);
    bool CleanTaskRecord(TaskSuperType family, std::vector<std::uint64_t> taskIds,
                         std::vector<std::uint64_t>& failedIds);
    bool RetryTask(TaskSuperType family, TaskCenterRetryReqBody body, TaskCenterRetryReqRsp& rsp);

    // ---- One task ----
    bool GetFileTaskStatus(std::uint64_t taskId, std::vector<TaskInfo>& out);
    // Follows a transfer task; totalCount stands in where older devices
    // report none.
    bool GetFileTaskStatus(TaskStatusRsp& rsp, std::int64_t taskId, std::int64_t totalCount,
                           bool across);
    bool GetDeleteOrRecycleTaskStatus(TaskStatusRsp& rsp, std::int64_t taskId);

private:
    // Benchmarks and fuzz targets feed reply texts to the reply steps without
    // a network round trip; the struct is defined only in bench/ and fuzz/.
    friend struct ReplyStepAccess;

    TaskCenterIntfZEQ();

    bool ParseTaskCenterGetRsp(const std::string& reply, std::vector<TaskInfo>& out);
    bool ParseTaskCenterGetRsp(const std::string& reply, std::vector<TaskInfo>& out,
                               std::int64_t& code);
    bool ParseTaskCenterCleanRsp(const std::string& reply, std::vector<std::uint64_t>& failedIds);
    bool ParseTaskCenterRetryRsp(const std::string& reply, TaskCenterRetryReqRsp& rsp);
    bool ParseTaskCenterCancelRsp(const std::string& reply, std::vector<std::uint64_t>& detail);

    // Only called once capability 6 is known to hold.
    std::vector<std::int32_t> GalleryTaskTypes();
    bool GetAllGalleryTaskStatus(TaskCatagory category, std::vector<TaskInfo>& out);
    bool GetAllTransTaskStatus(TaskCatagory category, std::vector<TaskInfo>& out);
    bool GetAllFileTaskStatus(TaskCatagory category, std::vector<TaskInfo>& out);
    bool GetAllTaskStatus(std::string path, Json::Value body, std::vector<TaskInfo>& out);
    bool CleanTaskRecord(std::string path, std::vector<std::uint64_t> taskIds,
                         std::vector<std::uint64_t>& failedIds);
    bool RetryTask(std::string path, Json::Value body, TaskCenterRetryReqRsp& rsp);

    bool TransGetTaskStatus(TaskStatusRsp& rsp, std::int64_t taskId);
    bool TransAcrossStatus(TaskStatusRsp& rsp, std::int64_t taskId);
    bool TransStatus(TaskStatusRsp& rsp, std::int64_t taskId);
    bool ParseTaskStatusRsp(const std::string& reply, TaskStatusRsp& rsp);
    // The first task of a task-center list into rsp; keepReplyCode also
    // leaves the reply's code in rsp.error when the list is empty.
    bool FillStatusFromTaskList(const std::string& reply, TaskStatusRsp& rsp, bool keepReplyCode);
};
