#include "services/FileIntfZeq.h"

#include "context/ClientUtils.h"
#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "core/SourceLocation.h"
#include "services/TaskCenterIntfZEQ.h"
#include "services/detail/ServiceJson.h"

#include <mutex>
#include <utility>

std::map<std::string, std::int64_t> FileIntfZeq::m_usbFileIdMap;
std::int64_t FileIntfZeq::m_usbFileIdCount = 0;

namespace {

using servicejson::Bool;
using servicejson::ForEachObject;
using servicejson::Int32;
using servicejson::Int64;
using servicejson::JsonList;
using servicejson::Member;
using servicejson::Text;

constexpr auto GET = HttpReqZEQ::HTTP_GET;
constexpr auto POST = HttpReqZEQ::HTTP_POST;

std::mutex g_usbFileIdMutex;

DeviceCall FileCall(std::string_view operation,
                    httplib::SourceLocation where = httplib::SourceLocation::current()) {
    return DeviceCall(Scribo::subBase, "FileIntfZeq::" + std::string(operation), where);
}

DeviceCall::Query CategoryQuery(const std::string& category) {
    return {{"category", category}};
}

DeviceCall::Headers DestFile(const std::string& folder) {
    return {{"Dest-File", PercentEncode(folder)}};
}

// The file service's parsers log nothing for a reply that is no JSON object:
// they only answer false, unlike the envelope of the other services.
bool ParseObject(const std::string& reply, Json::Value& root) {
    return JsonUtil::StringToCppJsonObj(reply, root) && root.isObject();
}

void SetIfNotEmpty(Json::Value& object, const char* key, const std::string& text) {
    if (!text.empty()) {
        object[key] = text;
    }
}

bool IsFolder(std::int32_t type) {
    return type >= 2 && type <= 6;
}

bool TransTaskCenterSupported() {
    return TaskCenterIntfZEQ::IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER);
}

} // namespace

FileIntfZeq& FileIntfZeq::Instance() {
    static FileIntfZeq instance;
    return instance;
}

// ---- Listing and details ----

bool FileIntfZeq::GetFiles(GetFilesRequestParam request, FileListData& list) {
    DeviceCall::Query query{{"limit", std::to_string(request.limit)},
                            {"offset", std::to_string(request.offset)},
                            {"sortType", request.sortType},
                            {"category", request.category},
                            {"dirType", "6"}};
    if (!request.filter.empty()) {
        query.emplace("filter", request.filter);
    }
    std::string reply;
    return FileCall("GetFiles")
               .Send(GET, "filesvc/files", query, {}, "GetFiles", reply, DestFile(request.path)) &&
           ParseFileListData(reply, list, std::move(request), FILTER_FILE_TYPE_ALL);
}

bool FileIntfZeq::ParseFileListData(const std::string& reply, FileListData& list,
                                    GetFilesRequestParam request, FilterFileType filter) {
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
            file->id = GetUsbFileIdCount(file->path);
        }
        file->fullPath = file->parentPath + file->name;
        list.files.push_back(std::move(file));
    });
    return true;
}

void FileIntfZeq::ParseFileData(const Json::Value& entry, FileData& file) {
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

std::int64_t FileIntfZeq::GetUsbFileIdCount(std::string path) {
    std::lock_guard lock(g_usbFileIdMutex);
    if (path.empty()) {
        return ++m_usbFileIdCount;
    }
    const auto [it, added] = m_usbFileIdMap.try_emplace(std::move(path), m_usbFileIdCount + 1);
    if (added) {
        ++m_usbFileIdCount;
    }
    return it->second;
}

bool FileIntfZeq::GetFolderDetail(FolderDetailRequestParam request, FolderDetailResp& detail) {
    Json::Value body;
    body["entryId"] = request.entryId;
    body["path"] = request.path;
    std::string reply;
    return FileCall("GetFolderDetail")
               .Send(POST, "filesvc/detail", CategoryQuery(request.category),
                     JsonUtil::CppJsonToString(body), "GetFolderDetail", reply) &&
           ParseFolderDetailResp(reply, detail);
}

bool FileIntfZeq::ParseFolderDetailResp(const std::string& reply, FolderDetailResp& detail) {
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

bool FileIntfZeq::GetRecycleFiles(RecycleFilesRequest request, RecycleFileListData& list) {
    const DeviceCall::Query query{{"limit", std::to_string(request.limit)},
                                  {"offset", std::to_string(request.offset)},
                                  {"category", request.category}};
    std::string reply;
    return FileCall("GetRecycleFiles")
               .Send(GET, "filesvc/recycleFiles", query, {}, "recycleFiles", reply) &&
           ParseRecycleFileListData(reply, list);
}

bool FileIntfZeq::ParseRecycleFileListData(const std::string& reply, RecycleFileListData& list) {
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

void FileIntfZeq::ParseRecycleFileData(const Json::Value& entry, RecycleFileData& file) {
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

bool FileIntfZeq::GetUsbStatus(UsbStatusResp& status) {
    std::string reply;
    return FileCall("GetUsbStatus").Send(GET, "filesvc/usbStatus", {}, {}, "UsbStatus", reply) &&
           ParseUsbStatusResp(reply, status);
}

bool FileIntfZeq::ParseUsbStatusResp(const std::string& reply, UsbStatusResp& status) {
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

bool FileIntfZeq::GetUserSambFolder(std::string& folder) {
    std::string reply;
    if (!FileCall("GetUserSambFolder")
             .Send(GET, "api/app/usersamba", {}, {},
                   DeviceCall::SendFailureLines{"get user samba folder init fail",
                                                "get user samba folder fail"},
                   reply)) {
        return false;
    }
    Json::Value root;
    if (!ParseObject(reply, root)) {
        return false;
    }
    folder = Text(root, "Path");
    return true;
}

bool FileIntfZeq::GetFolderAllSubFiles(FolderStructureResp& structure, std::int64_t offset,
                                       std::string category, std::string folder) {
    const DeviceCall::Query query{
        {"limit", "500"}, {"offset", std::to_string(offset)}, {"category", category}};
    std::string reply;
    return FileCall("GetFolderAllSubFiles")
               .Send(GET, "filesvc/allFiles", query, {},
                     DeviceCall::SendFailureLines{"GetFolderAllSubFiles init fail",
                                                  "GetFolderAllSubFiles fail"},
                     reply, DestFile(folder)) &&
           ParseFolderFileDataResp(reply, structure);
}

bool FileIntfZeq::ParseFolderFileDataResp(const std::string& reply,
                                          FolderStructureResp& structure) {
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

bool FileIntfZeq::GetRecoverProgress(RcvProgressRequest request, RcvProgressRespData& progress) {
    const DeviceCall::Query query{
        {"progerssId", request.progressId}, {"flag", request.flag}, {"category", request.category}};
    std::string reply;
    return FileCall("GetRecoverProgress")
               .Send(GET, "filesvc/recoverProgress", query, {}, "recoverProgress", reply) &&
           ParseRcvProgressResp(reply, progress);
}

bool FileIntfZeq::ParseRcvProgressResp(const std::string& reply, RcvProgressRespData& progress) {
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

// ---- Write operations ----

bool FileIntfZeq::MakeDirectory(MkDirRequestParam request, FileBaseData& result) {
    Json::Value body;
    body["path"] = request.path;
    body["redundancy"] = request.redundancy;
    std::string reply;
    return FileCall("MakeDirectory")
               .Send(POST, "filesvc/mkdir", CategoryQuery(request.category),
                     JsonUtil::CppJsonToString(body), "MakeDirectory", reply) &&
           ParseBaseData(reply, result);
}

bool FileIntfZeq::Copy(CopyMoveRequestParam request, CopyMoveResp& result) {
    std::string body;
    std::string reply;
    return BuildCopyMoveBody(request, body) &&
           FileCall("Copy").Send(POST, "trans/copy", CategoryQuery(request.category), body, "Copy",
                                 reply) &&
           ParseCopyMoveResp(reply, result);
}

bool FileIntfZeq::Move(CopyMoveRequestParam request, CopyMoveResp& result) {
    std::string body;
    std::string reply;
    return BuildCopyMoveBody(request, body) &&
           FileCall("Move").Send(POST, "trans/move", CategoryQuery(request.category), body, "Move",
                                 reply) &&
           ParseCopyMoveResp(reply, result);
}

bool FileIntfZeq::BuildCopyMoveBody(CopyMoveRequestParam& request, std::string& body) {
    const bool taskCenter = TransTaskCenterSupported();
    Json::Value root;
    Json::Value& tasks = root["tasks"];
    for (const CopyMoveTask& task : request.tasks) {
        Json::Value item;
        item["name"] = task.name;
        item["dPath"] = task.dPath;
        item["dCategory"] = task.dCategory;
        item["dVersion"] = task.dVersion;
        item["sCategory"] = task.sCategory;
        item["sPaths"] = JsonList(task.sPaths);
        if (taskCenter) {
            item["deviceId"] = HttpReqZEQ::reqDeviceId;
            item["subTaskId"] = task.subTaskId;
            item["transId"] = task.transId;
        }
        tasks.append(std::move(item));
    }
    body = JsonUtil::CppJsonToString(root);
    return true;
}

bool FileIntfZeq::ParseCopyMoveResp(const std::string& reply, CopyMoveResp& result) {
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

bool FileIntfZeq::Rename(RenameRequestParam request, FileBaseData& result) {
    const DeviceCall::Query query{{"category", request.category},
                                  {"id", std::to_string(request.id)}};
    Json::Value body;
    body["oldpath"] = request.oldpath;
    body["newpath"] = request.newpath;
    std::string reply;
    return FileCall("Rename").Send(POST, "filesvc/rename", query, JsonUtil::CppJsonToString(body),
                                   "Rename", reply) &&
           ParseBaseData(reply, result);
}

bool FileIntfZeq::Delete(DeleteRequestParam request, DeleteResp& result) {
    const DeviceCall::Query query{{"category", request.category}, {"type", request.type}};
    Json::Value body;
    body["srcPath"] = JsonList(request.srcPath, Json::arrayValue);
    std::string reply;
    return FileCall("Delete").Send(POST, "filesvc/remove", query, JsonUtil::CppJsonToString(body),
                                   "Delete", reply) &&
           ParseDeleteResp(reply, result);
}

bool FileIntfZeq::ParseDeleteResp(const std::string& reply, DeleteResp& result) {
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

bool FileIntfZeq::RmvRecycleFiles(RmvRecycleFilesRequest request, FileBaseData& result) {
    // "clear" empties the whole bin; the device expects the single id 0 then.
    const std::vector<std::int64_t> clearAll{0};
    Json::Value body;
    body["action"] = request.action;
    body["files"] = JsonList(request.action == FileIntfText::kClear ? clearAll : request.files);
    std::string reply;
    return FileCall("RmvRecycleFiles")
               .Send(POST, "filesvc/recycleDelFiles", CategoryQuery(request.category),
                     JsonUtil::CppJsonToString(body), "recycleDelFiles", reply) &&
           ParseBaseData(reply, result);
}

bool FileIntfZeq::SetRedundancyAttr(RedundancyRequestParam request, FileBaseData& result) {
    Json::Value body;
    body["attr"] = request.attr;
    body["path"] = JsonList(request.path);
    std::string reply;
    return FileCall("SetRedundancyAttr")
               .Send(POST, "filesvc/redundancy", CategoryQuery(request.category),
                     JsonUtil::CppJsonToString(body), "SetRedundancyAttr", reply) &&
           ParseBaseData(reply, result);
}

bool FileIntfZeq::SetVisibility(VisibilityRequestParam request, FileBaseData& result) {
    Json::Value body;
    body["attr"] = request.attr;
    body["path"] = request.path;
    std::string reply;
    return FileCall("SetVisibility")
               .Send(POST, "filesvc/visibility", CategoryQuery(request.category),
                     JsonUtil::CppJsonToString(body), "SetVisibility", reply) &&
           ParseBaseData(reply, result);
}

bool FileIntfZeq::ParseBaseData(const std::string& reply, FileBaseData& result) {
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

bool FileIntfZeq::CopyAcrossGalleryAndFile(CopyAcrossRequestParam request, CopyMoveResp& result) {
    std::string body;
    std::string reply;
    return BuildCopyAcrossBody(request, body) &&
           FileCall("CopyAcrossGalleryAndFile")
               .Send(POST, "trans/acrosscopy", {}, body, "CopyAcrossGalleryAndFile", reply) &&
           ParseCopyMoveResp(reply, result);
}

bool FileIntfZeq::BuildCopyAcrossBody(CopyAcrossRequestParam& request, std::string& body) {
    Json::Value root;
    root["deviceId"] = HttpReqZEQ::reqDeviceId;
    root["clientType"] = HttpReqZEQ::reqClientType;
    SetIfNotEmpty(root, "name", request.name);
    if (TransTaskCenterSupported()) {
        root["subTaskId"] = request.subTaskId;
        root["transId"] = request.transId;
    }
    // Appending creates "files" and "dirs"; with nothing to append they stay out.
    Json::Value& src = root["src"];
    src["service"] = request.srcService;
    for (const CopyAcrossSrcFile& file : request.srcFiles) {
        Json::Value item;
        item["fid"] = file.fid;
        SetIfNotEmpty(item, "path", file.path);
        item["category"] = file.category;
        SetIfNotEmpty(item, "realName", file.realName);
        src["files"].append(std::move(item));
    }
    Json::Value& dest = root["dest"];
    dest["service"] = request.destService;
    for (const CopyAcrossDestDir& dir : request.destDirs) {
        Json::Value item;
        item["albumId"] = dir.albumId;
        item["albumType"] = dir.albumType;
        SetIfNotEmpty(item, "albumName", dir.albumName);
        SetIfNotEmpty(item, "path", dir.path);
        item["category"] = dir.category;
        item["addTime"] = dir.addTime;
        dest["dirs"].append(std::move(item));
    }
    body = JsonUtil::CppJsonToString(root);
    return true;
}

bool FileIntfZeq::CreateFolderStructure(FolderStructureCreateParam request, std::string category,
                                        FolderStructureCreateResp& result) {
    Json::Value body;
    body["parentDir"] = request.parentDir;
    body["dirs"] = JsonList(request.dirs);
    std::string reply;
    return FileCall("CreateFolderStructure")
               .Send(POST, "filesvc/createDirs", CategoryQuery(category),
                     JsonUtil::CppJsonToString(body),
                     DeviceCall::SendFailureLines{"CreateFolderStructure init fail",
                                                  "CreateFolderStructure fail"},
                     reply) &&
           ParseFolderCreateResp(reply, result);
}

bool FileIntfZeq::ParseFolderCreateResp(const std::string& reply,
                                        FolderStructureCreateResp& result) {
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

bool FileIntfZeq::BatchOperation(FileBatchOperationRequestParam request,
                                 FileBatchOperationResp& result) {
    if (!TaskCenterIntfZEQ::IsSupportFileCap(FILE_CAP_BATCH_OPERATION)) {
        return false;
    }
    const DeviceCall::Query query{{"category", request.category},
                                  {"operation", request.operation},
                                  {"type", request.queryType}};
    Json::Value task;
    task["deviceId"] = HttpReqZEQ::reqDeviceId;
    task["clientType"] = HttpReqZEQ::reqClientType;
    task["subTaskId"] = request.subTaskId;
    task["transId"] = request.transId;
    task["name"] = request.name;
    task["type"] = request.type;
    // Here an empty list leaves its key out rather than sending null.
    if (!request.srcPath.empty()) {
        task["srcPath"] = JsonList(request.srcPath);
    }
    if (!request.rid.empty()) {
        task["rid"] = JsonList(request.rid);
    }
    Json::Value body;
    body["tasks"].append(std::move(task));
    std::string reply;
    return FileCall("BatchOperation")
               .Send(
                   POST, "filesvc/batchOperation", query, JsonUtil::CppJsonToString(body),
                   DeviceCall::SendFailureLines{"batchOperation init fail", "batchOperation fail"},
                   reply) &&
           ParseBatchOperationResp(reply, result);
}

bool FileIntfZeq::ParseBatchOperationResp(const std::string& reply,
                                          FileBatchOperationResp& result) {
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
