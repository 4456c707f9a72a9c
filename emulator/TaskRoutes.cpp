#include "emulator/TaskRoutes.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"

namespace zeqemu {

namespace {

using Q = ApiRequest;

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

std::vector<std::int64_t> IdList(const Json::Value& body, const char* key) {
    std::vector<std::int64_t> ids;
    for (const auto& element : Q::Array(body, key)) {
        ids.push_back(Q::IntElement(element, key));
    }
    return ids;
}

Json::Value IntArray(const std::vector<std::int64_t>& ids) {
    Json::Value list(Json::arrayValue);
    for (const auto id : ids) {
        list.append(J(id));
    }
    return list;
}

ApiReply TaskList(Json::Value tasks) {
    Json::Value out;
    out["data"]["tasks"] = std::move(tasks);
    return ApiReply::Ok(out);
}

} // namespace

void TaskRoutes::Register(Router& r) {
    using F = TaskFamily;
    const auto list = [this](F family, bool withTypes) {
        return
            [this, family, withTypes](const ApiRequest& q) { return List(q, family, withTypes); };
    };
    const auto clean = [this](F family) {
        return [this, family](const ApiRequest& q) { return Clean(q, family); };
    };
    const auto retry = [this](F family) {
        return [this, family](const ApiRequest& q) { return Retry(q, family); };
    };
    const auto one = [this](F family) {
        return [this, family](const ApiRequest& q) { return OneTask(q, family); };
    };
    constexpr int kGallery = Capabilities::kGalleryTaskStatus;
    constexpr int kTrans = Capabilities::kTransTaskCenter;
    constexpr int kBatch = Capabilities::kFileBatch;

    r.Post("gallery/getAllTaskStatus", list(F::Gallery, true), kGallery);
    r.Post("gallery/getAllTask", list(F::Gallery, false));
    r.Post("gallery/cleanTaskRecord", clean(F::Gallery), kGallery);
    r.Post("gallery/cleanRecord", clean(F::Gallery));
    r.Post("gallery/retryTask", retry(F::Gallery));
    r.Post("gallery/cancelRecord", [this](const ApiRequest& q) { return Cancel(q); });

    r.Post("trans/getAllTaskStatus", list(F::Transfer, true), kTrans);
    r.Post("trans/getAllTask", list(F::Transfer, false));
    r.Post("trans/cleanTaskRecord", clean(F::Transfer), kTrans);
    r.Post("trans/cleanRecord", clean(F::Transfer));
    r.Post("trans/retryTask", retry(F::Transfer));
    r.Post("trans/getTaskStatus", one(F::Transfer), kTrans);
    r.Post("trans/acrossstatus", [this](const ApiRequest& q) { return AcrossStatus(q); });
    r.Get("trans/status", [this](const ApiRequest& q) { return TransStatus(q); });

    r.Post("filesvc/getAllTaskStatus", list(F::FileService, true), kBatch);
    r.Post("filesvc/cleanTaskRecord", clean(F::FileService));
    r.Post("filesvc/retryTask", retry(F::FileService));
    r.Post("filesvc/getTaskStatus", one(F::FileService));
}

ApiReply TaskRoutes::List(const ApiRequest& q, TaskFamily family, bool withTypes) {
    const auto& b = q.Body();
    TaskCenter::Filter filter;
    filter.family = family;
    filter.category = Q::Int(b, "taskCategory");
    // The gallery's own listing names tasks; the per-family listings do not.
    for (const auto& id : Q::OptArray(b, "taskId")) {
        filter.ids.insert(Q::IntElement(id, "taskId"));
    }
    if (withTypes) {
        for (const auto& type : Q::OptArray(b, "taskTypes")) {
            filter.types.insert(Q::IntElement(type, "taskTypes"));
        }
    }
    return TaskList(m_s.tasks.List(filter));
}

ApiReply TaskRoutes::Clean(const ApiRequest& q, TaskFamily family) {
    const auto ids = IdList(q.Body(), "taskIdList");
    if (ids.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "taskIdList names no task");
    }
    Json::Value out;
    out["errorIdList"] = IntArray(m_s.tasks.Clean(family, ids));
    return ApiReply::Ok(out);
}

ApiReply TaskRoutes::Retry(const ApiRequest& q, TaskFamily family) {
    const auto& b = q.Body();
    const auto taskId = Q::Int(b, "taskId");
    const bool subTasks = Q::Int(b, "isSupportSubTask", 0) != 0;
    const auto transId = m_s.tasks.Retry(family, taskId, subTasks ? Q::Text(b, "transId", "") : "");
    Json::Value out;
    out["tranId"] = transId;
    out["taskId"] = J(taskId);
    return ApiReply::Ok(out);
}

ApiReply TaskRoutes::Cancel(const ApiRequest& q) {
    const auto ids = IdList(q.Body(), "taskIdList");
    if (ids.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "taskIdList names no task");
    }
    Json::Value out;
    out["detail"] = IntArray(m_s.tasks.Cancel(ids));
    return ApiReply::Ok(out);
}

ApiReply TaskRoutes::OneTask(const ApiRequest& q, TaskFamily family) {
    const auto& b = q.Body();
    Json::Value tasks(Json::arrayValue);
    tasks.append(m_s.tasks.Record(Q::Int(b, "taskId"), family));
    return TaskList(tasks);
}

Json::Value TaskRoutes::OldStatus(std::int64_t taskId) const {
    const auto task = m_s.tasks.Get(taskId, TaskFamily::Transfer);
    Json::Value v;
    v["id"] = J(task.taskId);
    v["progress"] = J(task.progress);
    v["successCount"] = J(task.finishedNum);
    v["status"] = TaskCenter::StatusNumber(task.state);
    v["error"] = J(task.errorCode);
    return v;
}

ApiReply TaskRoutes::AcrossStatus(const ApiRequest& q) {
    Json::Value tasks(Json::arrayValue);
    for (const auto& element : Q::Array(q.Body(), "task")) {
        tasks.append(OldStatus(Q::Int(element, "id")));
    }
    return TaskList(tasks);
}

ApiReply TaskRoutes::TransStatus(const ApiRequest& q) {
    Json::Value tasks(Json::arrayValue);
    tasks.append(OldStatus(q.QueryInt("taskId")));
    return TaskList(tasks);
}

} // namespace zeqemu
