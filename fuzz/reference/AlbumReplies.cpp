// The album service's reply steps as they read replies with jsoncpp.
#include "ReferenceGallery.h"
#include "ReferenceJson.h"
#include "ReferenceReplies.h"

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"

#include <cmath>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

namespace reference {
namespace {

using namespace referencejson;
using namespace referencegallery;

DeviceCall AlbumCall(std::string_view name) {
    return DeviceCall(Scribo::subAlbum, std::string("AlbumIntfZEQ::").append(name));
}

std::uint64_t FaceCoordinateEntry(const Json::Value& entry) {
    if (!entry.isNumeric()) {
        return 0;
    }
    const double whole = std::trunc(entry.asDouble());
    constexpr double kTwoToThe64 = 18446744073709551616.0;
    return whole >= 0.0 && whole < kTwoToThe64 ? static_cast<std::uint64_t>(whole) : 0;
}

std::int32_t IntegralPart(double number) {
    const double whole = std::trunc(number);
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    return whole >= kMin && whole <= kMax ? static_cast<std::int32_t>(whole) : 0;
}

AlbumCoverInfo ReadCover(const Json::Value& item) {
    AlbumCoverInfo cover;
    cover.coverId = Int64(item, "coverId");
    cover.thumbFilePath = Text(item, "thumbFilePath");
    cover.zeqFilePath = Text(item, "zeqFilePath");
    cover.lcdFilePath = Text(item, "lcdFilePath");
    cover.ownerName = Text(item, "ownerName");
    cover.mediaType = Int64(item, "mediaType");
    cover.orientation = Int32(item, "orientation");
    const Json::Value face = JsonUtil::GetJsonArrayValFromJson(item, "faceCoordinate");
    for (Json::ArrayIndex j = 0; j < face.size() && j < cover.faceCoordinate.size(); ++j) {
        cover.faceCoordinate[j] = FaceCoordinateEntry(face[j]);
    }
    cover.lcdHeight = IntegralPart(Double(item, "lcdHeight"));
    cover.lcdWidth = IntegralPart(Double(item, "lcdWidth"));
    return cover;
}

bool CheckReplyKeepingRecordOnFailure(const DeviceCall& call, const std::string& reply,
                                      std::string_view phrase, Json::Value& root,
                                      HttpPostRspCode& record) {
    HttpPostRspCode envelope;
    if (!call.CheckReply(reply, phrase, root, &envelope)) {
        return false;
    }
    record = std::move(envelope);
    return true;
}

void FillAlbumModel(AlbumBasicModel& model, const Json::Value& value) {
    model.albumId = Int64(value, "albumId");
    model.albumName = Text(value, "albumName");
    model.albumType = Int32(value, "albumType");
    // Unlike the lists, covers are not filtered: an unreadable one still takes
    // its place, at the defaults.
    const Json::Value covers = JsonUtil::GetJsonArrayValFromJson(value, "coverInfo");
    for (Json::ArrayIndex i = 0; i < covers.size(); ++i) {
        model.coverInfo.push_back(ReadCover(covers[i]));
    }
    if (value.isObject() && value["albumAttr"].isObject()) {
        model.albumAttr.birth = Text(value["albumAttr"], "birth");
        model.albumAttr.gender = Int32(value["albumAttr"], "gender");
    }
    model.num = Int64(value, "num");
    model.createTime = Int64(value, "createTime");
    model.ownerId = Int64(value, "ownerId");
    // The device sends these as 64-bit numbers; only the low 32 bits carry meaning.
    model.isOwner = static_cast<std::int32_t>(Int64(value, "isOwner"));
    model.hiddenStatus = static_cast<std::int32_t>(Int64(value, "hiddenStatus"));
}

void FillAlbumMembInfo(AlbumMembInfo& info, const Json::Value& value) {
    info.ownerName = Text(value, "ownerName");
    info.attachPath = Text(value, "attachPath");
    info.city = Text(value, "city");
    info.comment = Text(value, "comment");
    info.country = Text(value, "country");
    info.province = Text(value, "province");
    info.district = Text(value, "district");
    info.township = Text(value, "township");
    info.fileSrcPath = Text(value, "fileSrcPath");
    info.hash = Text(value, "hash");
    info.zeqFilePath = Text(value, "zeqFilePath");
    info.lcdFilePath = Text(value, "lcdFilePath");
    info.thumbFilePath = Text(value, "thumbFilePath");
    info.viewPath = Text(value, "viewPath");
    info.mimeType = Text(value, "mimeType");
    info.ownerId = Int64(value, "ownerId");
    info.createTime = Int64(value, "createTime");
    info.dateModified = Int64(value, "dateModified");
    info.takenTime = Int64(value, "takenTime");
    info.day = Int64(value, "day");
    info.duration = Int64(value, "duration");
    info.favorite = Int64(value, "favorite");
    info.fileId = Int64(value, "fileId");
    info.month = Int64(value, "month");
    info.height = Int64(value, "height");
    info.width = Int64(value, "width");
    info.size = Int64(value, "size");
    info.orientation = Int32(value, "orientation");
    info.mediaType = Int32(value, "mediaType");
    info.recycleFlag = Int32(value, "recycleFlag");
    info.sourceAlbum = Int32(value, "sourceAlbum");
    info.subType = Int32(value, "subType");
}

} // namespace

bool ParseAllAlbumListRsp(const std::string& reply, GalleryAllAlbumListRsp& rsp) {
    const DeviceCall call = AlbumCall("ParseAllAlbumListRsp");
    Json::Value root;
    if (!CheckReplyKeepingRecordOnFailure(call, reply, "http get all albumlist", root, rsp)) {
        return false;
    }
    rsp.lastAlbumId = Int64(root, "lastAlbumId");
    rsp.num = Int32(root, "num");
    rsp.preId = Int64(root, "preId");
    ForEachObject(root, "albumlist", [&](const Json::Value& item) {
        auto model = std::make_shared<AlbumBasicModel>();
        FillAlbumModel(*model, item);
        rsp.albumlist.push_back(std::move(model));
    });
    return true;
}

bool ParseAlbumInfoRsp(const std::string& reply, AlbumInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("ParseAlbumInfoRsp");
    Json::Value root;
    if (!CheckReplyKeepingRecordOnFailure(call, reply, "http get album info", root, rsp)) {
        return false;
    }
    rsp.lastCretime = Int64(root, "lastCretime");
    rsp.lastRowId = Int64(root, "lastRowId");
    rsp.num = Int32(root, "num");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        auto info = std::make_shared<AlbumMembInfo>();
        FillAlbumMembInfo(*info, item);
        rsp.data.push_back(std::move(info));
    });
    return true;
}

bool ParseAlbumIncInfoRsp(const std::string& reply, GalleryAlbumIncInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("ParseAlbumIncInfoRsp");
    Json::Value root;
    if (!call.CheckReply(reply, "http get album inc info", root, &rsp)) {
        return false;
    }
    rsp.lastId = Int64(root, "lastId");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        AlbumIncItem& change = rsp.data.emplace_back();
        change.albumId = Int64(item, "albumId");
        change.albumType = Int32(item, "albumType");
        change.optTime = Int64(item, "optTime");
        change.optType = Int64(item, "optType");
    });
    return true;
}

bool ParseAlbumMembersInfoRsp(const std::string& reply, GalleryAlbumMembersInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("ParseAlbumMembersInfoRsp");
    Json::Value root;
    if (!call.CheckReply(reply, "http get album members info", root, &rsp)) {
        return false;
    }
    rsp.lastRowId = Int64(root, "lastRowId");
    rsp.lastCretime = Int64(root, "lastCretime");
    rsp.preId = Int64(root, "preId");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        AlbumMembRef& member = rsp.data.emplace_back();
        member.fileId = Int64(item, "fileId");
        member.albumId = Int64(item, "albumId");
    });
    return true;
}

bool ParseAlbumMembersIncInfoRsp(const std::string& reply, GalleryAlbumMemberIncInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("ParseAlbumMembersIncInfoRsp");
    Json::Value root;
    if (!call.CheckReply(reply, "http get album member inc info", root, &rsp)) {
        return false;
    }
    rsp.lastId = Int64(root, "lastId");
    ForEachObject(root, "data", [&](const Json::Value& item) {
        AlbumMembIncItem& change = rsp.data.emplace_back();
        change.albumId = Int64(item, "albumId");
        change.fileId = Int64(item, "fileId");
        change.albumType = Int32(item, "albumType");
        change.optTime = Int64(item, "optTime");
        change.optType = Int64(item, "optType");
    });
    return true;
}

bool ParseAddAlbumMembersRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* rsp) {
    return CheckReplyAppendingIds(AlbumCall("ParseAddAlbumMembersRsp"), reply,
                                  "http req add album members", "sucIds", "fileId", ids, rsp);
}

bool ParseDelAlbumMembersRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* rsp) {
    return CheckReplyAppendingIds(AlbumCall("ParseDelAlbumMembersRsp"), reply,
                                  "http req del album members", "sucIds", "fileId", ids, rsp);
}

bool ParseAddAlbumMembAsyncRsp(const std::string& reply, std::int64_t& taskId,
                               HttpPostRspCode* rsp) {
    return CheckReplyReadingTaskId(AlbumCall("ParseAddAlbumMembAsyncRsp"), reply,
                                   "http req add album members async", taskId, rsp);
}

} // namespace reference
