#pragma once

#include "emulator/StateFile.h"

#include <json/value.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace zeqemu {

enum class TaskFamily { Gallery = 0, Transfer = 1, FileService = 2 };

// One unit of work of a task; run throws (ApiError or any std::exception) to
// fail the task. name and id go into the failure report.
//
// A step that finishes a change a retry must not make again names it in
// completes: the task records it, and a retry plans without it. Just before
// that change reaches the disk, run hands note what tells afterwards whether
// it did; note returns once that is saved with the task, and the next start
// settles a step a crash cut short by asking exactly that.
struct TaskStep {
    using Note = std::function<void(const Json::Value& intent)>;
    std::string name;
    std::string id;
    std::function<void(const Note& note)> run;
    std::string completes{};
};

struct TaskPlan {
    TaskFamily family = TaskFamily::Transfer;
    int taskType = 0;
    std::string originObjectName;
    std::string destination;
    int objectType = 0;
    std::string transId;
    std::int64_t subTaskId = 0;
    // Called on a worker when the task starts (and again on retry), so the
    // steps see the data as it is then, not as it was when it was queued;
    // done names the changes already made (TaskStep::completes), which it
    // leaves out.
    using Planner = std::function<std::vector<TaskStep>(const std::set<std::string>& done)>;
    Planner planner;
    // What the planner is made from, saved with the record, so a task cut
    // short by a restart can be retried (null: not retryable after one).
    Json::Value recipe;
};

// The device's background tasks: a record per task, a few worker threads that
// run the steps, cancellation between steps, retry of failed or cancelled
// tasks, and records that survive a restart (a task cut short by a shutdown
// comes back failed, "interrupted").
class TaskCenter {
public:
    enum class State { Waiting, Running, Done, Failed, Cancelled };

    struct Snapshot {
        std::int64_t taskId = 0;
        TaskFamily family = TaskFamily::Transfer;
        int taskType = 0;
        State state = State::Waiting;
        std::int64_t progress = 0; // 0..100, -1 once failed or cancelled
        std::int64_t sumNum = 0;
        std::int64_t finishedNum = 0;
        std::int64_t errorCode = 0;
        std::string transId;
        std::int64_t subTaskId = 0;
    };

    // Filter of a task listing. category: 1 waiting or running, 3 ended,
    // anything else every task.
    struct Filter {
        std::optional<TaskFamily> family;
        std::set<std::int64_t> types;
        std::set<std::int64_t> ids;
        std::int64_t category = 0;
    };

    TaskCenter(const std::filesystem::path& dataDir, int workers,
               std::chrono::milliseconds stepDelay);
    ~TaskCenter();
    TaskCenter(const TaskCenter&) = delete;
    TaskCenter& operator=(const TaskCenter&) = delete;

    // Stops the workers after their current step; idempotent.
    void Stop();
    // Gives the tasks loaded from disk their planners back from their
    // recipes (a task whose recipe gives none stays not retryable), and
    // settles the change each had under way when the previous process died:
    // happened tells from a step's note whether it reached the disk. Runs
    // before the device serves anyone, so nothing has changed since.
    void Revive(const std::function<TaskPlan::Planner(const Json::Value& recipe)>& make,
                const std::function<bool(const Json::Value& intent)>& happened);

    std::int64_t Submit(TaskPlan plan);
    Json::Value List(const Filter& filter) const;
    // Throws ApiError when the task does not exist (or is of another family).
    Snapshot Get(std::int64_t taskId, std::optional<TaskFamily> family = std::nullopt) const;
    Json::Value Record(std::int64_t taskId, std::optional<TaskFamily> family = std::nullopt) const;
    // Returns the ids that could not be cleaned (unknown, other family, not ended).
    std::vector<std::int64_t> Clean(std::optional<TaskFamily> family,
                                    const std::vector<std::int64_t>& ids);
    // Returns the ids that were cancelled.
    std::vector<std::int64_t> Cancel(const std::vector<std::int64_t>& ids);
    // Queues a failed or cancelled task again; returns its transfer id.
    std::string Retry(std::optional<TaskFamily> family, std::int64_t taskId,
                      const std::string& transId);

    // Waits until pred holds for the task (false when the bound ran out or the
    // task does not exist).
    bool WaitFor(std::int64_t taskId, const std::function<bool(const Snapshot&)>& pred,
                 std::chrono::milliseconds bound) const;

    // The device's status number: 1 waiting, 2 running, 3 finished, 4 failed.
    static int StatusNumber(State state);

private:
    struct Task {
        Snapshot snap;
        TaskPlan plan;
        std::int64_t beginTime = 0;
        bool cancelRequested = false;
        bool retryable = true; // false for records loaded from disk: no planner
        std::int64_t errorStepErr = 0;
        std::string errorStepName;
        std::string errorStepId;
        std::set<std::string> done; // changes made (TaskStep::completes)
        std::string pendingKey;     // the change under way, and its note
        Json::Value pendingIntent;
    };

    void WorkerLoop();
    void RunTask(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Task>& task);
    void Finish(Task& task, State state, std::int64_t errorCode);
    Json::Value RecordLocked(const Task& task) const;
    std::shared_ptr<Task> FindLocked(std::int64_t taskId, std::optional<TaskFamily> family) const;
    void SaveLocked();
    void Load();

    StateFile m_state;
    std::chrono::milliseconds m_stepDelay;

    // Never held while calling out: steps call in (their notes) while they
    // hold locks of their own.
    mutable std::mutex m_mutex;
    // One condition for everything that changes: queue, progress, stop. Waits
    // re-check their own predicate, so sharing it is only a few extra wakeups.
    mutable std::condition_variable m_changed;
    bool m_stopping = false;
    std::map<std::int64_t, std::shared_ptr<Task>> m_tasks;
    std::vector<std::int64_t> m_queue;
    std::int64_t m_nextId = 1;
    std::vector<std::thread> m_workers;
};

} // namespace zeqemu
