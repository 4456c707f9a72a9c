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
using replyjson::Fields;
using servicejson::JsonInt64;

namespace {

DeviceCall PhotoCall(std::string_view name,
                     httplib::SourceLocation where = httplib::SourceLocation::current()) {
    return DeviceCall(Scribo::subGallery, std::string("PhotoIntfZEQ::").append(name), where);
}

const Fields<GalleryModel> kGalleryModel{
    {"attachPath", &GalleryModel::attachPath},
    {"city", &GalleryModel::city},
    {"comment", &GalleryModel::comment},
    {"country", &GalleryModel::country},
    {"createTime", &GalleryModel::createTime},
    {"dateModified", &GalleryModel::dateModified},
    {"day", &GalleryModel::day},
    {"district", &GalleryModel::district},
    {"duration", &GalleryModel::duration},
    {"favorite", &GalleryModel::favorite},
    {"fileId", &GalleryModel::fileId},
    {"fileSrcPath", &GalleryModel::fileSrcPath},
    {"hash", &GalleryModel::hash},
    {"zeqFilePath", &GalleryModel::zeqFilePath},
    {"height", &GalleryModel::height},
    {"lcdFilePath", &GalleryModel::lcdFilePath},
    {"mediaType", &GalleryModel::mediaType},
    {"mimeType", &GalleryModel::mimeType},
    {"month", &GalleryModel::month},
    {"orientation", &GalleryModel::orientation},
    {"ownerId", &GalleryModel::ownerId},
    {"ownerName", &GalleryModel::ownerName},
    {"province", &GalleryModel::province},
    {"recycleFlag", &GalleryModel::recycleFlag},
    {"size", &GalleryModel::size},
    {"sourceAlbum", &GalleryModel::sourceAlbum},
    {"subType", &GalleryModel::subType},
    {"takenTime", &GalleryModel::takenTime},
    {"thumbFilePath", &GalleryModel::thumbFilePath},
    {"township", &GalleryModel::township},
    {"viewPath", &GalleryModel::viewPath},
    {"width", &GalleryModel::width},
};

const Fields<GalleryFileIncItem> kFileChange{
    {"fileId", &GalleryFileIncItem::fileId},
    {"rowId", &GalleryFileIncItem::rowId},
    {"operation", &GalleryFileIncItem::operation},
    {"deviceId", &GalleryFileIncItem::deviceId},
};

const Fields<BinFileInfo> kBinFile{
    {"fileId", &BinFileInfo::fileId},           {"thumbFilePath", &BinFileInfo::thumbFilePath},
    {"lcdFilePath", &BinFileInfo::lcdFilePath}, {"zeqFilePath", &BinFileInfo::zeqFilePath},
    {"orientation", &BinFileInfo::orientation}, {"mediaType", &BinFileInfo::mediaType},
    {"fileSrcPath", &BinFileInfo::fileSrcPath}, {"viewPath", &BinFileInfo::viewPath},
    {"duration", &BinFileInfo::duration},       {"mtime", &BinFileInfo::mtime},
    {"createTime", &BinFileInfo::createTime},   {"attachPath", &BinFileInfo::attachPath},
    {"takenTime", &BinFileInfo::takenTime},     {"subType", &BinFileInfo::subType},
};

// The device answers "finish" 0 while more pages remain; no "finish" means the same.
template <typename Page> void ReadFinish(Page& page, replyjson::Value finish) {
    page.hasMore = finish.Int32() == 0;
}

const Fields<GalleryFilesAllMetadataRsp> kFullTablePage{
    {"finish", &ReadFinish<GalleryFilesAllMetadataRsp>},
    {"maxRowId", &GalleryFilesAllMetadataRsp::maxRowId},
    {"num", &GalleryFilesAllMetadataRsp::num},
};

const Fields<GalleryFilesIncRsp> kChangeTablePage{
    {"finish", &ReadFinish<GalleryFilesIncRsp>},
    {"num", &GalleryFilesIncRsp::num},
};

const Fields<GalleryFilesSelectedMetadataRsp> kSelectedPage{
    {"num", &GalleryFilesSelectedMetadataRsp::num},
};

const Fields<BinQueryInfo> kBinPage{
    {"offset", &BinQueryInfo::offset},
    {"num", &BinQueryInfo::num},
};

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
    replyjson::FillFromJsonCpp(model, value, kGalleryModel);
}

bool PhotoIntfZEQ::ParseAllMetadataRsp(const std::string& reply, GalleryFilesAllMetadataRsp& rsp) {
    return replyjson::ReadListReply(PhotoCall("ParseAllMetadataRsp"), reply,
                                    {"http get full photos info", &rsp}, rsp, kFullTablePage,
                                    {"data"}, rsp.data, kGalleryModel);
}

bool PhotoIntfZEQ::ParseIncInfoRsp(const std::string& reply, GalleryFilesIncRsp& rsp) {
    return replyjson::ReadListReply(PhotoCall("ParseIncInfoRsp"), reply,
                                    {"http get inc photos info", &rsp}, rsp, kChangeTablePage,
                                    {"data"}, rsp.data, kFileChange);
}

bool PhotoIntfZEQ::ParseSelectdMetadataRsp(const std::string& reply,
                                           GalleryFilesSelectedMetadataRsp& rsp,
                                           HttpPostRspCode* code) {
    // Besides 0, the device answers 30103 with a usable payload.
    return replyjson::ReadListReply(PhotoCall("ParseSelectdMetadataRsp"), reply,
                                    {"http req selected photos info", code, {0, 30103}}, rsp,
                                    kSelectedPage, {"data"}, rsp.data, kGalleryModel);
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
    replyjson::Document document;
    return replyjson::CheckReply(PhotoCall("ParseDelBinFilesRsp"), reply,
                                 {"http clear bin info", code}, document);
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
    return replyjson::ReadListReply(PhotoCall("ParseQueryBinFilesRsp"), reply,
                                    {"http query bin info"}, info, kBinPage, {"data"}, info.data,
                                    kBinFile);
}
