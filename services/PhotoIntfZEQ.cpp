#include "services/PhotoIntfZEQ.h"

#include "core/DeviceCall.h"
#include "core/HttpReqZEQ.h"
#include "core/SourceLocation.h"
#include "services/detail/GalleryReply.h"

#include <memory>
#include <string_view>
#include <utility>

using gallery_detail::CheckReplyAppendingIds;
using gallery_detail::CheckReplyReadingTaskId;
using gallery_detail::PostRecord;
using gallery_detail::PostTree;
using servicejson::ForEachObject;
using servicejson::Int32;
using servicejson::Int64;
using servicejson::JsonInt64;
using servicejson::Text;

namespace {

DeviceCall PhotoCall(std::string_view name,
                     httplib::SourceLocation where = httplib::SourceLocation::current()) {
    return DeviceCall(Scribo::subGallery, std::string("PhotoIntfZEQ::").append(name), where);
}

// The device answers "finish" 0 while more pages remain; no "finish" means the same.
bool HasMore(const Json::Value& root) {
    return Int32(root, "finish") == 0;
}

PhotoMembsReq MembsRequest(const std::vector<GalleryFileMember>& files) {
    return PhotoMembsReq{HttpReqZEQ::reqClientType, HttpReqZEQ::reqUserId, HttpReqZEQ::reqDeviceId,
                         files};
}

CleanBinReq CleanRequest(std::int32_t empty, const std::vector<GalleryFileMember>& files) {
    return CleanBinReq{HttpReqZEQ::reqClientType, HttpReqZEQ::reqUserId, HttpReqZEQ::reqDeviceId,
                       empty, files};
}

// The transfer ids go without a capability check here, unlike in the album
// service's asynchronous bodies.
Json::Value AsyncFilesBody(const std::vector<GalleryFileMember>& files, const std::string& transId,
                           std::int32_t subTaskId) {
    Json::Value body(Json::objectValue);
    body["clientType"] = HttpReqZEQ::reqClientType;
    body["deviceId"] = HttpReqZEQ::reqDeviceId;
    body["userId"] = HttpReqZEQ::reqUserId;
    body["transId"] = transId;
    body["subTaskId"] = subTaskId;
    body["membs"] = Json::Value(Json::arrayValue);
    for (const GalleryFileMember& file : files) {
        Json::Value item(Json::objectValue);
        item["fileId"] = JsonInt64(file.fileId);
        item["name"] = file.name;
        body["membs"].append(item);
    }
    return body;
}

BinFileInfo ReadBinFile(const Json::Value& item) {
    BinFileInfo file;
    file.fileId = Int64(item, "fileId");
    file.thumbFilePath = Text(item, "thumbFilePath");
    file.lcdFilePath = Text(item, "lcdFilePath");
    file.zeqFilePath = Text(item, "zeqFilePath");
    file.orientation = Int32(item, "orientation");
    file.mediaType = Int64(item, "mediaType");
    file.fileSrcPath = Text(item, "fileSrcPath");
    file.viewPath = Text(item, "viewPath");
    file.duration = Int64(item, "duration");
    file.mtime = Int32(item, "mtime");
    file.createTime = Int64(item, "createTime");
    file.attachPath = Text(item, "attachPath");
    file.takenTime = Int64(item, "takenTime");
    file.subType = Int64(item, "subType");
    return file;
}

} // namespace

PhotoIntfZEQ& PhotoIntfZEQ::Instance() {
    static PhotoIntfZEQ instance;
    return instance;
}

PhotoIntfZEQ::PhotoIntfZEQ() {
    // Constructing a request fills the device request's cached device and user ids.
    HttpReqZEQ request(HttpReqZEQ::HTTP_GET);
}

// Metadata.

bool PhotoIntfZEQ::GetGalleryFilesAllMetadata(std::int64_t startFileId,
                                              GalleryFilesAllMetadataRsp& rsp) {
    const DeviceCall call = PhotoCall("GetGalleryFilesAllMetadata");
    // The device's own texts: the init line names the table with its last letter cut off.
    const DeviceCall::SendFailureLines lines{
        "http request init failed for get full photos info tabl",
        "http request do failed for get full photos info table"};
    std::string reply;
    return call.Send(HttpReqZEQ::HTTP_GET, "gallery/getFullPhotosInfoTable",
                     {{"startFileId", std::to_string(startFileId)}}, {}, lines, reply) &&
           ParseAllMetadataRsp(reply, rsp);
}

bool PhotoIntfZEQ::GetGalleryFilesIncInfo(std::int64_t preRowId, GalleryFilesIncRsp& rsp) {
    const DeviceCall call = PhotoCall("GetGalleryFilesIncInfo");
    std::string reply;
    return call.Send(HttpReqZEQ::HTTP_GET, "gallery/getIncPhotosInfoTable",
                     {{"preRowId", std::to_string(preRowId)}}, {}, "get inc photos info table",
                     reply) &&
           ParseIncInfoRsp(reply, rsp);
}

bool PhotoIntfZEQ::GetSelectedGalleryFilesMetadata(std::vector<std::int64_t>& fileIds,
                                                   GalleryFilesSelectedMetadataRsp& rsp,
                                                   HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("GetSelectedGalleryFilesMetadata");
    SelectedPhotosReq request{HttpReqZEQ::reqClientType, {}};
    for (const std::int64_t fileId : fileIds) {
        request.fileIds.push_back(AlbumMembFileItem{fileId});
    }
    std::string reply;
    return PostRecord(call, "gallery/getSelectedPhotosInfo", request,
                      "http req selected photos info", "post selected photos info", reply) &&
           ParseSelectdMetadataRsp(reply, rsp, code);
}

bool PhotoIntfZEQ::ModifyGalleryFileAttr(std::int64_t id, const std::string& comment,
                                         HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("ModifyGalleryFileAttr");
    constexpr std::string_view phrase = "http req modify gallery file attr";
    const ModifyFileAttrReq request{HttpReqZEQ::reqClientType, HttpReqZEQ::reqDeviceId, id,
                                    comment};
    std::string body;
    Json::Value root;
    return call.Serialise(request, phrase, body) &&
           call.Post("gallery/modifyFileAttr", body, "post modify gallery file attr", phrase, root,
                     code);
}

void PhotoIntfZEQ::FillGalleryModel(GalleryModel& model, const Json::Value& value) {
    // Runs for every file of a page: one pass over the item's members.
    servicejson::ObjectFields item(value);
    model.attachPath = item.Text("attachPath");
    model.city = item.Text("city");
    model.comment = item.Text("comment");
    model.country = item.Text("country");
    model.createTime = item.Int64("createTime");
    model.dateModified = item.Int64("dateModified");
    model.day = item.Int64("day");
    model.district = item.Text("district");
    model.duration = item.Int64("duration");
    model.favorite = item.Int64("favorite");
    model.fileId = item.Int64("fileId");
    model.fileSrcPath = item.Text("fileSrcPath");
    model.hash = item.Text("hash");
    model.zeqFilePath = item.Text("zeqFilePath");
    model.height = item.Int64("height");
    model.lcdFilePath = item.Text("lcdFilePath");
    model.mediaType = item.Int64("mediaType");
    model.mimeType = item.Text("mimeType");
    model.month = item.Int64("month");
    model.orientation = item.Int64("orientation");
    model.ownerId = item.Int64("ownerId");
    model.ownerName = item.Text("ownerName");
    model.province = item.Text("province");
    model.recycleFlag = item.Int64("recycleFlag");
    model.size = item.Int64("size");
    model.sourceAlbum = item.Int64("sourceAlbum");
    model.subType = item.Int64("subType");
    model.takenTime = item.Int64("takenTime");
    model.thumbFilePath = item.Text("thumbFilePath");
    model.township = item.Text("township");
    model.viewPath = item.Text("viewPath");
    model.width = item.Int64("width");
}

bool PhotoIntfZEQ::ParseAllMetadataRsp(const std::string& reply, GalleryFilesAllMetadataRsp& rsp) {
    const DeviceCall call = PhotoCall("ParseAllMetadataRsp");
    Json::Value root;
    if (!call.CheckReply(reply, "http get full photos info", root, &rsp)) {
        return false;
    }
    rsp.hasMore = HasMore(root);
    rsp.maxRowId = Int64(root, "maxRowId");
    rsp.num = Int64(root, "num");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        auto model = std::make_shared<GalleryModel>();
        FillGalleryModel(*model, item);
        rsp.data.push_back(std::move(model));
    });
    return true;
}

bool PhotoIntfZEQ::ParseIncInfoRsp(const std::string& reply, GalleryFilesIncRsp& rsp) {
    const DeviceCall call = PhotoCall("ParseIncInfoRsp");
    Json::Value root;
    if (!call.CheckReply(reply, "http get inc photos info", root, &rsp)) {
        return false;
    }
    rsp.hasMore = HasMore(root);
    rsp.num = Int64(root, "num");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        GalleryFileIncItem& change = rsp.data.emplace_back();
        change.deviceId = Text(item, "deviceId");
        change.fileId = Int64(item, "fileId");
        change.operation = Int32(item, "operation");
        change.rowId = Int64(item, "rowId");
    });
    return true;
}

bool PhotoIntfZEQ::ParseSelectdMetadataRsp(const std::string& reply,
                                           GalleryFilesSelectedMetadataRsp& rsp,
                                           HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("ParseSelectdMetadataRsp");
    constexpr std::string_view phrase = "http req selected photos info";
    Json::Value root;
    // Besides 0, the device answers 30103 with a usable payload.
    if (!call.ParseReply(reply, phrase, root) || !call.CheckCode(root, phrase, code, {0, 30103})) {
        return false;
    }
    rsp.num = Int64(root, "num");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        auto model = std::make_shared<GalleryModel>();
        FillGalleryModel(*model, item);
        rsp.data.push_back(std::move(model));
    });
    return true;
}

// Deletion and recycle bin.

bool PhotoIntfZEQ::DeleteGalleryFiles(const std::vector<GalleryFileMember>& files,
                                      std::vector<std::int64_t>& ids, HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("DeleteGalleryFiles");
    std::string reply;
    return PostRecord(call, "gallery/delFile", MembsRequest(files), "http req delete gallery files",
                      "post delete gallery files", reply) &&
           ParseDelGalleryFilesRsp(reply, ids, code);
}

bool PhotoIntfZEQ::DeleteGalleryFilesAsync(const std::vector<GalleryFileMember>& files,
                                           const std::string& transId,
                                           const std::int32_t& subTaskId, std::int64_t& taskId,
                                           HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("DeleteGalleryFilesAsync");
    std::string reply;
    return PostTree(call, "gallery/delFileAsync", AsyncFilesBody(files, transId, subTaskId),
                    "post delete gallery files async", reply) &&
           ParseDelGalleryFilesAsyncRsp(reply, taskId, code);
}

bool PhotoIntfZEQ::DeleteBinFiles(const std::vector<GalleryFileMember>& files,
                                  std::vector<std::int64_t>& ids, HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("DeleteBinFiles");
    std::string reply;
    return PostRecord(call, "gallery/cleanBin", CleanRequest(0, files), "http req delete bin files",
                      "post delete bin files", reply) &&
           ParseDelBinFilesRsp(reply, ids, code);
}

bool PhotoIntfZEQ::DeleteBinFiles(HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("DeleteBinFiles");
    std::string reply;
    return PostRecord(call, "gallery/cleanBin", CleanRequest(1, {}), "http req clear bin files",
                      "post clear bin files", reply) &&
           ParseDelBinFilesRsp(reply, code);
}

bool PhotoIntfZEQ::DeleteBinFilesAsync(const std::vector<GalleryFileMember>& files,
                                       const std::string& transId, const std::int32_t& subTaskId,
                                       std::int64_t& taskId, HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("DeleteBinFilesAsync");
    Json::Value body = AsyncFilesBody(files, transId, subTaskId);
    body["empty"] = 0;
    std::string reply;
    return PostTree(call, "gallery/cleanBinAsync", body, "post delete bin files async", reply) &&
           ParseDelBinFilesAsyncRsp(reply, taskId, code);
}

bool PhotoIntfZEQ::RecoverBinFiles(const std::vector<GalleryFileMember>& files,
                                   std::vector<std::int64_t>& ids, HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("RecoverBinFiles");
    std::string reply;
    return PostRecord(call, "gallery/recoverFile", CleanRequest(0, files),
                      "http req recover bin files", "post recover bin files", reply) &&
           ParseRcvrBinFilesRsp(reply, ids, code);
}

bool PhotoIntfZEQ::RecoverBinFilesAsync(const std::vector<GalleryFileMember>& files,
                                        const std::string& transId, const std::int32_t& subTaskId,
                                        std::int64_t& taskId, HttpPostRspCode* code) {
    const DeviceCall call = PhotoCall("RecoverBinFilesAsync");
    std::string reply;
    return PostTree(call, "gallery/recoverFileAsync", AsyncFilesBody(files, transId, subTaskId),
                    "post recover bin files async", reply) &&
           ParseRcvrBinFilesAsyncRsp(reply, taskId, code);
}

bool PhotoIntfZEQ::QueryBinFiles(std::int64_t offset, std::int32_t num, BinQueryInfo& info) {
    const DeviceCall call = PhotoCall("QueryBinFiles");
    std::string reply;
    return PostRecord(call, "gallery/queryBin", QueryBinReq{offset, num},
                      "http req query bin files", "post query bin files", reply) &&
           ParseQueryBinFilesRsp(reply, info);
}

bool PhotoIntfZEQ::ParseDelGalleryFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                                           HttpPostRspCode* code) {
    return CheckReplyAppendingIds(PhotoCall("ParseDelGalleryFilesRsp"), reply,
                                  "http req delete gallery files", "data", "id", ids, code);
}

bool PhotoIntfZEQ::ParseDelGalleryFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                                HttpPostRspCode* code) {
    return CheckReplyReadingTaskId(PhotoCall("ParseDelGalleryFilesAsyncRsp"), reply,
                                   "http req delete gallery files async", taskId, code);
}

bool PhotoIntfZEQ::ParseDelBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                                       HttpPostRspCode* code) {
    return CheckReplyAppendingIds(PhotoCall("ParseDelBinFilesRsp"), reply, "http del bin info",
                                  "data", "id", ids, code);
}

bool PhotoIntfZEQ::ParseDelBinFilesRsp(const std::string& reply, HttpPostRspCode* code) {
    Json::Value root;
    return PhotoCall("ParseDelBinFilesRsp").CheckReply(reply, "http clear bin info", root, code);
}

bool PhotoIntfZEQ::ParseDelBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                            HttpPostRspCode* code) {
    return CheckReplyReadingTaskId(PhotoCall("ParseDelBinFilesAsyncRsp"), reply,
                                   "http req delete bin files async", taskId, code);
}

bool PhotoIntfZEQ::ParseRcvrBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                                        HttpPostRspCode* code) {
    return CheckReplyAppendingIds(PhotoCall("ParseRcvrBinFilesRsp"), reply,
                                  "http req recover bin files", "data", "id", ids, code);
}

bool PhotoIntfZEQ::ParseRcvrBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                             HttpPostRspCode* code) {
    return CheckReplyReadingTaskId(PhotoCall("ParseRcvrBinFilesAsyncRsp"), reply,
                                   "http req recover bin files async", taskId, code);
}

bool PhotoIntfZEQ::ParseQueryBinFilesRsp(const std::string& reply, BinQueryInfo& info) {
    const DeviceCall call = PhotoCall("ParseQueryBinFilesRsp");
    Json::Value root;
    if (!call.CheckReply(reply, "http query bin info", root)) {
        return false;
    }
    info.offset = Int32(root, "offset");
    info.num = Int32(root, "num");
    ForEachObject(root, "data",
                  [&](const Json::Value& item) { info.data.push_back(ReadBinFile(item)); });
    return true;
}
