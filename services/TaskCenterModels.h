#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

// Records of the device's task center, shared by the task listings and the
// single-task status queries.

// One task as the task center reports it.
struct TaskInfo {
    // taskType * 2^32 + taskId in unsigned 64-bit arithmetic (wraps): one key
    // across task families whose ids may collide.
    std::uint64_t uniqueKey = 0;
    std::uint64_t taskId = 0;
    std::int64_t taskType = 0;
    std::int64_t progress = 0; // 100 finished, -1 failed
    std::int64_t taskBeginTime = 0;
    std::uint32_t sumNum = 0;
    std::uint32_t finishedNum = 0;
    std::string originObjectName;
    std::string destination;
    std::int32_t objectType = 0;
    bool exceedFlag = false;
    std::int64_t errorCode = 0;
    // From the first entry of the error details only.
    std::int64_t detailErr = 0;
    std::string detailName;
    std::string detailId;
};

struct TaskCenterRetryReqBody {
    std::int32_t isSupportSubTask = 0; // 0 or 1
    std::uint64_t taskType = 0;
    std::uint64_t taskId = 0;
    std::string deviceId; // not sent: the device request's own id goes instead
    std::string transId;
    std::vector<std::uint64_t> objIdList;

    static constexpr std::string_view kFieldList =
        "isSupportSubTask, taskType, taskId, deviceId, transId, objIdList";
    auto Fields() const {
        return std::tie(isSupportSubTask, taskType, taskId, deviceId, transId, objIdList);
    }
};

struct TaskCenterRetryReqRsp {
    std::string tranId;
    std::uint64_t taskId = 0;
};

// The family of a task; each family has its own service on the device.
enum TaskSuperType : std::int32_t {
    TASK_SUPER_TYPE_GALLERY = 0,
    TASK_SUPER_TYPE_TRANS = 1,
    TASK_SUPER_TYPE_FILE = 2,
};

// The device's task categories, passed through as "taskCategory". Only the
// one the combined listing asks for is named; others come from the caller.
enum TaskCatagory : std::int32_t {
    TASK_CATAGORY_BATCH_LIST = 2,
};

// Status of one followed task.
struct TaskStatusRsp {
    std::int64_t taskId = 0;
    std::int64_t progress = 0;
    std::int64_t totalCount = 0;
    std::int64_t successCount = 0;
    // 2 running, 3 finished, 4 failed when derived from task-center progress;
    // the device's own value from the older transfer endpoints.
    std::int64_t status = 0;
    std::int64_t error = 0; // the reply's code, then the task's error code
};
