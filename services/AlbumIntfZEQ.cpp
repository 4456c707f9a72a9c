#include "services/AlbumIntfZEQ.h"

#include "core/DeviceCall.h"
#include "core/HttpReqZEQ.h"
#include "core/JsonUtil.h"
#include "core/SourceLocation.h"
#include "services/TaskCenterIntfZEQ.h"
#include "services/detail/GalleryReply.h"

#include <cmath>
#include <cstddef>
#include <exception>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

using gallery_detail::CheckReplyAppendingIds;
using gallery_detail::CheckReplyReadingTaskId;
using gallery_detail::PostRecord;
using gallery_detail::PostTree;
using replyjson::Fields;
using servicejson::Int64;
using servicejson::JsonInt64;

namespace {

DeviceCall AlbumCall(std::string_view name,
                     httplib::SourceLocation where = httplib::SourceLocation::current()) {
    return DeviceCall(Scribo::subAlbum, std::string("AlbumIntfZEQ::").append(name), where);
}

std::string Decimal(std::int64_t number) {
    return std::to_string(number);
}

// Negative or oversized numbers have no unsigned 64-bit form; they give 0
// rather than an undefined conversion.
std::uint64_t FaceCoordinateEntry(replyjson::Value entry) {
    if (!entry.IsNumber()) {
        return 0;
    }
    const double whole = std::trunc(entry.AsDouble());
    constexpr double kTwoToThe64 = 18446744073709551616.0;
    return whole >= 0.0 && whole < kTwoToThe64 ? static_cast<std::uint64_t>(whole) : 0;
}

// The integral part; a value that does not fit gives 0, never an undefined
// conversion.
std::int32_t IntegralPart(double number) {
    const double whole = std::trunc(number);
    constexpr double kMin = std::numeric_limits<std::int32_t>::min();
    constexpr double kMax = std::numeric_limits<std::int32_t>::max();
    return whole >= kMin && whole <= kMax ? static_cast<std::int32_t>(whole) : 0;
}

const Fields<AlbumCoverInfo> kCover{
    {"coverId", &AlbumCoverInfo::coverId},
    {"thumbFilePath", &AlbumCoverInfo::thumbFilePath},
    {"zeqFilePath", &AlbumCoverInfo::zeqFilePath},
    {"lcdFilePath", &AlbumCoverInfo::lcdFilePath},
    {"ownerName", &AlbumCoverInfo::ownerName},
    {"mediaType", &AlbumCoverInfo::mediaType},
    {"orientation", &AlbumCoverInfo::orientation},
    // The first four numbers; the entries past a shorter array stay 0.
    {"faceCoordinate",
     [](AlbumCoverInfo& cover, replyjson::Value face) {
         for (std::size_t j = 0; j < face.Size() && j < cover.faceCoordinate.size(); ++j) {
             cover.faceCoordinate[j] = FaceCoordinateEntry(face.Element(j));
         }
     }},
    {"lcdHeight", [](AlbumCoverInfo& cover,
                     replyjson::Value height) { cover.lcdHeight = IntegralPart(height.Double()); }},
    {"lcdWidth", [](AlbumCoverInfo& cover,
                    replyjson::Value width) { cover.lcdWidth = IntegralPart(width.Double()); }},
};

const Fields<GalleryAlbumAttr> kAlbumAttr{
    {"birth", &GalleryAlbumAttr::birth},
    {"gender", &GalleryAlbumAttr::gender},
};

const Fields<AlbumBasicModel> kAlbum{
    {"albumId", &AlbumBasicModel::albumId},
    {"albumName", &AlbumBasicModel::albumName},
    {"albumType", &AlbumBasicModel::albumType},
    // Unlike the lists, covers are not filtered: an unreadable one still takes
    // its place, at the defaults. A model filled again keeps its earlier covers.
    {"coverInfo",
     [](AlbumBasicModel& album, replyjson::Value covers) {
         covers.ForEachElement(
             [&](replyjson::Value cover) { kCover(album.coverInfo.emplace_back(), cover); });
     }},
    // Without an attributes object, a model filled again keeps its attributes.
    {"albumAttr",
     [](AlbumBasicModel& album, replyjson::Value attr) {
         if (attr.IsObject()) {
             kAlbumAttr(album.albumAttr, attr);
         }
     }},
    {"num", &AlbumBasicModel::num},
    {"createTime", &AlbumBasicModel::createTime},
    {"ownerId", &AlbumBasicModel::ownerId},
    // The device sends these as 64-bit numbers; only the low 32 bits carry meaning.
    {"isOwner",
     [](AlbumBasicModel& album, replyjson::Value isOwner) {
         album.isOwner = static_cast<std::int32_t>(isOwner.Int64());
     }},
    {"hiddenStatus",
     [](AlbumBasicModel& album, replyjson::Value hiddenStatus) {
         album.hiddenStatus = static_cast<std::int32_t>(hiddenStatus.Int64());
     }},
};

const Fields<AlbumMembInfo> kAlbumFile{
    {"ownerName", &AlbumMembInfo::ownerName},
    {"attachPath", &AlbumMembInfo::attachPath},
    {"city", &AlbumMembInfo::city},
    {"comment", &AlbumMembInfo::comment},
    {"country", &AlbumMembInfo::country},
    {"province", &AlbumMembInfo::province},
    {"district", &AlbumMembInfo::district},
    {"township", &AlbumMembInfo::township},
    {"fileSrcPath", &AlbumMembInfo::fileSrcPath},
    {"hash", &AlbumMembInfo::hash},
    {"zeqFilePath", &AlbumMembInfo::zeqFilePath},
    {"lcdFilePath", &AlbumMembInfo::lcdFilePath},
    {"thumbFilePath", &AlbumMembInfo::thumbFilePath},
    {"viewPath", &AlbumMembInfo::viewPath},
    {"mimeType", &AlbumMembInfo::mimeType},
    {"ownerId", &AlbumMembInfo::ownerId},
    {"createTime", &AlbumMembInfo::createTime},
    {"dateModified", &AlbumMembInfo::dateModified},
    {"takenTime", &AlbumMembInfo::takenTime},
    {"day", &AlbumMembInfo::day},
    {"duration", &AlbumMembInfo::duration},
    {"favorite", &AlbumMembInfo::favorite},
    {"fileId", &AlbumMembInfo::fileId},
    {"month", &AlbumMembInfo::month},
    {"height", &AlbumMembInfo::height},
    {"width", &AlbumMembInfo::width},
    {"size", &AlbumMembInfo::size},
    {"orientation", &AlbumMembInfo::orientation},
    {"mediaType", &AlbumMembInfo::mediaType},
    {"recycleFlag", &AlbumMembInfo::recycleFlag},
    {"sourceAlbum", &AlbumMembInfo::sourceAlbum},
    {"subType", &AlbumMembInfo::subType},
};

const Fields<AlbumIncItem> kAlbumChange{
    {"albumId", &AlbumIncItem::albumId},
    {"albumType", &AlbumIncItem::albumType},
    {"optTime", &AlbumIncItem::optTime},
    {"optType", &AlbumIncItem::optType},
};

const Fields<AlbumMembRef> kAlbumMember{
    {"fileId", &AlbumMembRef::fileId},
    {"albumId", &AlbumMembRef::albumId},
};

const Fields<AlbumMembIncItem> kAlbumMemberChange{
    {"albumId", &AlbumMembIncItem::albumId},     {"fileId", &AlbumMembIncItem::fileId},
    {"albumType", &AlbumMembIncItem::albumType}, {"optTime", &AlbumMembIncItem::optTime},
    {"optType", &AlbumMembIncItem::optType},
};

// The two list queries store code and des only once the reply has passed: a
// failed one leaves the caller's values. The change feeds store them before
// the verdict, through the envelope.
const Fields<GalleryAllAlbumListRsp> kAlbumListPage{
    {"code", &GalleryAllAlbumListRsp::code},
    {"des", &GalleryAllAlbumListRsp::des},
    {"lastAlbumId", &GalleryAllAlbumListRsp::lastAlbumId},
    {"num", &GalleryAllAlbumListRsp::num},
    {"preId", &GalleryAllAlbumListRsp::preId},
};

const Fields<AlbumInfoRsp> kAlbumFilesPage{
    {"code", &AlbumInfoRsp::code},
    {"des", &AlbumInfoRsp::des},
    {"lastCretime", &AlbumInfoRsp::lastCretime},
    {"lastRowId", &AlbumInfoRsp::lastRowId},
    {"num", &AlbumInfoRsp::num},
};

const Fields<GalleryAlbumIncInfoRsp> kAlbumChangesPage{
    {"lastId", &GalleryAlbumIncInfoRsp::lastId},
};

const Fields<GalleryAlbumMembersInfoRsp> kAlbumMembersPage{
    {"lastRowId", &GalleryAlbumMembersInfoRsp::lastRowId},
    {"lastCretime", &GalleryAlbumMembersInfoRsp::lastCretime},
    {"preId", &GalleryAlbumMembersInfoRsp::preId},
};

const Fields<GalleryAlbumMemberIncInfoRsp> kAlbumMemberChangesPage{
    {"lastId", &GalleryAlbumMemberIncInfoRsp::lastId},
};

// Runs one list query so that no exception leaves it: each is logged under
// the operation's name, without its text.
template <typename Exchange>
bool CatchingEverything(const DeviceCall& call, std::string_view operation, Exchange exchange) {
    try {
        return exchange();
    } catch (const std::exception&) {
        call.Log(std::string(operation) + " failed with exception");
    } catch (...) {
        call.Log(std::string(operation) + " failed with unknown exception");
    }
    return false;
}

// Only devices with the gallery task status take transfer ids in album task
// bodies; the others are followed by task id alone.
void AddTransferIds(Json::Value& body, const std::string& transId, std::int32_t subTaskId) {
    if (TaskCenterIntfZEQ::Instance().IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS)) {
        body["transId"] = transId;
        body["subTaskId"] = subTaskId;
    }
}

Json::Value DeviceBody() {
    Json::Value body(Json::objectValue);
    body["clientType"] = HttpReqZEQ::reqClientType;
    body["deviceId"] = HttpReqZEQ::reqDeviceId;
    return body;
}

ChgAlbumMembsReq MembsRequest(const ChgAlbumMembersParam& param) {
    ChgAlbumMembsReq request{HttpReqZEQ::reqClientType,
                             HttpReqZEQ::reqDeviceId,
                             param.albumId,
                             param.albumName,
                             param.albumType,
                             {},
                             param.addTime};
    for (const std::int64_t fileId : param.fileIds) {
        request.membs.push_back(AlbumMembFileItem{fileId});
    }
    return request;
}

Json::Value ShareToPersonBody(const ChgAlbumShareToPersonParam& param) {
    Json::Value body = DeviceBody();
    body["albumId"] = JsonInt64(param.albumId);
    body["albumName"] = param.albumName;
    body["albumType"] = param.albumType;
    Json::Value files(Json::arrayValue);
    for (const ShareFileItem& file : param.fileIds) {
        Json::Value item(Json::objectValue);
        item["fileId"] = JsonInt64(file.fileId);
        item["ownerId"] = JsonInt64(file.ownerId);
        item["fileName"] = file.fileName;
        files.append(item);
    }
    body["fileIds"] = files;
    body["addTime"] = JsonInt64(param.addTime);
    return body;
}

// The first album to reach the largest count leads the array; a later album
// with the same count goes to the back. Ids below 1 are no albums.
Json::Value MergeOrder(const std::vector<AlbumBasicModel>& albums) {
    std::vector<std::int64_t> ids;
    std::int64_t largest = 0;
    for (const AlbumBasicModel& album : albums) {
        if (album.albumId <= 0) {
            continue;
        }
        if (album.num > largest) {
            largest = album.num;
            ids.insert(ids.begin(), album.albumId);
        } else {
            ids.push_back(album.albumId);
        }
    }
    Json::Value array(Json::arrayValue);
    for (const std::int64_t id : ids) {
        array.append(JsonInt64(id));
    }
    return array;
}

} // namespace

AlbumIntfZEQ& AlbumIntfZEQ::Instance() {
    static AlbumIntfZEQ instance;
    return instance;
}

AlbumIntfZEQ::AlbumIntfZEQ() {
    // Constructing a request fills the device request's cached device and user ids.
    HttpReqZEQ request(HttpReqZEQ::HTTP_GET);
}

// Queries.

bool AlbumIntfZEQ::GetGalleryAllAlbumList(std::int64_t lastAlbumId, std::int64_t num,
                                          GalleryAllAlbumListRsp& rsp) {
    const DeviceCall call = AlbumCall("GetGalleryAllAlbumList");
    const DeviceCall::Query query{{"lastAlbumId", Decimal(lastAlbumId)}, {"num", Decimal(num)}};
    return CatchingEverything(call, "GetGalleryAllAlbumList", [&] {
        std::string reply;
        return call.Send(HttpReqZEQ::HTTP_GET, "gallery/getAllAlbumList", query, {},
                         "get all album list", reply) &&
               ParseAllAlbumListRsp(reply, rsp);
    });
}

bool AlbumIntfZEQ::GetAlbumInfo(std::int64_t albumId, GalleryAlbumType albumType,
                                std::int64_t lastCreTime, std::int64_t lastRowId,
                                AlbumInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("GetAlbumInfo");
    const DeviceCall::Query query{{"albumId", Decimal(albumId)},
                                  {"albumType", Decimal(albumType)},
                                  {"lastRowId", Decimal(lastRowId)},
                                  {"lastCreTime", Decimal(lastCreTime)},
                                  {"num", "500"},
                                  {"dataType", "1"}};
    std::string reply;
    return call.Send(HttpReqZEQ::HTTP_GET, "gallery/getAlbumInfo", query, {}, "get album info",
                     reply) &&
           ParseAlbumInfoRsp(reply, rsp);
}

bool AlbumIntfZEQ::GetGalleryAlbumByType(GalleryAlbumType albumType, GalleryAllAlbumListRsp& rsp) {
    const DeviceCall call = AlbumCall("GetGalleryAlbumByType");
    const DeviceCall::Query query{{"albumType", Decimal(albumType)}};
    return CatchingEverything(call, "GetGalleryAlbumByType", [&] {
        std::string reply;
        return call.Send(HttpReqZEQ::HTTP_GET, "gallery/getAlbumList", query, {},
                         "get album by type", reply) &&
               ParseAllAlbumListRsp(reply, rsp);
    });
}

bool AlbumIntfZEQ::GetGalleryAlbumIncInfo(std::int64_t preId, std::int32_t num,
                                          GalleryAlbumIncInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("GetGalleryAlbumIncInfo");
    const DeviceCall::Query query{{"preId", Decimal(preId)}, {"num", Decimal(num)}};
    std::string reply;
    return call.Send(HttpReqZEQ::HTTP_GET, "gallery/albumIncInfo", query, {}, "get album inc info",
                     reply) &&
           ParseAlbumIncInfoRsp(reply, rsp);
}

bool AlbumIntfZEQ::GetSelectedGalleryAlbumCfg(std::int32_t albumType, std::int64_t albumId,
                                              AlbumBasicModel& model) {
    const DeviceCall call = AlbumCall("GetSelectedGalleryAlbumCfg");
    constexpr std::string_view phrase = "http get album cfg";
    const DeviceCall::Query query{{"albumType", Decimal(albumType)}, {"albumId", Decimal(albumId)}};
    std::string reply;
    replyjson::Document document;
    // Besides 0, the device answers 30103 with a usable payload.
    if (!call.Send(HttpReqZEQ::HTTP_GET, "gallery/albumCfg", query, {}, "get album cfg", reply) ||
        !replyjson::CheckReply(call, reply, {phrase, nullptr, {0, 30103}}, document)) {
        return false;
    }
    if (const replyjson::Value data = document.Root()["data"]; data.IsObject()) {
        kAlbum(model, data);
    }
    return true;
}

bool AlbumIntfZEQ::GetGalleryAlbumMembersInfo(std::int32_t albumType, std::int64_t lastRowId,
                                              std::int64_t lastCreTime, std::int64_t num,
                                              GalleryAlbumMembersInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("GetGalleryAlbumMembersInfo");
    const DeviceCall::Query query{{"albumType", Decimal(albumType)},
                                  {"lastRowId", Decimal(lastRowId)},
                                  {"lastCreTime", Decimal(lastCreTime)},
                                  {"num", Decimal(num)}};
    std::string reply;
    return call.Send(HttpReqZEQ::HTTP_GET, "gallery/getAlbumMembsInfo", query, {},
                     "get album members info", reply) &&
           ParseAlbumMembersInfoRsp(reply, rsp);
}

bool AlbumIntfZEQ::GetGalleryAlbumMemberIncInfo(std::int64_t preId, std::int32_t albumType,
                                                std::int32_t num,
                                                GalleryAlbumMemberIncInfoRsp& rsp) {
    const DeviceCall call = AlbumCall("GetGalleryAlbumMemberIncInfo");
    const DeviceCall::Query query{
        {"preId", Decimal(preId)}, {"albumType", Decimal(albumType)}, {"num", Decimal(num)}};
    std::string reply;
    return call.Send(HttpReqZEQ::HTTP_GET, "gallery/albumMembIncInfo", query, {},
                     "get album member inc info", reply) &&
           ParseAlbumMembersIncInfoRsp(reply, rsp);
}

bool AlbumIntfZEQ::GetShareAlbumList(std::int64_t, GalleryAllAlbumListRsp& rsp) {
    return GetGalleryAlbumByType(GALLERY_ALBUM_TYPE_SHARE, rsp);
}

bool AlbumIntfZEQ::GetShareAlbumMembInfo(std::int64_t albumId, std::int64_t lastCreTime,
                                         std::int64_t lastRowId, AlbumInfoRsp& rsp) {
    return GetAlbumInfo(albumId, GALLERY_ALBUM_TYPE_SHARE, lastCreTime, lastRowId, rsp);
}

// Query reply steps.

bool AlbumIntfZEQ::ParseAllAlbumListRsp(const std::string& reply, GalleryAllAlbumListRsp& rsp) {
    return replyjson::ReadListReply(AlbumCall("ParseAllAlbumListRsp"), reply,
                                    {"http get all albumlist"}, rsp, kAlbumListPage, {"albumlist"},
                                    rsp.albumlist, kAlbum);
}

bool AlbumIntfZEQ::ParseAlbumInfoRsp(const std::string& reply, AlbumInfoRsp& rsp) {
    return replyjson::ReadListReply(AlbumCall("ParseAlbumInfoRsp"), reply, {"http get album info"},
                                    rsp, kAlbumFilesPage, {"data"}, rsp.data, kAlbumFile);
}

bool AlbumIntfZEQ::ParseAlbumIncInfoRsp(const std::string& reply, GalleryAlbumIncInfoRsp& rsp) {
    return replyjson::ReadListReply(AlbumCall("ParseAlbumIncInfoRsp"), reply,
                                    {"http get album inc info", &rsp}, rsp, kAlbumChangesPage,
                                    {"data"}, rsp.data, kAlbumChange);
}

bool AlbumIntfZEQ::ParseAlbumMembersInfoRsp(const std::string& reply,
                                            GalleryAlbumMembersInfoRsp& rsp) {
    return replyjson::ReadListReply(AlbumCall("ParseAlbumMembersInfoRsp"), reply,
                                    {"http get album members info", &rsp}, rsp, kAlbumMembersPage,
                                    {"data"}, rsp.data, kAlbumMember);
}

bool AlbumIntfZEQ::ParseAlbumMembersIncInfoRsp(const std::string& reply,
                                               GalleryAlbumMemberIncInfoRsp& rsp) {
    return replyjson::ReadListReply(
        AlbumCall("ParseAlbumMembersIncInfoRsp"), reply, {"http get album member inc info", &rsp},
        rsp, kAlbumMemberChangesPage, {"data"}, rsp.data, kAlbumMemberChange);
}

// Changes.

bool AlbumIntfZEQ::CreateGalleryUserAlbum(std::int64_t& albumId, const std::string& albumName,
                                          std::int32_t albumType, GalleryAlbumAttr* const attr,
                                          HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("CreateGalleryUserAlbum");
    constexpr std::string_view phrase = "http req add user album";
    const int clientType = HttpReqZEQ::reqClientType;
    const std::string& deviceId = HttpReqZEQ::reqDeviceId;
    std::string body;
    const bool serialised =
        attr != nullptr
            ? call.Serialise(AddAlbumWithAttrReq{clientType, deviceId, albumName, albumType, *attr},
                             phrase, body)
            : call.Serialise(AddAlbumReq{clientType, deviceId, albumName, albumType}, phrase, body);
    Json::Value root;
    if (!serialised ||
        !call.Post("gallery/addAlbum", body, "post add user album", phrase, root, rsp)) {
        return false;
    }
    albumId = Int64(root, "albumId");
    return true;
}

bool AlbumIntfZEQ::DeleteGalleryUserAlbum(const std::string& albumName, std::int32_t albumType,
                                          std::int64_t albumId, HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("DeleteGalleryUserAlbum");
    constexpr std::string_view phrase = "http req del user album";
    const DelAlbumReq request{HttpReqZEQ::reqClientType, HttpReqZEQ::reqDeviceId, albumName,
                              albumType, albumId};
    std::string body;
    Json::Value root;
    return call.Serialise(request, phrase, body) &&
           call.Post("gallery/delAlbum", body, "post del user album", phrase, root, rsp);
}

bool AlbumIntfZEQ::ModifyGalleryAlbumCfg(const AlbumCfgModifyParam& param, MdfyAlbumCfgType cfgType,
                                         std::int64_t* albumId, HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("ModifyGalleryAlbumCfg");
    Json::Value body = DeviceBody();
    body["albumType"] = param.albumType;
    body["albumId"] = JsonInt64(param.albumId);
    switch (cfgType) {
    case MDFY_ALBUM_CFG_NAME:
    case MDFY_ALBUM_CFG_RENAME:
        body["albumName"] = param.albumName;
        break;
    case MDFY_ALBUM_CFG_COVER:
        body["coverId"] = JsonInt64(param.coverId);
        break;
    case MDFY_ALBUM_CFG_ATTR: {
        const GalleryAlbumAttr attr =
            param.albumAttr != nullptr ? *param.albumAttr : GalleryAlbumAttr{};
        body["albumAttr"]["birth"] = attr.birth;
        body["albumAttr"]["gender"] = attr.gender;
        break;
    }
    default:
        call.Log("invalid cfgType(" + Decimal(cfgType) + ") for ModifyGallaryAlbumCfg.");
        return false;
    }
    body["toShareAlbum"] = param.toShareAlbum;
    body["modifyTime"] = JsonInt64(param.modifyTime);

    Json::Value root;
    if (!call.Post("gallery/albumCfg", JsonUtil::CppJsonToString(body), "post modify album cfg",
                   "http req modify album cfg", root, rsp)) {
        return false;
    }
    if (albumId != nullptr) {
        *albumId = Int64(root, "albumId");
    }
    return true;
}

bool AlbumIntfZEQ::AddGalleryAlbumMembers(const ChgAlbumMembersParam& param,
                                          std::vector<std::int64_t>& sucIds, HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("AddGalleryAlbumMembers");
    std::string reply;
    return PostRecord(call, "gallery/addAlbumMemb", MembsRequest(param),
                      "http req add album members", "post add album members", reply) &&
           ParseAddAlbumMembersRsp(reply, sucIds, rsp);
}

bool AlbumIntfZEQ::RmvGalleryAlbumMembers(const ChgAlbumMembersParam& param,
                                          std::vector<std::int64_t>& sucIds, HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("RmvGalleryAlbumMembers");
    std::string reply;
    return PostRecord(call, "gallery/delAlbumMemb", MembsRequest(param),
                      "http req del album members", "post del album members", reply) &&
           ParseDelAlbumMembersRsp(reply, sucIds, rsp);
}

bool AlbumIntfZEQ::AddAlbumMembersAsync(const ChgAlbumMembersParam& param,
                                        const std::string& transId, const std::int32_t& subTaskId,
                                        std::int64_t& taskId, HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("AddAlbumMembersAsync");
    Json::Value body = DeviceBody();
    AddTransferIds(body, transId, subTaskId);
    body["albumId"] = JsonInt64(param.albumId);
    body["albumName"] = param.albumName;
    body["albumType"] = param.albumType;
    body["membs"] = Json::Value(Json::arrayValue);
    for (const std::int64_t fileId : param.fileIds) {
        Json::Value item(Json::objectValue);
        item["fileId"] = JsonInt64(fileId);
        body["membs"].append(item);
    }
    body["addTime"] = JsonInt64(param.addTime);
    std::string reply;
    return PostTree(call, "gallery/addAlbumMembAsync", body, "post add album members async",
                    reply) &&
           ParseAddAlbumMembAsyncRsp(reply, taskId, rsp);
}

bool AlbumIntfZEQ::AlbumShareToPerson(const ChgAlbumShareToPersonParam& param,
                                      HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("AlbumShareToPerson");
    std::string reply;
    std::int64_t unusedTaskId = 0;
    return PostTree(call, "gallery/shareToPerson", ShareToPersonBody(param),
                    "post add shared album members", reply) &&
           ParseAddAlbumMembAsyncRsp(reply, unusedTaskId, rsp);
}

bool AlbumIntfZEQ::AlbumShareToPersonAsync(const ChgAlbumShareToPersonParam& param,
                                           const std::string& transId,
                                           const std::int32_t& subTaskId, std::int64_t& taskId,
                                           HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("AlbumShareToPersonAsync");
    Json::Value body = ShareToPersonBody(param);
    AddTransferIds(body, transId, subTaskId);
    std::string reply;
    return PostTree(call, "gallery/addShareToPerson", body, "post add shared album members async",
                    reply) &&
           ParseAddAlbumMembAsyncRsp(reply, taskId, rsp);
}

bool AlbumIntfZEQ::MergeFaceAlbum(const std::string& albumName,
                                  const std::vector<AlbumBasicModel>& albums,
                                  HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("MergeFaceAlbum");
    if (albums.size() <= 1) {
        call.Log("merge face album num: " + std::to_string(albums.size()));
        return false;
    }
    Json::Value body = DeviceBody();
    body["albumName"] = albumName;
    body["albumIdMembs"] = MergeOrder(albums);
    Json::Value root;
    return call.Post("gallery/mergeFaceAlbums", JsonUtil::CppJsonToString(body),
                     "post merge face album", "http req merge face album", root, rsp);
}

bool AlbumIntfZEQ::HiddenFaceAlbum(const std::vector<AlbumBasicModel>& albums,
                                   HttpPostRspCode* rsp) {
    const DeviceCall call = AlbumCall("HiddenFaceAlbum");
    Json::Value body = DeviceBody();
    body["albumType"] = static_cast<int>(GALLERY_ALBUM_TYPE_FACE);
    body["hiddenStatus"] = 1;
    body["albumIdMembs"] = Json::Value(Json::arrayValue);
    for (const AlbumBasicModel& album : albums) {
        if (album.albumId > 0) {
            body["albumIdMembs"].append(JsonInt64(album.albumId));
        }
    }
    Json::Value root;
    return call.Post("gallery/modifyAlbumsHiddenStatus", JsonUtil::CppJsonToString(body),
                     "post hidden face album", "http req hidden face album", root, rsp);
}

bool AlbumIntfZEQ::DeleteShareAlbum(std::int64_t albumId, const std::string& albumName,
                                    HttpPostRspCode* rsp) {
    return DeleteGalleryUserAlbum(albumName, GALLERY_ALBUM_TYPE_SHARE, albumId, rsp);
}

// Change reply steps.

bool AlbumIntfZEQ::ParseAddAlbumMembersRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                                           HttpPostRspCode* rsp) {
    return CheckReplyAppendingIds(AlbumCall("ParseAddAlbumMembersRsp"), reply,
                                  "http req add album members", "sucIds", "fileId", ids, rsp);
}

bool AlbumIntfZEQ::ParseDelAlbumMembersRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                                           HttpPostRspCode* rsp) {
    return CheckReplyAppendingIds(AlbumCall("ParseDelAlbumMembersRsp"), reply,
                                  "http req del album members", "sucIds", "fileId", ids, rsp);
}

bool AlbumIntfZEQ::ParseAddAlbumMembAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                             HttpPostRspCode* rsp) {
    return CheckReplyReadingTaskId(AlbumCall("ParseAddAlbumMembAsyncRsp"), reply,
                                   "http req add album members async", taskId, rsp);
}
