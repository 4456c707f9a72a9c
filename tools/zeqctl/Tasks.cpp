#include "Tasks.h"

#include "Progress.h"
#include "Session.h"

#include "services/TaskCenterIntfZEQ.h"

#include <algorithm>
#include <iostream>
#include <thread>

#include <unistd.h>

namespace zeqctl {

namespace {

TaskStatus FromInfo(const TaskInfo& info, TaskSuperType family) {
    TaskStatus s;
    s.taskId = static_cast<std::int64_t>(info.taskId);
    s.family = family;
    s.taskType = info.taskType;
    s.progress = info.progress;
    s.done = info.finishedNum;
    s.total = info.sumNum;
    s.errorCode = info.errorCode;
    s.beginTime = info.taskBeginTime;
    s.name = info.originObjectName;
    s.destination = info.destination;
    s.errorItem = info.detailName;
    return s;
}

const TaskInfo* Find(const std::vector<TaskInfo>& tasks, std::int64_t taskId) {
    for (const auto& task : tasks) {
        if (static_cast<std::int64_t>(task.taskId) == taskId) {
            return &task;
        }
    }
    return nullptr;
}

// Short: a command that waits for its own task should end soon after it.
constexpr std::chrono::milliseconds kFollowInterval{100};
// Pauses after a failed poll, doubling from the first to the last.
constexpr std::chrono::milliseconds kFirstBackOff{200};
constexpr std::chrono::milliseconds kLastBackOff{2000};

std::string Id(std::int64_t taskId) {
    return std::to_string(taskId);
}

} // namespace

std::string TaskStatus::State() const {
    if (progress == 100) {
        return "done";
    }
    if (progress < 0) {
        return "failed";
    }
    return "running";
}

Json::Value TaskStatus::ToJson() const {
    Json::Value v;
    v["taskId"] = static_cast<Json::Int64>(taskId);
    v["family"] = FamilyName(family);
    v["taskType"] = static_cast<Json::Int64>(taskType);
    v["state"] = State();
    v["progress"] = static_cast<Json::Int64>(progress);
    v["done"] = static_cast<Json::Int64>(done);
    v["total"] = static_cast<Json::Int64>(total);
    v["name"] = name;
    v["destination"] = destination;
    v["beginTime"] = static_cast<Json::Int64>(beginTime);
    v["errorCode"] = static_cast<Json::Int64>(errorCode);
    v["errorItem"] = errorItem;
    v["items"] = total > 0 ? Id(done) + "/" + Id(total) : std::string();
    return v;
}

const char* FamilyName(TaskSuperType family) {
    switch (family) {
    case TASK_SUPER_TYPE_GALLERY:
        return "gallery";
    case TASK_SUPER_TYPE_TRANS:
        return "trans";
    case TASK_SUPER_TYPE_FILE:
        return "file";
    }
    return "unknown";
}

std::optional<TaskSuperType> FamilyFromName(const std::string& name) {
    if (name == "gallery") {
        return TASK_SUPER_TYPE_GALLERY;
    }
    if (name == "trans") {
        return TASK_SUPER_TYPE_TRANS;
    }
    if (name == "file") {
        return TASK_SUPER_TYPE_FILE;
    }
    return std::nullopt;
}

std::optional<TaskSuperType> FamilyOfType(std::int64_t taskType) {
    if (taskType >= 100 && taskType < 300) {
        return TASK_SUPER_TYPE_TRANS;
    }
    if (taskType >= 300 && taskType < 400) {
        return TASK_SUPER_TYPE_GALLERY;
    }
    if (taskType >= 400 && taskType < 500) {
        return TASK_SUPER_TYPE_FILE;
    }
    return std::nullopt;
}

std::vector<TaskStatus> TaskFollower::List(std::optional<TaskSuperType> family,
                                           std::int32_t category) {
    auto& center = TaskCenterIntfZEQ::Instance();
    std::vector<TaskInfo> tasks;
    std::vector<TaskStatus> out;
    if (family) {
        m_session.Read("list " + std::string(FamilyName(*family)) + " tasks", [&] {
            return center.GetAllTaskStatus(*family, static_cast<TaskCatagory>(category), tasks);
        });
        for (const auto& task : tasks) {
            out.push_back(FromInfo(task, *family));
        }
        return out;
    }
    // The combined listing does not say which family answered each task, so
    // each family is asked on its own and the result sorted like the
    // combined one, newest first.
    for (const auto each : {TASK_SUPER_TYPE_GALLERY, TASK_SUPER_TYPE_TRANS, TASK_SUPER_TYPE_FILE}) {
        for (auto& task : List(each, category)) {
            out.push_back(std::move(task));
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const TaskStatus& a, const TaskStatus& b) {
        return a.beginTime > b.beginTime;
    });
    return out;
}

TaskSuperType TaskFollower::Locate(std::int64_t taskId) {
    std::optional<TaskSuperType> found;
    for (const auto& task : List(std::nullopt, TASK_CATAGORY_BATCH_LIST)) {
        if (task.taskId != taskId) {
            continue;
        }
        if (found && *found != task.family) {
            throw CommandError::Usage("task " + Id(taskId) +
                                      " exists in more than one family; name one with --family");
        }
        found = task.family;
    }
    if (!found) {
        throw CommandError::Device("no task " + Id(taskId) + " on the device");
    }
    return *found;
}

TaskStatus TaskFollower::Poll(TaskSuperType family, std::int64_t taskId) {
    auto& center = TaskCenterIntfZEQ::Instance();
    const std::string what = "status of " + std::string(FamilyName(family)) + " task " + Id(taskId);
    std::vector<TaskInfo> tasks;
    switch (family) {
    case TASK_SUPER_TYPE_TRANS: {
        // The follower the file service offers for transfers; older devices
        // answer it with their own status numbers (3 finished, 4 failed).
        TaskStatusRsp rsp;
        m_session.Require(what, [&] { return center.GetFileTaskStatus(rsp, taskId, 0, false); });
        TaskStatus s;
        s.taskId = taskId;
        s.family = family;
        s.progress = rsp.status == 3 ? 100 : rsp.status == 4 ? -1 : rsp.progress;
        s.done = rsp.successCount;
        s.total = rsp.totalCount;
        s.errorCode = rsp.error;
        return s;
    }
    case TASK_SUPER_TYPE_FILE:
        m_session.Require(what, [&] {
            return center.GetFileTaskStatus(static_cast<std::uint64_t>(taskId), tasks);
        });
        break;
    case TASK_SUPER_TYPE_GALLERY:
        m_session.Require(what, [&] {
            return center.TaskCenterGet(TASK_CATAGORY_BATCH_LIST,
                                        {static_cast<std::uint64_t>(taskId)}, tasks);
        });
        break;
    }
    const TaskInfo* task = Find(tasks, taskId);
    if (task == nullptr) {
        throw CommandError::Device("no " + std::string(FamilyName(family)) + " task " + Id(taskId) +
                                   " on the device");
    }
    return FromInfo(*task, family);
}

TaskStatus TaskFollower::Follow(TaskSuperType family, std::int64_t taskId,
                                std::chrono::milliseconds interval) {
    // With --json the document owns standard output, so progress goes to
    // standard error.
    const bool toStderr = m_session.Out().Json();
    std::ostream& stream = toStderr ? std::cerr : m_session.Out().Stream();
    const bool live = ::isatty(toStderr ? STDERR_FILENO : STDOUT_FILENO) == 1;
    ProgressView view(stream, live, std::string(FamilyName(family)) + " task " + Id(taskId));
    // Since the first of the polls that failed in a row, if any.
    std::optional<std::chrono::steady_clock::time_point> failingSince;
    auto backOff = kFirstBackOff;
    for (;;) {
        std::optional<TaskStatus> status;
        try {
            status = Poll(family, taskId);
        } catch (const CommandError& e) {
            // A poll lost on the way says nothing about the task: look again
            // a little later, for as long as a silent device is waited for.
            const auto now = std::chrono::steady_clock::now();
            failingSince = failingSince.value_or(now);
            const auto left = *failingSince + m_session.Timeout() - now;
            if ((!e.Transient() && e.Code() != ExitCode::Stalled) || left <= left.zero()) {
                view.Finish();
                throw;
            }
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(backOff, left));
            backOff = std::min(backOff * 2, kLastBackOff);
            continue;
        }
        failingSince.reset();
        backOff = kFirstBackOff;
        view.Update({status->Failed() ? 0 : status->progress, status->done, status->total});
        if (status->Ended()) {
            view.Finish();
            return *status;
        }
        std::this_thread::sleep_for(interval);
    }
}

void ReportStartedTask(Session& session, TaskSuperType family, std::int64_t taskId, bool wait,
                       Json::Value doc) {
    session.Device().NoteStartedTask(taskId);
    doc["taskId"] = static_cast<Json::Int64>(taskId);
    doc["family"] = FamilyName(family);
    const std::string name = std::string(FamilyName(family)) + " task " + Id(taskId);
    if (!wait) {
        session.Out().Emit(doc, [&] {
            session.Out().Line("started " + name + "; follow it with: zeqctl tasks watch " +
                               Id(taskId));
        });
        return;
    }
    const auto status = TaskFollower(session).Follow(family, taskId, kFollowInterval);
    doc["task"] = status.ToJson();
    session.Out().Emit(doc, [&] { session.Out().Line(name + " " + status.State()); });
    if (status.Failed()) {
        throw CommandError::Device(name + " failed with code " + std::to_string(status.errorCode) +
                                   (status.errorItem.empty() ? "" : " at " + status.errorItem));
    }
}

} // namespace zeqctl
