#include "emulator/TaskCenter.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"

#include <algorithm>
#include <iostream>

namespace zeqemu {

namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool Ended(TaskCenter::State state) {
    return state == TaskCenter::State::Done || state == TaskCenter::State::Failed ||
           state == TaskCenter::State::Cancelled;
}

const char* StateName(TaskCenter::State state) {
    switch (state) {
    case TaskCenter::State::Waiting:
        return "waiting";
    case TaskCenter::State::Running:
        return "running";
    case TaskCenter::State::Done:
        return "done";
    case TaskCenter::State::Failed:
        return "failed";
    case TaskCenter::State::Cancelled:
        return "cancelled";
    }
    return "failed";
}

TaskCenter::State StateFromName(const std::string& name) {
    for (const auto state :
         {TaskCenter::State::Waiting, TaskCenter::State::Running, TaskCenter::State::Done,
          TaskCenter::State::Failed, TaskCenter::State::Cancelled}) {
        if (name == StateName(state)) {
            return state;
        }
    }
    return TaskCenter::State::Failed;
}

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

} // namespace

TaskCenter::TaskCenter(const std::filesystem::path& dataDir, int workers,
                       std::chrono::milliseconds stepDelay)
    : m_state(dataDir / "state" / "tasks.json"), m_stepDelay(stepDelay) {
    Load();
    for (int i = 0; i < std::max(workers, 1); ++i) {
        m_workers.emplace_back([this] { WorkerLoop(); });
    }
}

TaskCenter::~TaskCenter() {
    Stop();
}

void TaskCenter::Stop() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_all();
    for (auto& worker : m_workers) {
        if (worker.joinable()) {
            worker.join();
        }
    }
    m_workers.clear();
    std::lock_guard lock(m_mutex);
    try {
        SaveLocked();
    } catch (const std::exception& e) {
        std::cerr << "zeq-emulator: cannot save the task records: " << e.what() << '\n';
    }
}

void TaskCenter::Revive(const std::function<TaskPlan::Planner(const Json::Value&)>& make,
                        const std::function<bool(const Json::Value&)>& happened) {
    struct Loaded {
        std::shared_ptr<Task> task;
        Json::Value recipe;
        Json::Value intent;
        TaskPlan::Planner planner{};
        bool landed = false;
    };
    std::vector<Loaded> loaded;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [id, task] : m_tasks) {
            if (!task->retryable && !task->plan.recipe.isNull()) {
                loaded.push_back({task, task->plan.recipe,
                                  task->pendingKey.empty() ? Json::Value() : task->pendingIntent});
            }
        }
    }
    for (auto& one : loaded) {
        one.planner = make(one.recipe);
        one.landed = !one.intent.isNull() && happened(one.intent);
    }
    std::lock_guard lock(m_mutex);
    for (auto& one : loaded) {
        auto& task = *one.task;
        task.plan.planner = std::move(one.planner);
        task.retryable = static_cast<bool>(task.plan.planner);
        if (one.landed) {
            task.done.insert(task.pendingKey);
        }
        task.pendingKey.clear();
        task.pendingIntent = Json::Value();
    }
    SaveLocked();
}

int TaskCenter::StatusNumber(State state) {
    switch (state) {
    case State::Waiting:
        return 1;
    case State::Running:
        return 2;
    case State::Done:
        return 3;
    case State::Failed:
    case State::Cancelled:
        return 4;
    }
    return 4;
}

std::int64_t TaskCenter::Submit(TaskPlan plan) {
    std::int64_t id = 0;
    {
        std::lock_guard lock(m_mutex);
        auto task = std::make_shared<Task>();
        id = m_nextId++;
        task->snap.taskId = id;
        task->snap.family = plan.family;
        task->snap.taskType = plan.taskType;
        task->snap.transId =
            plan.transId.empty() ? std::string("t").append(std::to_string(id)) : plan.transId;
        task->snap.subTaskId = plan.subTaskId;
        task->beginTime = NowMs();
        task->plan = std::move(plan);
        m_tasks.emplace(id, task);
        m_queue.push_back(id);
        SaveLocked();
    }
    m_changed.notify_all();
    return id;
}

void TaskCenter::WorkerLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
        if (m_stopping) {
            return;
        }
        const auto id = m_queue.front();
        m_queue.erase(m_queue.begin());
        const auto found = m_tasks.find(id);
        if (found == m_tasks.end() || found->second->snap.state != State::Waiting) {
            continue; // cancelled while queued
        }
        RunTask(lock, found->second);
    }
}

void TaskCenter::RunTask(std::unique_lock<std::mutex>& lock, const std::shared_ptr<Task>& task) {
    auto& snap = task->snap;
    snap.state = State::Running;
    SaveLocked();
    m_changed.notify_all();

    const auto planner = task->plan.planner;
    const auto done = task->done;
    std::vector<TaskStep> steps;
    lock.unlock();
    std::optional<ApiError> planError;
    try {
        steps = planner(done);
    } catch (const ApiError& e) {
        planError = e;
    } catch (const std::exception& e) {
        planError = ApiError::Device(code::kTaskStepFailed, e.what());
    }
    lock.lock();
    if (planError) {
        task->errorStepErr = planError->Code();
        task->errorStepName = planError->what();
        Finish(*task, State::Failed, planError->Code());
        return;
    }
    snap.sumNum = static_cast<std::int64_t>(steps.size());
    m_changed.notify_all();

    for (const auto& step : steps) {
        if (m_stepDelay.count() > 0) {
            m_changed.wait_for(lock, m_stepDelay,
                               [&] { return m_stopping || task->cancelRequested; });
        }
        if (m_stopping) {
            return; // left running: the next start reports it interrupted
        }
        if (task->cancelRequested) {
            Finish(*task, State::Cancelled, code::kTaskCancelled);
            return;
        }
        lock.unlock();
        const auto note = [this, &task, &step](const Json::Value& intent) {
            std::lock_guard noting(m_mutex);
            task->pendingKey = step.completes;
            task->pendingIntent = intent;
            SaveLocked();
        };
        std::optional<ApiError> failure;
        try {
            step.run(note);
        } catch (const ApiError& e) {
            failure = e;
        } catch (const std::exception& e) {
            failure = ApiError::Device(code::kTaskStepFailed, e.what());
        }
        lock.lock();
        task->pendingKey.clear();
        task->pendingIntent = Json::Value();
        if (failure) {
            task->errorStepErr = failure->Code();
            task->errorStepName = step.name;
            task->errorStepId = step.id;
            Finish(*task, State::Failed, code::kTaskStepFailed);
            return;
        }
        if (!step.completes.empty()) {
            // Saved with the next save; a crash before it leaves the note,
            // which the next start settles to the same.
            task->done.insert(step.completes);
        }
        ++snap.finishedNum;
        // 100 is kept for "finished", which comes with the state change.
        snap.progress = std::min<std::int64_t>(snap.finishedNum * 100 / snap.sumNum, 99);
        m_changed.notify_all();
    }
    Finish(*task, State::Done, 0);
}

void TaskCenter::Finish(Task& task, State state, std::int64_t errorCode) {
    task.snap.state = state;
    task.snap.errorCode = errorCode;
    task.snap.progress = state == State::Done ? 100 : -1;
    try {
        SaveLocked();
    } catch (const std::exception& e) {
        std::cerr << "zeq-emulator: cannot save the task records: " << e.what() << '\n';
    }
    m_changed.notify_all();
}

Json::Value TaskCenter::RecordLocked(const Task& task) const {
    const auto& s = task.snap;
    Json::Value v(Json::objectValue);
    v["taskId"] = J(s.taskId);
    v["taskType"] = s.taskType;
    v["progress"] = J(s.progress);
    v["taskBeginTime"] = J(task.beginTime);
    v["sumNum"] = J(s.sumNum);
    v["finishedNum"] = J(s.finishedNum);
    v["originObjectName"] = task.plan.originObjectName;
    v["destination"] = task.plan.destination;
    v["objectType"] = task.plan.objectType;
    v["exceedFlag"] = false;
    v["status"] = StatusNumber(s.state);
    v["state"] = StateName(s.state);
    v["transId"] = s.transId;
    v["subTaskId"] = J(s.subTaskId);
    Json::Value error(Json::objectValue);
    error["errorCode"] = J(s.errorCode);
    error["detail"] = Json::Value(Json::arrayValue);
    if (s.errorCode != 0) {
        Json::Value detail;
        detail["err"] = J(task.errorStepErr != 0 ? task.errorStepErr : s.errorCode);
        detail["name"] = task.errorStepName;
        detail["id"] = task.errorStepId;
        error["detail"].append(detail);
    }
    v["errorInfo"] = error;
    return v;
}

std::shared_ptr<TaskCenter::Task> TaskCenter::FindLocked(std::int64_t taskId,
                                                         std::optional<TaskFamily> family) const {
    const auto found = m_tasks.find(taskId);
    if (found == m_tasks.end() || (family && found->second->snap.family != *family)) {
        return nullptr;
    }
    return found->second;
}

Json::Value TaskCenter::List(const Filter& filter) const {
    std::lock_guard lock(m_mutex);
    Json::Value tasks(Json::arrayValue);
    // Newest first, the order a task list is shown in.
    for (auto it = m_tasks.rbegin(); it != m_tasks.rend(); ++it) {
        const auto& task = *it->second;
        const auto& s = task.snap;
        if ((filter.family && s.family != *filter.family) ||
            (!filter.types.empty() && !filter.types.count(s.taskType)) ||
            (!filter.ids.empty() && !filter.ids.count(s.taskId)) ||
            (filter.category == 1 && Ended(s.state)) || (filter.category == 3 && !Ended(s.state))) {
            continue;
        }
        tasks.append(RecordLocked(task));
    }
    return tasks;
}

TaskCenter::Snapshot TaskCenter::Get(std::int64_t taskId, std::optional<TaskFamily> family) const {
    std::lock_guard lock(m_mutex);
    const auto task = FindLocked(taskId, family);
    if (!task) {
        throw ApiError::Device(code::kNoSuchTask, "no task " + std::to_string(taskId));
    }
    return task->snap;
}

Json::Value TaskCenter::Record(std::int64_t taskId, std::optional<TaskFamily> family) const {
    std::lock_guard lock(m_mutex);
    const auto task = FindLocked(taskId, family);
    if (!task) {
        throw ApiError::Device(code::kNoSuchTask, "no task " + std::to_string(taskId));
    }
    return RecordLocked(*task);
}

std::vector<std::int64_t> TaskCenter::Clean(std::optional<TaskFamily> family,
                                            const std::vector<std::int64_t>& ids) {
    std::vector<std::int64_t> failed;
    std::lock_guard lock(m_mutex);
    for (const auto id : ids) {
        const auto task = FindLocked(id, family);
        if (!task || !Ended(task->snap.state)) {
            failed.push_back(id);
            continue;
        }
        m_tasks.erase(id);
    }
    SaveLocked();
    return failed;
}

std::vector<std::int64_t> TaskCenter::Cancel(const std::vector<std::int64_t>& ids) {
    std::vector<std::int64_t> cancelled;
    {
        std::lock_guard lock(m_mutex);
        for (const auto id : ids) {
            const auto task = FindLocked(id, std::nullopt);
            if (!task || Ended(task->snap.state)) {
                continue;
            }
            if (task->snap.state == State::Waiting) {
                Finish(*task, State::Cancelled, code::kTaskCancelled);
            } else {
                // The worker notices between steps and records the end itself.
                task->cancelRequested = true;
            }
            cancelled.push_back(id);
        }
    }
    m_changed.notify_all();
    return cancelled;
}

std::string TaskCenter::Retry(std::optional<TaskFamily> family, std::int64_t taskId,
                              const std::string& transId) {
    std::string result;
    {
        std::lock_guard lock(m_mutex);
        const auto task = FindLocked(taskId, family);
        if (!task) {
            throw ApiError::Device(code::kNoSuchTask, "no task " + std::to_string(taskId));
        }
        auto& s = task->snap;
        if (s.state != State::Failed && s.state != State::Cancelled) {
            throw ApiError::Device(code::kTaskState, "only failed or cancelled tasks are retried");
        }
        if (!task->retryable) {
            throw ApiError::Device(code::kTaskState, "the task is from before a restart");
        }
        s.state = State::Waiting;
        s.progress = 0;
        s.finishedNum = 0;
        s.sumNum = 0;
        s.errorCode = 0;
        task->cancelRequested = false;
        task->errorStepErr = 0;
        task->errorStepName.clear();
        task->errorStepId.clear();
        if (!transId.empty()) {
            s.transId = transId;
        }
        task->beginTime = NowMs();
        m_queue.push_back(taskId);
        result = s.transId;
        SaveLocked();
    }
    m_changed.notify_all();
    return result;
}

bool TaskCenter::WaitFor(std::int64_t taskId, const std::function<bool(const Snapshot&)>& pred,
                         std::chrono::milliseconds bound) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, bound, [&] {
        const auto task = FindLocked(taskId, std::nullopt);
        return task && pred(task->snap);
    });
}

void TaskCenter::SaveLocked() {
    Json::Value doc(Json::objectValue);
    doc["nextId"] = J(m_nextId);
    auto& list = doc["tasks"] = Json::Value(Json::arrayValue);
    for (const auto& [id, task] : m_tasks) {
        auto record = RecordLocked(*task);
        record["family"] = static_cast<int>(task->snap.family);
        record["recipe"] = task->plan.recipe;
        auto& done = record["done"] = Json::Value(Json::arrayValue);
        for (const auto& key : task->done) {
            done.append(key);
        }
        if (!task->pendingKey.empty()) {
            record["pending"]["key"] = task->pendingKey;
            record["pending"]["intent"] = task->pendingIntent;
        }
        list.append(record);
    }
    m_state.Save(doc);
}

void TaskCenter::Load() {
    const auto doc = m_state.Load();
    if (doc.isNull()) {
        return;
    }
    m_nextId = doc["nextId"].asInt64();
    for (const auto& v : doc["tasks"]) {
        auto task = std::make_shared<Task>();
        auto& s = task->snap;
        s.taskId = v["taskId"].asInt64();
        s.family = static_cast<TaskFamily>(v["family"].asInt());
        s.taskType = v["taskType"].asInt();
        s.state = StateFromName(v["state"].asString());
        s.progress = v["progress"].asInt64();
        s.sumNum = v["sumNum"].asInt64();
        s.finishedNum = v["finishedNum"].asInt64();
        s.errorCode = v["errorInfo"]["errorCode"].asInt64();
        s.transId = v["transId"].asString();
        s.subTaskId = v["subTaskId"].asInt64();
        task->beginTime = v["taskBeginTime"].asInt64();
        task->plan.family = s.family;
        task->plan.taskType = s.taskType;
        task->plan.originObjectName = v["originObjectName"].asString();
        task->plan.destination = v["destination"].asString();
        task->plan.objectType = v["objectType"].asInt();
        task->plan.recipe = v["recipe"];
        task->retryable = false;
        for (const auto& key : v["done"]) {
            task->done.insert(key.asString());
        }
        task->pendingKey = v["pending"]["key"].asString();
        task->pendingIntent = v["pending"]["intent"];
        const auto& detail = v["errorInfo"]["detail"];
        if (detail.isArray() && !detail.empty()) {
            task->errorStepErr = detail[0]["err"].asInt64();
            task->errorStepName = detail[0]["name"].asString();
            task->errorStepId = detail[0]["id"].asString();
        }
        if (!Ended(s.state)) {
            // Its worker died with the previous process.
            s.state = State::Failed;
            s.progress = -1;
            s.errorCode = code::kTaskInterrupted;
        }
        m_tasks.emplace(s.taskId, task);
    }
}

} // namespace zeqemu
