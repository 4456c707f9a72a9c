#pragma once

#include "platform/HttpLibExport.h"

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
// connected device.
class HTTPLIB_API TaskCenterIntfZEQ {
public:
    static TaskCenterIntfZEQ& Instance();

    TaskCenterIntfZEQ& operator=(const TaskCenterIntfZEQ&) { return *this; }

    // Asked afresh on every call; nothing is cached.
    bool IsTaskCenterCapSupport(TaskCenterFeatureCap cap);
    static bool IsSupportFileCap(FileFeatureCap cap);

private:
    TaskCenterIntfZEQ();
};
