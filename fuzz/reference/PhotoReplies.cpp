// The photo service's reply steps as they read replies with jsoncpp.
#include "ReferenceGallery.h"
#include "ReferenceJson.h"
#include "ReferenceReplies.h"

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"

#include <memory>
#include <string_view>
#include <utility>

namespace reference {
namespace {

using namespace referencejson;
using namespace referencegallery;

DeviceCall PhotoCall(std::string_view name) {
    return DeviceCall(Scribo::subGallery, std::string("PhotoIntfZEQ::").append(name));
}

bool HasMore(const Json::Value& root) {
    return Int32(root, "finish") == 0;
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

void FillGalleryModel(GalleryModel& model, const Json::Value& value) {
    // Runs for every file of a page: one pass over the item's members.
    referencejson::ObjectFields item(value);
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

} // namespace

bool ParseAllMetadataRsp(const std::string& reply, GalleryFilesAllMetadataRsp& rsp) {
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

bool ParseIncInfoRsp(const std::string& reply, GalleryFilesIncRsp& rsp) {
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

bool ParseSelectdMetadataRsp(const std::string& reply, GalleryFilesSelectedMetadataRsp& rsp,
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

bool ParseDelGalleryFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* code) {
    return CheckReplyAppendingIds(PhotoCall("ParseDelGalleryFilesRsp"), reply,
                                  "http req delete gallery files", "data", "id", ids, code);
}

bool ParseDelGalleryFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                  HttpPostRspCode* code) {
    return CheckReplyReadingTaskId(PhotoCall("ParseDelGalleryFilesAsyncRsp"), reply,
                                   "http req delete gallery files async", taskId, code);
}

bool ParseDelBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                         HttpPostRspCode* code) {
    return CheckReplyAppendingIds(PhotoCall("ParseDelBinFilesRsp"), reply, "http del bin info",
                                  "data", "id", ids, code);
}

bool ParseDelBinFilesRsp(const std::string& reply, HttpPostRspCode* code) {
    Json::Value root;
    return PhotoCall("ParseDelBinFilesRsp").CheckReply(reply, "http clear bin info", root, code);
}

bool ParseDelBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                              HttpPostRspCode* code) {
    return CheckReplyReadingTaskId(PhotoCall("ParseDelBinFilesAsyncRsp"), reply,
                                   "http req delete bin files async", taskId, code);
}

bool ParseRcvrBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                          HttpPostRspCode* code) {
    return CheckReplyAppendingIds(PhotoCall("ParseRcvrBinFilesRsp"), reply,
                                  "http req recover bin files", "data", "id", ids, code);
}

bool ParseRcvrBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                               HttpPostRspCode* code) {
    return CheckReplyReadingTaskId(PhotoCall("ParseRcvrBinFilesAsyncRsp"), reply,
                                   "http req recover bin files async", taskId, code);
}

bool ParseQueryBinFilesRsp(const std::string& reply, BinQueryInfo& info) {
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

} // namespace reference
