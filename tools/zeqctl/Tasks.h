#pragma once

#include "services/TaskCenterModels.h"

#include <json/value.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zeqctl {

class Session;

// One device task as the tool shows it, whichever endpoint reported it.
struct TaskStatus {
    std::int64_t taskId = 0;
    TaskSuperType family = TASK_SUPER_TYPE_TRANS;
    std::int64_t taskType = 0;
    std::int64_t progress = 0; // 100 done, -1 failed or cancelled
    std::int64_t done = 0;
    std::int64_t total = 0;
    std::int64_t errorCode = 0;
    std::int64_t beginTime = 0;
    std::string name;
    std::string destination;
    std::string errorItem; // the first item that failed, when the device says

    bool Ended() const { return progress == 100 || progress < 0; }
    bool Failed() const { return progress < 0; }
    std::string State() const;
    Json::Value ToJson() const;
};

const char* FamilyName(TaskSuperType family);
std::optional<TaskSuperType> FamilyFromName(const std::string& name);
// The family a task type number belongs to (1xx/2xx transfer, 3xx gallery,
// 4xx file service).
std::optional<TaskSuperType> FamilyOfType(std::int64_t taskType);

// Reads and follows device tasks through the task center service, choosing
// the status query each family offers.
class TaskFollower {
public:
    explicit TaskFollower(Session& session) : m_session(session) {}

    // Every family when none is given. category: the device's task category
    // (2, the combined listing's, means every task).
    std::vector<TaskStatus> List(std::optional<TaskSuperType> family, std::int32_t category);
    // The family of a task found in the combined listing; fails when no
    // family, or more than one, has a task of that id.
    TaskSuperType Locate(std::int64_t taskId);
    TaskStatus Poll(TaskSuperType family, std::int64_t taskId);
    // Polls until the task ends, drawing progress (a bar on a terminal).
    TaskStatus Follow(TaskSuperType family, std::int64_t taskId,
                      std::chrono::milliseconds interval);

private:
    Session& m_session;
};

// Reports a task a command started (its id, or with wait its end, followed
// with progress) and remembers it, so the embedded device finishes it before
// the process ends. A failed task fails the command after its report.
void ReportStartedTask(Session& session, TaskSuperType family, std::int64_t taskId, bool wait,
                       Json::Value doc);

} // namespace zeqctl
