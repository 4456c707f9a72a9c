#include "services/TaskCenterIntfZEQ.h"

#include "core/DeviceCall.h"
#include "core/HttpReqZEQ.h"
#include "core/JsonUtil.h"
#include "core/SourceLocation.h"
#include "platform/Scribo.h"
#include "services/detail/ServiceJson.h"

#include <algorithm>
#include <utility>

namespace {

using servicejson::Bool;
using servicejson::ForEachObject;
using servicejson::Int32;
using servicejson::Int64;
using servicejson::JsonList;
using servicejson::Member;
using servicejson::Text;
using servicejson::Uint32;
using servicejson::Uint64;

constexpr auto GET = HttpReqZEQ::HTTP_GET;
constexpr auto POST = HttpReqZEQ::HTTP_POST;

constexpr int kFileCapCategory = 1;
constexpr int kTaskCenterCapCategory = 2;

constexpr std::string_view kInfoPhrase = "http task center info";

const std::vector<std::int32_t> kTransTaskTypes{100, 101, 102, 103, 104, 105, 200, 201, 202};
const std::vector<std::int32_t> kFileTaskTypes{400, 401, 402, 403, 404, 405, 406, 407, 408};

struct TaskCenterGetReqBody {
    std::int64_t taskCategory = 0;
    std::vector<std::uint64_t> taskId;
    std::vector<std::int32_t> taskTypes;

    static constexpr std::string_view kFieldList = "taskCategory, taskId, taskTypes";
    auto Fields() const { return std::tie(taskCategory, taskId, taskTypes); }
};

struct TaskIdListReqBody {
    std::vector<std::uint64_t> taskIdList;

    static constexpr std::string_view kFieldList = "taskIdList";
    auto Fields() const { return std::tie(taskIdList); }
};

bool AskDeviceCap(int category, int cap, int line, const char* function) {
    if (HttpReqZEQ::getZeqDevCap == nullptr) {
        Scribo::Output(Scribo::subCloudSuite, Scribo::LOG_ERROR, line, function,
                       "getZeqDevCap uninitialized error!", true);
        return false;
    }
    return HttpReqZEQ::getZeqDevCap(category, cap) > 0;
}

DeviceCall TaskCall(std::string_view operation,
                    httplib::SourceLocation where = httplib::SourceLocation::current()) {
    return DeviceCall(Scribo::subGallery, "TaskCenterIntfZEQ::" + std::string(operation), where);
}

// The envelope, handing the reply's code out once the reply is an object, so
// a caller can keep it whatever the verdict.
bool CheckEnvelope(const DeviceCall& call, const std::string& reply, std::string_view phrase,
                   Json::Value& root, std::int64_t& code) {
    if (!call.ParseReply(reply, phrase, root)) {
        return false;
    }
    HttpPostRspCode envelope;
    const bool success = call.CheckCode(root, phrase, &envelope);
    code = envelope.code;
    return success;
}

Json::Value WithClient(Json::Value body) {
    body["clientType"] = HttpReqZEQ::reqClientType;
    body["deviceId"] = HttpReqZEQ::reqDeviceId;
    return body;
}

Json::Value CategoryBody(TaskCatagory category) {
    Json::Value body;
    body["taskCategory"] = static_cast<std::int32_t>(category);
    return body;
}

Json::Value CategoryBody(TaskCatagory category, const std::vector<std::int32_t>& taskTypes) {
    Json::Value body = CategoryBody(category);
    body["taskTypes"] = JsonList(taskTypes);
    return body;
}

// Id lists come back as bare numbers; the JSON library's own conversion
// applies, and its exceptions reach the caller like every other one.
void AppendIds(const Json::Value& root, const char* key, std::vector<std::uint64_t>& ids) {
    for (const Json::Value& id : JsonUtil::GetJsonArrayValFromJson(root, key)) {
        ids.push_back(id.asUInt64());
    }
}

TaskInfo FillTaskInfo(const Json::Value& task) {
    TaskInfo info;
    info.taskId = Uint64(task, "taskId");
    info.taskType = Int64(task, "taskType");
    info.uniqueKey = (static_cast<std::uint64_t>(info.taskType) << 32) + info.taskId;
    info.progress = Int64(task, "progress");
    info.taskBeginTime = Int64(task, "taskBeginTime");
    info.sumNum = Uint32(task, "sumNum");
    info.finishedNum = Uint32(task, "finishedNum");
    info.originObjectName = Text(task, "originObjectName");
    info.destination = Text(task, "destination");
    info.objectType = Int32(task, "objectType");
    info.exceedFlag = Bool(task, "exceedFlag");
    const Json::Value& error = Member(task, "errorInfo");
    info.errorCode = Int64(error, "errorCode");
    const Json::Value detail = JsonUtil::GetJsonArrayValFromJson(error, "detail");
    const Json::Value& first = detail.empty() ? Json::Value::nullSingleton() : detail[0];
    info.detailErr = Int64(first, "err");
    info.detailName = Text(first, "name");
    info.detailId = Text(first, "id");
    return info;
}

std::string UserTaskBody(std::int64_t taskId) {
    Json::Value body;
    body["taskId"] = taskId;
    body["category"] = "user";
    return JsonUtil::CppJsonToString(body);
}

std::int64_t StatusFromProgress(std::int64_t progress) {
    if (progress == -1) {
        return 4;
    }
    return progress == 100 ? 3 : 2;
}

} // namespace

TaskCenterIntfZEQ& TaskCenterIntfZEQ::Instance() {
    static TaskCenterIntfZEQ instance;
    return instance;
}

TaskCenterIntfZEQ::TaskCenterIntfZEQ() {
    // Constructing a request fills the device request's cached user and device ids.
    HttpReqZEQ request(HttpReqZEQ::HTTP_GET);
}

bool TaskCenterIntfZEQ::IsTaskCenterCapSupport(TaskCenterFeatureCap cap) {
    return AskDeviceCap(kTaskCenterCapCategory, cap, __LINE__,
                        "TaskCenterIntfZEQ::IsTaskCenterCapSupport");
}

bool TaskCenterIntfZEQ::IsSupportFileCap(FileFeatureCap cap) {
    return AskDeviceCap(kFileCapCategory, cap, __LINE__, "TaskCenterIntfZEQ::IsSupportFileCap");
}

// ---- Gallery task center ----

bool TaskCenterIntfZEQ::TaskCenterGet(std::int64_t taskCategory,
                                      const std::vector<std::uint64_t>& taskIds,
                                      std::vector<TaskInfo>& out) {
    const bool statusForm = IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS);
    const TaskCenterGetReqBody request{
        taskCategory, taskIds, statusForm ? GalleryTaskTypes() : std::vector<std::int32_t>{}};
    const DeviceCall call = TaskCall("TaskCenterGet");
    std::string body;
    std::string reply;
    return call.Serialise(request, "http req task center info", body) &&
           call.Send(POST, statusForm ? "gallery/getAllTaskStatus" : "gallery/getAllTask", {}, body,
                     "post task center info", reply) &&
           ParseTaskCenterGetRsp(reply, out);
}

bool TaskCenterIntfZEQ::HttpTaskCenterClean(const std::vector<std::uint64_t>& taskIds,
                                            std::vector<std::uint64_t>& failedIds) {
    const bool statusForm = IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS);
    const DeviceCall call = TaskCall("HttpTaskCenterClean");
    std::string body;
    std::string reply;
    return call.Serialise(TaskIdListReqBody{taskIds}, "http clean task center info", body) &&
           call.Send(POST, statusForm ? "gallery/cleanTaskRecord" : "gallery/cleanRecord", {}, body,
                     "clean task center info", reply) &&
           ParseTaskCenterCleanRsp(reply, failedIds);
}

bool TaskCenterIntfZEQ::HttpTaskCenterRetry(const TaskCenterRetryReqBody& body,
                                            TaskCenterRetryReqRsp& rsp) {
    TaskCenterRetryReqBody sent = body;
    sent.deviceId = HttpReqZEQ::reqDeviceId;
    const DeviceCall call = TaskCall("HttpTaskCenterRetry");
    std::string text;
    std::string reply;
    return call.Serialise(sent, "http retry task center info", text) &&
           call.Send(POST, "gallery/retryTask", {}, text, "retry task center info", reply) &&
           ParseTaskCenterRetryRsp(reply, rsp);
}

bool TaskCenterIntfZEQ::HttpTaskCenterCancel(const std::vector<std::uint64_t>& taskIds,
                                             std::vector<std::uint64_t>& detail) {
    const DeviceCall call = TaskCall("HttpTaskCenterCancel");
    std::string body;
    std::string reply;
    return call.Serialise(TaskIdListReqBody{taskIds}, "http cancel task center info", body) &&
           call.Send(POST, "gallery/cancelRecord", {}, body, "cancel task center info", reply) &&
           ParseTaskCenterCancelRsp(reply, detail);
}

bool TaskCenterIntfZEQ::ParseTaskCenterGetRsp(const std::string& reply,
                                              std::vector<TaskInfo>& out) {
    std::int64_t code = 0;
    return ParseTaskCenterGetRsp(reply, out, code);
}

bool TaskCenterIntfZEQ::ParseTaskCenterGetRsp(const std::string& reply, std::vector<TaskInfo>& out,
                                              std::int64_t& code) {
    Json::Value root;
    if (!CheckEnvelope(TaskCall("ParseTaskCenterGetRsp"), reply, kInfoPhrase, root, code)) {
        return false;
    }
    const Json::Value& data = Member(root, "data");
    if (!data.isObject()) {
        return false;
    }
    ForEachObject(data, "tasks",
                  [&](const Json::Value& task) { out.push_back(FillTaskInfo(task)); });
    return true;
}

bool TaskCenterIntfZEQ::ParseTaskCenterCleanRsp(const std::string& reply,
                                                std::vector<std::uint64_t>& failedIds) {
    Json::Value root;
    if (!TaskCall("ParseTaskCenterCleanRsp").CheckReply(reply, kInfoPhrase, root)) {
        return false;
    }
    AppendIds(root, "errorIdList", failedIds);
    return true;
}

bool TaskCenterIntfZEQ::ParseTaskCenterRetryRsp(const std::string& reply,
                                                TaskCenterRetryReqRsp& rsp) {
    Json::Value root;
    if (!TaskCall("ParseTaskCenterRetryRsp").CheckReply(reply, "http task center retry", root)) {
        return false;
    }
    rsp.tranId = Text(root, "tranId");
    rsp.taskId = Uint64(root, "taskId");
    return true;
}

bool TaskCenterIntfZEQ::ParseTaskCenterCancelRsp(const std::string& reply,
                                                 std::vector<std::uint64_t>& detail) {
    Json::Value root;
    if (!TaskCall("ParseTaskCenterCancelRsp").CheckReply(reply, "http task center cancel", root)) {
        return false;
    }
    AppendIds(root, "detail", detail);
    return true;
}

// ---- Per family ----

std::vector<std::int32_t> TaskCenterIntfZEQ::GalleryTaskTypes() {
    std::vector<std::int32_t> types{300, 302, 303, 304};
    if (IsTaskCenterCapSupport(TASK_CENTER_CAP_TYPE_305)) {
        types.push_back(305);
    }
    return types;
}

bool TaskCenterIntfZEQ::GetAllTaskStatus(TaskSuperType family, TaskCatagory category,
                                         std::vector<TaskInfo>& out) {
    switch (family) {
    case TASK_SUPER_TYPE_GALLERY:
        return GetAllGalleryTaskStatus(category, out);
    case TASK_SUPER_TYPE_TRANS:
        return GetAllTransTaskStatus(category, out);
    case TASK_SUPER_TYPE_FILE:
        return GetAllFileTaskStatus(category, out);
    }
    return false;
}

bool TaskCenterIntfZEQ::GetAllGalleryTaskStatus(TaskCatagory category, std::vector<TaskInfo>& out) {
    if (!IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS)) {
        return GetAllTaskStatus("gallery/getAllTask", CategoryBody(category), out);
    }
    return GetAllTaskStatus("gallery/getAllTaskStatus", CategoryBody(category, GalleryTaskTypes()),
                            out);
}

bool TaskCenterIntfZEQ::GetAllTransTaskStatus(TaskCatagory category, std::vector<TaskInfo>& out) {
    if (!IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER)) {
        return GetAllTaskStatus("trans/getAllTask", CategoryBody(category), out);
    }
    return GetAllTaskStatus("trans/getAllTaskStatus", CategoryBody(category, kTransTaskTypes), out);
}

bool TaskCenterIntfZEQ::GetAllFileTaskStatus(TaskCatagory category, std::vector<TaskInfo>& out) {
    // Older devices keep no file-service task list: nothing to add.
    if (!IsSupportFileCap(FILE_CAP_BATCH_OPERATION)) {
        return true;
    }
    return GetAllTaskStatus("filesvc/getAllTaskStatus", CategoryBody(category, kFileTaskTypes),
                            out);
}

bool TaskCenterIntfZEQ::GetAllTaskStatus(std::string path, Json::Value body,
                                         std::vector<TaskInfo>& out) {
    if (path.empty()) {
        return false;
    }
    std::string reply;
    return TaskCall("GetAllTaskStatus")
               .Send(POST, path, {}, JsonUtil::CppJsonToString(WithClient(std::move(body))),
                     "getAllTaskStatus", reply) &&
           ParseTaskCenterGetRsp(reply, out);
}

bool TaskCenterIntfZEQ::TaskCenterGetBatch(std::vector<TaskInfo>& out) {
    // Every family is asked even after a failure, so out holds all that came.
    const bool gallery = GetAllGalleryTaskStatus(TASK_CATAGORY_BATCH_LIST, out);
    const bool file = GetAllFileTaskStatus(TASK_CATAGORY_BATCH_LIST, out);
    const bool trans = GetAllTransTaskStatus(TASK_CATAGORY_BATCH_LIST, out);
    if (out.size() > 1) {
        std::sort(out.begin(), out.end(), [](const TaskInfo& a, const TaskInfo& b) {
            return a.taskBeginTime > b.taskBeginTime;
        });
    }
    return gallery && file && trans;
}

bool TaskCenterIntfZEQ::CleanTaskRecord(TaskSuperType family, std::vector<std::uint64_t> taskIds,
                                        std::vector<std::uint64_t>& failedIds) {
    std::string path;
    switch (family) {
    case TASK_SUPER_TYPE_GALLERY:
        path = IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS) ? "gallery/cleanTaskRecord"
                                                                      : "gallery/cleanRecord";
        break;
    case TASK_SUPER_TYPE_TRANS:
        path = IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER) ? "trans/cleanTaskRecord"
                                                            : "trans/cleanRecord";
        break;
    case TASK_SUPER_TYPE_FILE:
        path = "filesvc/cleanTaskRecord";
        break;
    }
    return CleanTaskRecord(std::move(path), std::move(taskIds), failedIds);
}

bool TaskCenterIntfZEQ::CleanTaskRecord(std::string path, std::vector<std::uint64_t> taskIds,
                                        std::vector<std::uint64_t>& failedIds) {
    if (path.empty() || taskIds.empty()) {
        return false;
    }
    Json::Value body;
    Json::Value& list = body["taskIdList"];
    for (const std::uint64_t id : taskIds) {
        list.append(static_cast<Json::Int64>(id));
    }
    std::string reply;
    return TaskCall("CleanTaskRecord")
               .Send(POST, path, {}, JsonUtil::CppJsonToString(WithClient(std::move(body))),
                     "cleanTaskRecord", reply) &&
           ParseTaskCenterCleanRsp(reply, failedIds);
}

bool TaskCenterIntfZEQ::RetryTask(TaskSuperType family, TaskCenterRetryReqBody body,
                                  TaskCenterRetryReqRsp& rsp) {
    std::string path;
    switch (family) {
    case TASK_SUPER_TYPE_GALLERY:
        path = "gallery/retryTask";
        break;
    case TASK_SUPER_TYPE_TRANS:
        path = "trans/retryTask";
        break;
    case TASK_SUPER_TYPE_FILE:
        path = "filesvc/retryTask";
        break;
    }
    Json::Value sent;
    sent["taskId"] = body.taskId;
    if (body.isSupportSubTask != 0) {
        sent["isSupportSubTask"] = 1;
        sent["transId"] = body.transId;
    }
    return RetryTask(std::move(path), std::move(sent), rsp);
}

bool TaskCenterIntfZEQ::RetryTask(std::string path, Json::Value body, TaskCenterRetryReqRsp& rsp) {
    if (path.empty()) {
        return false;
    }
    std::string reply;
    return TaskCall("RetryTask")
               .Send(POST, path, {}, JsonUtil::CppJsonToString(WithClient(std::move(body))),
                     "retryTask", reply) &&
           ParseTaskCenterRetryRsp(reply, rsp);
}

// ---- One task ----

bool TaskCenterIntfZEQ::GetFileTaskStatus(std::uint64_t taskId, std::vector<TaskInfo>& out) {
    Json::Value body;
    body["taskId"] = taskId;
    std::string reply;
    return TaskCall("GetFileTaskStatus")
               .Send(POST, "filesvc/getTaskStatus", {},
                     JsonUtil::CppJsonToString(WithClient(std::move(body))), "getTaskStatus",
                     reply) &&
           ParseTaskCenterGetRsp(reply, out);
}

bool TaskCenterIntfZEQ::GetFileTaskStatus(TaskStatusRsp& rsp, std::int64_t taskId,
                                          std::int64_t totalCount, bool across) {
    if (IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER)) {
        return TransGetTaskStatus(rsp, taskId);
    }
    rsp.totalCount = totalCount;
    return across ? TransAcrossStatus(rsp, taskId) : TransStatus(rsp, taskId);
}

bool TaskCenterIntfZEQ::TransGetTaskStatus(TaskStatusRsp& rsp, std::int64_t taskId) {
    std::string reply;
    return TaskCall("TransGetTaskStatus")
               .Send(POST, "trans/getTaskStatus", {}, UserTaskBody(taskId),
                     DeviceCall::SendFailureLines{"TransGetTaskStatus CtxInit fail",
                                                  "TransGetTaskStatus fail"},
                     reply) &&
           FillStatusFromTaskList(reply, rsp, true);
}

bool TaskCenterIntfZEQ::GetDeleteOrRecycleTaskStatus(TaskStatusRsp& rsp, std::int64_t taskId) {
    std::string reply;
    return TaskCall("GetDeleteOrRecycleTaskStatus")
               .Send(POST, "filesvc/getTaskStatus", {}, UserTaskBody(taskId),
                     DeviceCall::SendFailureLines{"GetDeleteOrRecycleTaskStatus CtxInit fail",
                                                  "GetDeleteOrRecycleTaskStatus fail"},
                     reply) &&
           FillStatusFromTaskList(reply, rsp, false);
}

bool TaskCenterIntfZEQ::FillStatusFromTaskList(const std::string& reply, TaskStatusRsp& rsp,
                                               bool keepReplyCode) {
    // The list decides, not the parser's verdict: a task is read whenever one came.
    std::vector<TaskInfo> tasks;
    std::int64_t code = 0;
    ParseTaskCenterGetRsp(reply, tasks, code);
    if (keepReplyCode) {
        rsp.error = code;
    }
    if (tasks.empty()) {
        return false;
    }
    const TaskInfo& task = tasks.front();
    rsp.taskId = static_cast<std::int64_t>(task.taskId);
    rsp.progress = task.progress;
    rsp.totalCount = task.sumNum;
    rsp.successCount = task.finishedNum;
    rsp.status = StatusFromProgress(task.progress);
    rsp.error = task.errorCode;
    return true;
}

bool TaskCenterIntfZEQ::TransAcrossStatus(TaskStatusRsp& rsp, std::int64_t taskId) {
    Json::Value task;
    task["id"] = taskId;
    Json::Value body;
    body["task"].append(std::move(task));
    std::string reply;
    return TaskCall("TransAcrossStatus")
               .Send(POST, "trans/acrossstatus", {}, JsonUtil::CppJsonToString(body),
                     DeviceCall::SendFailureLines{"TransAcrossStatus CtxInit fail",
                                                  "TransAcrossStatus fail"},
                     reply) &&
           ParseTaskStatusRsp(reply, rsp);
}

bool TaskCenterIntfZEQ::TransStatus(TaskStatusRsp& rsp, std::int64_t taskId) {
    const DeviceCall::Query query{{"taskId", std::to_string(taskId)}, {"category", "user"}};
    std::string reply;
    return TaskCall("TransStatus")
               .Send(GET, "trans/status", query, {},
                     DeviceCall::SendFailureLines{"TransStatus CtxInit fail", "TransStatus fail"},
                     reply) &&
           ParseTaskStatusRsp(reply, rsp);
}

bool TaskCenterIntfZEQ::ParseTaskStatusRsp(const std::string& reply, TaskStatusRsp& rsp) {
    Json::Value root;
    const bool success =
        CheckEnvelope(TaskCall("ParseTaskStatusRsp"), reply, "ParseTaskStatusRsp", root, rsp.error);
    if (!success) {
        return false;
    }
    const Json::Value& data = Member(root, "data");
    if (!data.isObject()) {
        return false;
    }
    const Json::Value tasks = JsonUtil::GetJsonArrayValFromJson(data, "tasks");
    if (!tasks.empty()) {
        const Json::Value& task = tasks[0];
        rsp.taskId = static_cast<std::int64_t>(Uint64(task, "id"));
        rsp.progress = static_cast<std::int64_t>(Uint64(task, "progress"));
        rsp.successCount = static_cast<std::int64_t>(Uint64(task, "successCount"));
        rsp.status = static_cast<std::int64_t>(Uint64(task, "status"));
        rsp.error = static_cast<std::int64_t>(Uint64(task, "error"));
    }
    return true;
}
