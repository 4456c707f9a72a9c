// The task center's reply steps as they read replies with jsoncpp.
#include "ReferenceJson.h"
#include "ReferenceReplies.h"

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"

#include <string_view>
#include <utility>

namespace reference {
namespace {

using namespace referencejson;

constexpr std::string_view kInfoPhrase = "http task center info";

DeviceCall TaskCall(std::string_view operation) {
    return DeviceCall(Scribo::subGallery, "TaskCenterIntfZEQ::" + std::string(operation));
}

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

} // namespace

bool ParseTaskCenterGetRsp(const std::string& reply, std::vector<TaskInfo>& out,
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

bool ParseTaskCenterCleanRsp(const std::string& reply, std::vector<std::uint64_t>& failedIds) {
    Json::Value root;
    if (!TaskCall("ParseTaskCenterCleanRsp").CheckReply(reply, kInfoPhrase, root)) {
        return false;
    }
    AppendIds(root, "errorIdList", failedIds);
    return true;
}

bool ParseTaskCenterRetryRsp(const std::string& reply, TaskCenterRetryReqRsp& rsp) {
    Json::Value root;
    if (!TaskCall("ParseTaskCenterRetryRsp").CheckReply(reply, "http task center retry", root)) {
        return false;
    }
    rsp.tranId = Text(root, "tranId");
    rsp.taskId = Uint64(root, "taskId");
    return true;
}

bool ParseTaskCenterCancelRsp(const std::string& reply, std::vector<std::uint64_t>& detail) {
    Json::Value root;
    if (!TaskCall("ParseTaskCenterCancelRsp").CheckReply(reply, "http task center cancel", root)) {
        return false;
    }
    AppendIds(root, "detail", detail);
    return true;
}

bool ParseTaskStatusRsp(const std::string& reply, TaskStatusRsp& rsp) {
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

} // namespace reference
