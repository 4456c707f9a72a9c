#include "services/TaskCenterIntfZEQ.h"

#include "core/DeviceCall.h"
#include "core/HttpReqZEQ.h"
#include "core/JsonUtil.h"
#include "core/SourceLocation.h"
#include "platform/Scribo.h"
#include "services/detail/ReplyReader.h"
#include "services/detail/ServiceJson.h"

#include <algorithm>
#include <utility>

namespace {

using replyjson::Fields;
using servicejson::JsonList;

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
                   replyjson::Document& document, std::int64_t& code,
                   const replyjson::List& list = {}) {
    HttpPostRspCode envelope;
    const bool success = replyjson::CheckReply(call, reply, {phrase, &envelope}, document, list);
    if (document.Root().IsObject()) {
        code = envelope.code;
    }
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
void AppendIds(replyjson::Value ids, std::vector<std::uint64_t>& out) {
    ids.ForEachElement([&](replyjson::Value id) { out.push_back(id.AsUInt64()); });
}

// The first entry of the error details only.
void ReadErrorInfo(TaskInfo& info, replyjson::Value error) {
    info.errorCode = error.Int64("errorCode");
    const replyjson::Value first = error["detail"].Element(0);
    info.detailErr = first.Int64("err");
    info.detailName = first.Text("name");
    info.detailId = first.Text("id");
}

const Fields<TaskInfo> kTask{
    {"taskId", &TaskInfo::taskId},
    // One key across task families whose ids may collide.
    {"taskType",
     [](TaskInfo& info, replyjson::Value taskType) {
         info.taskType = taskType.Int64();
         info.uniqueKey = (static_cast<std::uint64_t>(info.taskType) << 32) + info.taskId;
     }},
    {"progress", &TaskInfo::progress},
    {"taskBeginTime", &TaskInfo::taskBeginTime},
    {"sumNum", &TaskInfo::sumNum},
    {"finishedNum", &TaskInfo::finishedNum},
    {"originObjectName", &TaskInfo::originObjectName},
    {"destination", &TaskInfo::destination},
    {"objectType", &TaskInfo::objectType},
    {"exceedFlag", &TaskInfo::exceedFlag},
    {"errorInfo", &ReadErrorInfo},
};

// Status values of the older transfer endpoints are read as unsigned numbers.
template <std::int64_t TaskStatusRsp::*member>
void ReadUnsigned(TaskStatusRsp& rsp, replyjson::Value value) {
    rsp.*member = static_cast<std::int64_t>(value.Uint64());
}

const Fields<TaskStatusRsp> kTaskStatus{
    {"id", &ReadUnsigned<&TaskStatusRsp::taskId>},
    {"progress", &ReadUnsigned<&TaskStatusRsp::progress>},
    {"successCount", &ReadUnsigned<&TaskStatusRsp::successCount>},
    {"status", &ReadUnsigned<&TaskStatusRsp::status>},
    {"error", &ReadUnsigned<&TaskStatusRsp::error>},
};

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
    replyjson::Document document;
    replyjson::AppendTo tasks(out, kTask);
    if (!CheckEnvelope(TaskCall("ParseTaskCenterGetRsp"), reply, kInfoPhrase, document, code,
                       {{"data", "tasks"}, tasks})) {
        return false;
    }
    if (!document.Root()["data"].IsObject()) {
        tasks.Restart();
        return false;
    }
    return true;
}

bool TaskCenterIntfZEQ::ParseTaskCenterCleanRsp(const std::string& reply,
                                                std::vector<std::uint64_t>& failedIds) {
    replyjson::Document document;
    if (!replyjson::CheckReply(TaskCall("ParseTaskCenterCleanRsp"), reply, {kInfoPhrase},
                               document)) {
        return false;
    }
    AppendIds(document.Root()["errorIdList"], failedIds);
    return true;
}

bool TaskCenterIntfZEQ::ParseTaskCenterRetryRsp(const std::string& reply,
                                                TaskCenterRetryReqRsp& rsp) {
    replyjson::Document document;
    if (!replyjson::CheckReply(TaskCall("ParseTaskCenterRetryRsp"), reply,
                               {"http task center retry"}, document)) {
        return false;
    }
    rsp.tranId = document.Root().Text("tranId");
    rsp.taskId = document.Root().Uint64("taskId");
    return true;
}

bool TaskCenterIntfZEQ::ParseTaskCenterCancelRsp(const std::string& reply,
                                                 std::vector<std::uint64_t>& detail) {
    replyjson::Document document;
    if (!replyjson::CheckReply(TaskCall("ParseTaskCenterCancelRsp"), reply,
                               {"http task center cancel"}, document)) {
        return false;
    }
    AppendIds(document.Root()["detail"], detail);
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
    replyjson::Document document;
    if (!CheckEnvelope(TaskCall("ParseTaskStatusRsp"), reply, "ParseTaskStatusRsp", document,
                       rsp.error)) {
        return false;
    }
    const replyjson::Value data = document.Root()["data"];
    if (!data.IsObject()) {
        return false;
    }
    const replyjson::Value tasks = data["tasks"];
    if (tasks.Size() != 0) {
        kTaskStatus(rsp, tasks.Element(0));
    }
    return true;
}
