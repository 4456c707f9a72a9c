#include "services/FileIntfZeq.h"

#include "context/ClientUtils.h"
#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "core/SourceLocation.h"
#include "services/TaskCenterIntfZEQ.h"
#include "services/detail/ReplyReader.h"
#include "services/detail/ServiceJson.h"

#include <mutex>
#include <utility>

std::map<std::string, std::int64_t> FileIntfZeq::m_usbFileIdMap;
std::int64_t FileIntfZeq::m_usbFileIdCount = 0;

namespace {

using replyjson::AppendObjects;
using replyjson::Fields;
using replyjson::ParseObject;
using servicejson::JsonList;

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

// The file service's replies carry no envelope; its parsers log nothing for a
// reply that is no JSON object, they only answer false.

const Fields<FileData> kFolderEntry{
    {"id", &FileData::id},
    {"attr", &FileData::attr},
    {"count", &FileData::count},
    {"mtime", &FileData::mtime},
    {"name", &FileData::name},
    {"type", &FileData::type},
    {"version", &FileData::version},
    {"mime", &FileData::mime},
    {"thumb", &FileData::thumb},
    {"orientation", &FileData::orientation},
    {"size", &FileData::size},
    {"freeSize", &FileData::freeSize},
    {"path", &FileData::path},
    {"action", &FileData::action},
    {"time", &FileData::time},
    {"desc", &FileData::desc},
    {"category", &FileData::category},
    {"fid", &FileData::fid},
    {"visibility", &FileData::visibility},
};

const Fields<FolderDetailResp> kFolderDetail{
    {"name", &FolderDetailResp::name},           {"size", &FolderDetailResp::size},
    {"mtime", &FolderDetailResp::mtime},         {"dirCount", &FolderDetailResp::dirCount},
    {"fileCount", &FolderDetailResp::fileCount},
};

const Fields<RecycleFileListData> kRecyclePage{
    {"count", &RecycleFileListData::count},
    {"hasMore", &RecycleFileListData::hasMore},
    {"offset", &RecycleFileListData::offset},
};

const Fields<RecycleFileData> kRecycleEntry{
    {"name", &RecycleFileData::name},
    {"type", &RecycleFileData::type},
    {"rid", &RecycleFileData::rid},
    {"size", &RecycleFileData::size},
    {"count", &RecycleFileData::count},
    {"dtime", &RecycleFileData::dtime},
    {"orientation", &RecycleFileData::orientation},
    {"mime", &RecycleFileData::mime},
    {"path", &RecycleFileData::path},
    {"thumb", &RecycleFileData::thumb},
};

const Fields<UsbDiskInfo> kUsbDisk{
    {"name", &UsbDiskInfo::name},
    {"freeSize", &UsbDiskInfo::freeSize},
    {"totalSize", &UsbDiskInfo::totalSize},
};

const Fields<FolderStructureResp> kFlatListingPage{
    {"parentDir", &FolderStructureResp::parentDir},
    {"hasMore", &FolderStructureResp::hasMore},
    {"offset", &FolderStructureResp::offset},
};

const Fields<FolderFileEntry> kFlatListingEntry{
    {"type", &FolderFileEntry::type},
    {"fid", &FolderFileEntry::fid},
    {"mtime", &FolderFileEntry::mtime},
    {"size", &FolderFileEntry::size},
    {"hash", &FolderFileEntry::hash},
    {"mimeType", &FolderFileEntry::mimeType},
    {"relativePath", &FolderFileEntry::relativePath},
    {"thumbPath", &FolderFileEntry::thumbPath},
};

const Fields<RcvProgressRespData> kRecoverProgress{
    {"total", &RcvProgressRespData::total},
    {"proSuccess", &RcvProgressRespData::proSuccess},
    {"proFailure", &RcvProgressRespData::proFailure},
    {"status", &RcvProgressRespData::status},
};

const Fields<RecoverErrorInfo> kRecoverError{
    {"path", &RecoverErrorInfo::path},
    {"id", &RecoverErrorInfo::id},
    {"status", &RecoverErrorInfo::status},
};

const Fields<CopyMoveTaskResult> kCopyMoveTask{
    {"id", &CopyMoveTaskResult::id},
    {"name", &CopyMoveTaskResult::name},
};

// With the transfer task center the device also answers its own ids.
const Fields<CopyMoveTaskResult> kCopyMoveTaskInCenter{
    {"id", &CopyMoveTaskResult::id},
    {"name", &CopyMoveTaskResult::name},
    {"subtaskId", &CopyMoveTaskResult::subtaskId},
    {"centerId", &CopyMoveTaskResult::centerId},
    {"transId", &CopyMoveTaskResult::transId},
};

const Fields<FolderCreateError> kFolderCreateError{
    {"path", &FolderCreateError::path},
    {"err", &FolderCreateError::err},
};

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
    replyjson::Document document;
    const std::size_t first = list.files.size();
    replyjson::AppendTo entries(list.files, kFolderEntry);
    const bool isObject = ParseObject(reply, document, {{"data", "files"}, entries});
    const replyjson::Value root = document.Root();
    if (!isObject || !root.Has("data")) {
        if (isObject && root.Has("code")) {
            list.code = root.Int64("code");
        }
        entries.Restart();
        return false;
    }
    list.rawReply = reply;
    const replyjson::Value data = root["data"];
    list.hasMore = data.Bool("hasMore");
    list.parentPath = data.Text("parentPath");
    list.offset = data.Int64("offset");
    // The client-made fields need the list's parent path, which may come after
    // the entries: each entry is finished here, in reply order.
    auto kept = list.files.begin() + static_cast<std::ptrdiff_t>(first);
    for (auto entry = kept; entry != list.files.end(); ++entry) {
        FileData& file = **entry;
        if (filter != FILTER_FILE_TYPE_ALL &&
            (filter == FILTER_FILE_TYPE_DIR) != IsFolder(file.type)) {
            continue;
        }
        file.requestTag = request.requestTag;
        file.parentPath = list.parentPath;
        file.path = file.parentPath + file.name + (IsFolder(file.type) ? "/" : "");
        if (file.category.empty()) {
            file.category = request.category;
        }
        if (file.parentPath.starts_with("/mnt/usb")) {
            file.id = GetUsbFileIdCount(file.path);
        }
        file.fullPath = file.parentPath + file.name;
        if (kept != entry) {
            *kept = std::move(*entry);
        }
        ++kept;
    }
    list.files.erase(kept, list.files.end());
    return true;
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    const replyjson::Value root = document.Root();
    detail.code = root.Int64("code");
    detail.version = root.Text("version");
    if (!root.Has("data")) {
        return false;
    }
    kFolderDetail(detail, root["data"]);
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
    replyjson::Document document;
    replyjson::AppendTo entries(list.files, kRecycleEntry);
    if (!ParseObject(reply, document, {{"data", "files"}, entries}) ||
        !document.Root().Has("data")) {
        entries.Restart();
        return false;
    }
    kRecyclePage(list, document.Root()["data"]);
    return true;
}

bool FileIntfZeq::GetUsbStatus(UsbStatusResp& status) {
    std::string reply;
    return FileCall("GetUsbStatus").Send(GET, "filesvc/usbStatus", {}, {}, "UsbStatus", reply) &&
           ParseUsbStatusResp(reply, status);
}

bool FileIntfZeq::ParseUsbStatusResp(const std::string& reply, UsbStatusResp& status) {
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    status.code = document.Root().Int64("code");
    // A reply without "data" clears what an earlier reply left in the record.
    const replyjson::Value data = document.Root()["data"];
    status.version = data.Text("version");
    status.status = data.Bool("status");
    status.mountPath = data.Text("mountPath");
    status.info.clear();
    AppendObjects(data["info"], status.info, kUsbDisk);
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    folder = document.Root().Text("Path");
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
    replyjson::Document document;
    replyjson::AppendTo entries(structure.files, kFlatListingEntry);
    if (!ParseObject(reply, document, {{"data", "files"}, entries})) {
        return false;
    }
    structure.code = document.Root().Int64("code");
    const replyjson::Value data = document.Root()["data"];
    if (!data.IsObject()) {
        entries.Restart();
        return false;
    }
    kFlatListingPage(structure, data);
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
    replyjson::Document document;
    if (!ParseObject(reply, document) || !document.Root().Has("data")) {
        return false;
    }
    const replyjson::Value data = document.Root()["data"];
    kRecoverProgress(progress, data);
    AppendObjects(data["errorInfos"], progress.errorInfos, kRecoverError);
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    result.code = document.Root().Int64("code");
    result.desc = document.Root().Text("desc");
    std::vector<CopyMoveTaskResult> tasks;
    if (const replyjson::Value data = document.Root()["data"]; data.IsObject()) {
        AppendObjects(data["tasks"], tasks,
                      TransTaskCenterSupported() ? kCopyMoveTaskInCenter : kCopyMoveTask);
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    result.code = document.Root().Int64("code");
    if (document.Root().Has("data")) {
        result.progressId = document.Root()["data"].Text("progressId");
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    const replyjson::Value root = document.Root();
    result.code = root.Int64("code");
    result.version = root.Text("version");
    result.desc = root.Text("desc");
    if (const replyjson::Value data = root["data"]; data.IsObject()) {
        result.fid = data.Int64("fid");
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    result.code = document.Root().Int64("code");
    // The device nests its answer one "data" deeper here than elsewhere.
    const replyjson::Value data = document.Root()["data"]["data"];
    if (!data.IsObject()) {
        return false;
    }
    std::vector<FolderCreateError> errors;
    AppendObjects(data["errorInfos"], errors, kFolderCreateError);
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
    replyjson::Document document;
    if (!ParseObject(reply, document)) {
        return false;
    }
    result.code = document.Root().Int64("code");
    const replyjson::Value data = document.Root()["data"];
    if (!data.IsObject()) {
        return false;
    }
    // One task goes out per request, so only the first answer counts.
    const replyjson::Value first = data["tasks"].Element(0);
    if (!first.IsPresent()) {
        return false;
    }
    result.taskId = first.Int64("taskId");
    result.transId = first.Text("transId");
    return true;
}
