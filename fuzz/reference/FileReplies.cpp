// The file service's reply steps as they read replies with jsoncpp.
#include "ReferenceJson.h"
#include "ReferenceReplies.h"

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "services/FileIntfZeq.h"
#include "services/TaskCenterIntfZEQ.h"

#include <memory>
#include <string_view>
#include <utility>

namespace reference {
namespace {

using namespace referencejson;

DeviceCall FileCall(std::string_view operation) {
    return DeviceCall(Scribo::subBase, "FileIntfZeq::" + std::string(operation));
}

bool ParseObject(const std::string& reply, Json::Value& root) {
    return JsonUtil::StringToCppJsonObj(reply, root) && root.isObject();
}

bool IsFolder(std::int32_t type) {
    return type >= 2 && type <= 6;
}

bool TransTaskCenterSupported() {
    return TaskCenterIntfZEQ::IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER);
}

void ParseFileData(const Json::Value& entry, FileData& file) {
    file.id = Int64(entry, "id");
    file.attr = Int32(entry, "attr");
    file.count = Int64(entry, "count");
    file.mtime = Int64(entry, "mtime");
    file.name = Text(entry, "name");
    file.type = Int32(entry, "type");
    file.version = Text(entry, "version");
    file.mime = Text(entry, "mime");
    file.thumb = Text(entry, "thumb");
    file.orientation = Int32(entry, "orientation");
    file.size = Int64(entry, "size");
    file.freeSize = Int64(entry, "freeSize");
    file.path = Text(entry, "path");
    file.action = Int32(entry, "action");
    file.time = Int64(entry, "time");
    file.desc = Text(entry, "desc");
    file.category = Text(entry, "category");
    file.fid = Int64(entry, "fid");
    file.visibility = Int32(entry, "visibility");
}

void ParseRecycleFileData(const Json::Value& entry, RecycleFileData& file) {
    file.name = Text(entry, "name");
    file.type = Int32(entry, "type");
    file.rid = Int64(entry, "rid");
    file.size = Int64(entry, "size");
    file.count = Int64(entry, "count");
    file.dtime = Int64(entry, "dtime");
    file.orientation = Int32(entry, "orientation");
    file.mime = Text(entry, "mime");
    file.path = Text(entry, "path");
    file.thumb = Text(entry, "thumb");
}

} // namespace

bool ParseFileListData(const std::string& reply, FileListData& list,
                       const GetFilesRequestParam& request, FilterFileType filter) {
    Json::Value root;
    const bool isObject = ParseObject(reply, root);
    if (!isObject || !root.isMember("data")) {
        if (isObject && root.isMember("code")) {
            list.code = Int64(root, "code");
        }
        return false;
    }
    list.rawReply = reply;
    const Json::Value& data = Member(root, "data");
    list.hasMore = Bool(data, "hasMore");
    list.parentPath = Text(data, "parentPath");
    list.offset = Int64(data, "offset");
    ForEachObject(data, "files", [&](const Json::Value& entry) {
        auto file = std::make_shared<FileData>();
        ParseFileData(entry, *file);
        if (filter != FILTER_FILE_TYPE_ALL &&
            (filter == FILTER_FILE_TYPE_DIR) != IsFolder(file->type)) {
            return;
        }
        file->requestTag = request.requestTag;
        file->parentPath = list.parentPath;
        file->path = file->parentPath + file->name + (IsFolder(file->type) ? "/" : "");
        if (file->category.empty()) {
            file->category = request.category;
        }
        if (file->parentPath.starts_with("/mnt/usb")) {
            file->id = FileIntfZeq::GetUsbFileIdCount(file->path);
        }
        file->fullPath = file->parentPath + file->name;
        list.files.push_back(std::move(file));
    });
    return true;
}

bool ParseFolderDetailResp(const std::string& reply, FolderDetailResp& detail) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    detail.code = Int64(root, "code");
    detail.version = Text(root, "version");
    if (!root.isMember("data")) {
        return false;
    }
    const Json::Value& data = Member(root, "data");
    detail.name = Text(data, "name");
    detail.size = Int64(data, "size");
    detail.mtime = Int64(data, "mtime");
    detail.dirCount = Int64(data, "dirCount");
    detail.fileCount = Int64(data, "fileCount");
    return true;
}

bool ParseRecycleFileListData(const std::string& reply, RecycleFileListData& list) {
    Json::Value root;
    if (!ParseObject(reply, root) || !root.isMember("data")) {
        return false;
    }
    const Json::Value& data = Member(root, "data");
    list.count = Int64(data, "count");
    list.hasMore = Bool(data, "hasMore");
    list.offset = Int64(data, "offset");
    ForEachObject(data, "files", [&](const Json::Value& entry) {
        auto file = std::make_shared<RecycleFileData>();
        ParseRecycleFileData(entry, *file);
        list.files.push_back(std::move(file));
    });
    return true;
}

bool ParseUsbStatusResp(const std::string& reply, UsbStatusResp& status) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    status.code = Int64(root, "code");
    // A reply without "data" clears what an earlier reply left in the record.
    const Json::Value& data = Member(root, "data");
    status.version = Text(data, "version");
    status.status = Bool(data, "status");
    status.mountPath = Text(data, "mountPath");
    status.info.clear();
    ForEachObject(data, "info", [&](const Json::Value& entry) {
        status.info.push_back(UsbDiskInfo{.name = Text(entry, "name"),
                                          .freeSize = Int64(entry, "freeSize"),
                                          .totalSize = Int64(entry, "totalSize")});
    });
    return true;
}

bool ParseFolderFileDataResp(const std::string& reply, FolderStructureResp& structure) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    structure.code = Int64(root, "code");
    const Json::Value& data = Member(root, "data");
    if (!data.isObject()) {
        return false;
    }
    structure.parentDir = Text(data, "parentDir");
    structure.hasMore = Bool(data, "hasMore");
    structure.offset = Int64(data, "offset");
    ForEachObject(data, "files", [&](const Json::Value& entry) {
        structure.files.push_back(FolderFileEntry{.type = Int32(entry, "type"),
                                                  .fid = Int64(entry, "fid"),
                                                  .mtime = Int64(entry, "mtime"),
                                                  .size = Int64(entry, "size"),
                                                  .hash = Text(entry, "hash"),
                                                  .mimeType = Text(entry, "mimeType"),
                                                  .relativePath = Text(entry, "relativePath"),
                                                  .thumbPath = Text(entry, "thumbPath")});
    });
    return true;
}

bool ParseRcvProgressResp(const std::string& reply, RcvProgressRespData& progress) {
    Json::Value root;
    if (!ParseObject(reply, root) || !root.isMember("data")) {
        return false;
    }
    const Json::Value& data = Member(root, "data");
    progress.total = Int32(data, "total");
    progress.proSuccess = Int32(data, "proSuccess");
    progress.proFailure = Int32(data, "proFailure");
    progress.status = Bool(data, "status");
    ForEachObject(data, "errorInfos", [&](const Json::Value& entry) {
        progress.errorInfos.push_back(RecoverErrorInfo{
            .path = Text(entry, "path"), .id = Text(entry, "id"), .status = Text(entry, "status")});
    });
    return true;
}

bool ParseBaseData(const std::string& reply, FileBaseData& result) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    result.code = Int64(root, "code");
    result.version = Text(root, "version");
    result.desc = Text(root, "desc");
    if (const Json::Value& data = Member(root, "data"); data.isObject()) {
        result.fid = Int64(data, "fid");
    }
    if (result.code != 0) {
        FileCall("ParseBaseData")
            .Log("ParseBaseData error: " + std::to_string(result.code) + ", " + result.desc);
        return false;
    }
    return true;
}

bool ParseCopyMoveResp(const std::string& reply, CopyMoveResp& result) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    result.code = Int64(root, "code");
    result.desc = Text(root, "desc");
    std::vector<CopyMoveTaskResult> tasks;
    const Json::Value& data = Member(root, "data");
    if (data.isObject()) {
        const bool taskCenter = TransTaskCenterSupported();
        ForEachObject(data, "tasks", [&](const Json::Value& entry) {
            CopyMoveTaskResult& task = tasks.emplace_back();
            task.id = Int64(entry, "id");
            task.name = Text(entry, "name");
            if (taskCenter) {
                task.subtaskId = Int64(entry, "subtaskId");
                task.centerId = Int64(entry, "centerId");
                task.transId = Text(entry, "transId");
            }
        });
    }
    result.tasks = std::move(tasks);
    return true;
}

bool ParseDeleteResp(const std::string& reply, DeleteResp& result) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    result.code = Int64(root, "code");
    if (root.isMember("data")) {
        result.progressId = Text(Member(root, "data"), "progressId");
    }
    return true;
}

bool ParseFolderCreateResp(const std::string& reply, FolderStructureCreateResp& result) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    result.code = Int64(root, "code");
    // The device nests its answer one "data" deeper here than elsewhere.
    const Json::Value& data = Member(Member(root, "data"), "data");
    if (!data.isObject()) {
        return false;
    }
    std::vector<FolderCreateError> errors;
    ForEachObject(data, "errorInfos", [&](const Json::Value& entry) {
        errors.push_back(
            FolderCreateError{.path = Text(entry, "path"), .err = Int64(entry, "err")});
    });
    result.errorInfos = std::move(errors);
    return true;
}

bool ParseBatchOperationResp(const std::string& reply, FileBatchOperationResp& result) {
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    result.code = Int64(root, "code");
    const Json::Value& data = Member(root, "data");
    if (!data.isObject()) {
        return false;
    }
    const Json::Value tasks = JsonUtil::GetJsonArrayValFromJson(data, "tasks");
    if (tasks.empty()) {
        return false;
    }
    // One task goes out per request, so only the first answer counts.
    result.taskId = Int64(tasks[0], "taskId");
    result.transId = Text(tasks[0], "transId");
    return true;
}

} // namespace reference
