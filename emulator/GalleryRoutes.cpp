#include "emulator/GalleryRoutes.h"

#include "emulator/ApiError.h"
#include "emulator/Capabilities.h"
#include "emulator/ErrorCodes.h"
#include "emulator/Gallery.h"
#include "emulator/TaskCenter.h"

#include <optional>

namespace zeqemu {

namespace {

// Task types of the gallery family.
constexpr int kTypeAddMembers = 300;
constexpr int kTypeShare = 302;
constexpr int kTypeDelete = 303;
constexpr int kTypeRecover = 304;
constexpr int kTypeCleanBin = 305;

using Q = ApiRequest;

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

std::int64_t PageSize(const ApiRequest& q, const char* name, std::int64_t fallback) {
    const auto num = q.QueryInt(name, fallback);
    if (num <= 0) {
        throw ApiError::BadRequest(code::kBadField, std::string(name) + " must be above 0");
    }
    return num;
}

std::int64_t BodyPageSize(const Json::Value& body, const char* name) {
    const auto num = Q::Int(body, name);
    if (num < 0) {
        throw ApiError::BadRequest(code::kBadField, std::string(name) + " must not be negative");
    }
    return num;
}

// The file ids of an array of {"fileId": n, ...} objects.
std::vector<std::int64_t> FileIds(const Json::Value& body, const char* key) {
    std::vector<std::int64_t> ids;
    for (const auto& element : Q::Array(body, key)) {
        ids.push_back(Q::Int(element, "fileId"));
    }
    return ids;
}

std::vector<std::int64_t> IntList(const Json::Value& body, const char* key) {
    std::vector<std::int64_t> ids;
    for (const auto& element : Q::Array(body, key)) {
        ids.push_back(Q::IntElement(element, key));
    }
    return ids;
}

Json::Value IdObjects(const std::vector<std::int64_t>& ids, const char* key) {
    Json::Value list(Json::arrayValue);
    for (const auto id : ids) {
        Json::Value v;
        v[key] = J(id);
        list.append(v);
    }
    return list;
}

int AlbumType(const Json::Value& body) {
    return Q::Int32(body, "albumType");
}

} // namespace

void GalleryRoutes::Register(Router& r) {
    const auto bind = [this](ApiReply (GalleryRoutes::*fn)(const ApiRequest&)) {
        return [this, fn](const ApiRequest& q) { return (this->*fn)(q); };
    };
    r.Get("gallery/getAllAlbumList", bind(&GalleryRoutes::AllAlbums));
    r.Get("gallery/getAlbumList", bind(&GalleryRoutes::AlbumsByType));
    r.Get("gallery/getAlbumInfo", bind(&GalleryRoutes::AlbumFiles));
    r.Get("gallery/albumIncInfo", bind(&GalleryRoutes::AlbumChanges));
    r.Get("gallery/albumCfg", bind(&GalleryRoutes::AlbumSettings));
    r.Get("gallery/getAlbumMembsInfo", bind(&GalleryRoutes::MembersOfType));
    r.Get("gallery/albumMembIncInfo", bind(&GalleryRoutes::MemberChanges));

    r.Post("gallery/addAlbum", bind(&GalleryRoutes::AddAlbum));
    r.Post("gallery/delAlbum", bind(&GalleryRoutes::DeleteAlbum));
    r.Post("gallery/albumCfg", bind(&GalleryRoutes::ChangeAlbumSettings));
    r.Post("gallery/addAlbumMemb", bind(&GalleryRoutes::AddMembers));
    r.Post("gallery/delAlbumMemb", bind(&GalleryRoutes::RemoveMembers));
    r.Post("gallery/addAlbumMembAsync", bind(&GalleryRoutes::AddMembersAsync));
    r.Post("gallery/shareToPerson", bind(&GalleryRoutes::ShareToPerson));
    r.Post("gallery/addShareToPerson", bind(&GalleryRoutes::ShareToPersonAsync));
    r.Post("gallery/mergeFaceAlbums", bind(&GalleryRoutes::MergeFaceAlbums));
    r.Post("gallery/modifyAlbumsHiddenStatus", bind(&GalleryRoutes::HideAlbums));

    r.Get("gallery/getFullPhotosInfoTable", bind(&GalleryRoutes::FullTable));
    r.Get("gallery/getIncPhotosInfoTable", bind(&GalleryRoutes::IncTable));
    r.Post("gallery/getSelectedPhotosInfo", bind(&GalleryRoutes::SelectedFiles));
    r.Post("gallery/modifyFileAttr", bind(&GalleryRoutes::ModifyFileAttr));

    r.Post("gallery/delFile", bind(&GalleryRoutes::DeleteFiles));
    r.Post("gallery/delFileAsync", bind(&GalleryRoutes::DeleteFilesAsync));
    r.Post("gallery/cleanBin", bind(&GalleryRoutes::CleanBin));
    r.Post("gallery/cleanBinAsync", bind(&GalleryRoutes::CleanBinAsync));
    r.Post("gallery/recoverFile", bind(&GalleryRoutes::RecoverFiles));
    r.Post("gallery/recoverFileAsync", bind(&GalleryRoutes::RecoverFilesAsync));
    r.Post("gallery/queryBin", bind(&GalleryRoutes::QueryBin));
}

ApiReply GalleryRoutes::AllAlbums(const ApiRequest& q) {
    std::int64_t last = 0;
    std::int64_t preId = 0;
    auto list =
        m_s.gallery.AllAlbums(q.QueryInt("lastAlbumId", 0), PageSize(q, "num", 100), last, preId);
    Json::Value out;
    out["num"] = static_cast<Json::Int>(list.size());
    out["albumlist"] = std::move(list);
    out["lastAlbumId"] = J(last);
    out["preId"] = J(preId);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AlbumsByType(const ApiRequest& q) {
    std::int64_t preId = 0;
    auto list = m_s.gallery.AlbumsOfType(q.QueryInt32("albumType"), preId);
    Json::Value out;
    out["num"] = static_cast<Json::Int>(list.size());
    out["lastAlbumId"] = list.empty() ? Json::Value(0) : list[list.size() - 1]["albumId"];
    out["albumlist"] = std::move(list);
    out["preId"] = J(preId);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AlbumFiles(const ApiRequest& q) {
    const auto page = m_s.gallery.AlbumFiles(q.QueryInt("albumId"), q.QueryInt32("albumType"),
                                             q.QueryInt("lastRowId", 0), PageSize(q, "num", 500));
    Json::Value out;
    out["num"] = static_cast<Json::Int>(page.items.size());
    out["data"] = page.items;
    out["lastRowId"] = J(page.lastRowId);
    out["lastCretime"] = J(page.lastCreateTime);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AlbumChanges(const ApiRequest& q) {
    const auto page = m_s.gallery.AlbumChanges(q.QueryInt("preId"), PageSize(q, "num", 100));
    Json::Value out;
    out["data"] = page.items;
    out["lastId"] = J(page.lastRowId);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AlbumSettings(const ApiRequest& q) {
    Json::Value out;
    out["data"] = m_s.gallery.AlbumModel(q.QueryInt("albumId"), q.QueryInt32("albumType"));
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::MembersOfType(const ApiRequest& q) {
    std::int64_t preId = 0;
    const auto page = m_s.gallery.MembersOfType(
        q.QueryInt32("albumType"), q.QueryInt("lastRowId", 0), PageSize(q, "num", 500), preId);
    Json::Value out;
    out["data"] = page.items;
    out["lastRowId"] = J(page.lastRowId);
    out["lastCretime"] = J(page.lastCreateTime);
    out["preId"] = J(preId);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::MemberChanges(const ApiRequest& q) {
    const auto page = m_s.gallery.MemberChanges(q.QueryInt("preId"), q.QueryInt32("albumType"),
                                                PageSize(q, "num", 100));
    Json::Value out;
    out["data"] = page.items;
    out["lastId"] = J(page.lastRowId);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AddAlbum(const ApiRequest& q) {
    const auto& b = q.Body();
    Gallery::AlbumAttr attr;
    const bool hasAttr = b.isMember("albumAttr");
    if (hasAttr) {
        const auto& a = Q::Object(b, "albumAttr");
        attr.gender = Q::Int32(a, "gender", 0);
        attr.birth = Q::Text(a, "birth", "");
    }
    const auto id =
        m_s.gallery.CreateAlbum(Q::Text(b, "albumName"), AlbumType(b), hasAttr ? &attr : nullptr);
    Json::Value out;
    out["albumId"] = J(id);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::DeleteAlbum(const ApiRequest& q) {
    const auto& b = q.Body();
    m_s.gallery.DeleteAlbum(Q::Int(b, "albumId"), AlbumType(b), Q::Text(b, "albumName", ""));
    return ApiReply::Ok();
}

ApiReply GalleryRoutes::ChangeAlbumSettings(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto albumId = Q::Int(b, "albumId");
    const auto type = AlbumType(b);
    // Everything is read before anything changes, so a bad field changes nothing.
    std::optional<std::string> name;
    std::optional<std::int64_t> cover;
    std::optional<Gallery::AlbumAttr> attr;
    if (b.isMember("albumName")) {
        name = Q::Text(b, "albumName");
    }
    if (b.isMember("coverId")) {
        cover = Q::Int(b, "coverId");
    }
    if (b.isMember("albumAttr")) {
        const auto& a = Q::Object(b, "albumAttr");
        attr = Gallery::AlbumAttr{Q::Int32(a, "gender", 0), Q::Text(a, "birth", "")};
    }
    const bool share = Q::Int(b, "toShareAlbum", 0) == 1;
    Q::Int(b, "modifyTime", 0);
    if (!name && !cover && !attr) {
        throw ApiError::BadRequest(code::kMissingField,
                                   "one of albumName, coverId or albumAttr is needed");
    }
    m_s.gallery.RequireAlbum(albumId, type);
    if (name) {
        m_s.gallery.RenameAlbum(albumId, type, *name);
    }
    if (cover) {
        m_s.gallery.SetCover(albumId, type, *cover);
    }
    if (attr) {
        m_s.gallery.SetAttr(albumId, type, *attr);
    }
    if (share) {
        m_s.gallery.MakeShared(albumId, type);
    }
    Json::Value out;
    out["albumId"] = J(albumId);
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AddMembers(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto albumId = Q::Int(b, "albumId");
    const auto ids = FileIds(b, "membs");
    const auto addTime = Q::Int(b, "addTime", 0);
    m_s.gallery.RequireAlbum(albumId, AlbumType(b));
    std::vector<std::int64_t> added;
    for (const auto id : ids) {
        if (m_s.gallery.AddMember(albumId, id, addTime)) {
            added.push_back(id);
        }
    }
    Json::Value out;
    out["sucIds"] = IdObjects(added, "fileId");
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::RemoveMembers(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto albumId = Q::Int(b, "albumId");
    const auto ids = FileIds(b, "membs");
    m_s.gallery.RequireAlbum(albumId, AlbumType(b));
    std::vector<std::int64_t> removed;
    for (const auto id : ids) {
        if (m_s.gallery.RemoveMember(albumId, id)) {
            removed.push_back(id);
        }
    }
    Json::Value out;
    out["sucIds"] = IdObjects(removed, "fileId");
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::MembersAsync(const ApiRequest& q, const char* listKey, int taskType,
                                     bool shared) {
    const auto& b = q.Body();
    const auto albumId = Q::Int(b, "albumId");
    const auto type = AlbumType(b);
    const auto ids = FileIds(b, listKey);
    const auto addTime = Q::Int(b, "addTime", 0);
    m_s.gallery.RequireAlbum(albumId, type);
    if (shared && type != Gallery::kSharedAlbum) {
        throw ApiError::Device(code::kAlbumKind, "files are shared through a shared album");
    }
    TaskPlan plan;
    plan.family = TaskFamily::Gallery;
    plan.taskType = taskType;
    plan.originObjectName = std::to_string(ids.size()) + " files";
    plan.destination = Q::Text(b, "albumName", "");
    plan.transId = Q::Text(b, "transId", "");
    plan.subTaskId = Q::Int(b, "subTaskId", 0);
    auto& gallery = m_s.gallery;
    // A retry leaves out the files that were done.
    plan.planner = [&gallery, ids, albumId, addTime](const std::set<std::string>& done) {
        std::vector<TaskStep> steps;
        for (const auto id : ids) {
            const auto key = std::to_string(id);
            if (done.count(key) != 0) {
                continue;
            }
            steps.push_back({"file " + key, key,
                             [&gallery, albumId, id, addTime](const TaskStep::Note&) {
                                 if (!gallery.HasLiveItem(id)) {
                                     throw ApiError::Device(code::kNoSuchGalleryFile,
                                                            "no gallery file " +
                                                                std::to_string(id));
                                 }
                                 gallery.AddMember(albumId, id, addTime);
                             },
                             key});
        }
        return steps;
    };
    Json::Value out;
    out["taskId"] = J(m_s.tasks.Submit(std::move(plan)));
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::AddMembersAsync(const ApiRequest& q) {
    return MembersAsync(q, "membs", kTypeAddMembers, false);
}

ApiReply GalleryRoutes::ShareToPerson(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto albumId = Q::Int(b, "albumId");
    const auto type = AlbumType(b);
    const auto ids = FileIds(b, "fileIds");
    const auto addTime = Q::Int(b, "addTime", 0);
    m_s.gallery.RequireAlbum(albumId, type);
    if (type != Gallery::kSharedAlbum) {
        throw ApiError::Device(code::kAlbumKind, "files are shared through a shared album");
    }
    for (const auto id : ids) {
        m_s.gallery.AddMember(albumId, id, addTime);
    }
    Json::Value out;
    out["taskId"] = 0;
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::ShareToPersonAsync(const ApiRequest& q) {
    return MembersAsync(q, "fileIds", kTypeShare, true);
}

ApiReply GalleryRoutes::MergeFaceAlbums(const ApiRequest& q) {
    const auto& b = q.Body();
    m_s.gallery.MergeFaceAlbums(Q::Text(b, "albumName"), IntList(b, "albumIdMembs"));
    return ApiReply::Ok();
}

ApiReply GalleryRoutes::HideAlbums(const ApiRequest& q) {
    const auto& b = q.Body();
    m_s.gallery.SetHidden(IntList(b, "albumIdMembs"), AlbumType(b), Q::Int32(b, "hiddenStatus"));
    return ApiReply::Ok();
}

ApiReply GalleryRoutes::FullTable(const ApiRequest& q) {
    std::int64_t maxRowId = 0;
    const auto page =
        m_s.gallery.FullTable(q.QueryInt("startFileId"), m_s.galleryPageSize, maxRowId);
    Json::Value out;
    out["finish"] = page.finished ? 1 : 0;
    out["maxRowId"] = J(maxRowId);
    out["num"] = static_cast<Json::Int>(page.items.size());
    out["data"] = page.items;
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::IncTable(const ApiRequest& q) {
    const auto page = m_s.gallery.IncTable(q.QueryInt("preRowId"), m_s.galleryPageSize);
    Json::Value out;
    out["finish"] = page.finished ? 1 : 0;
    out["num"] = static_cast<Json::Int>(page.items.size());
    out["data"] = page.items;
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::SelectedFiles(const ApiRequest& q) {
    bool allFound = true;
    const auto data = m_s.gallery.Selected(FileIds(q.Body(), "fileIds"), allFound);
    Json::Value out;
    out["num"] = static_cast<Json::Int>(data.size());
    out["data"] = data;
    if (!allFound) {
        out["code"] = J(code::kPartial);
        out["des"] = "some files do not exist";
    }
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::ModifyFileAttr(const ApiRequest& q) {
    const auto& b = q.Body();
    m_s.gallery.SetComment(Q::Int(b, "id"), Q::Text(b, "comment"), Q::Text(b, "deviceId", ""));
    return ApiReply::Ok();
}

ApiReply GalleryRoutes::BinAction(const ApiRequest& q, FileAction action, bool allowEmpty) {
    const auto& b = q.Body();
    const auto deviceId = Q::Text(b, "deviceId", "");
    auto ids = FileIds(b, "membs");
    if (allowEmpty && Q::Int(b, "empty", 0) == 1) {
        ids = m_s.gallery.BinIds();
    }
    std::vector<std::int64_t> done;
    for (const auto id : ids) {
        if ((m_s.gallery.*action)(id, deviceId)) {
            done.push_back(id);
        }
    }
    Json::Value out;
    out["data"] = IdObjects(done, "id");
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::BinActionAsync(const ApiRequest& q, FileAction action, int taskType,
                                       const char* what) {
    const auto& b = q.Body();
    const auto deviceId = Q::Text(b, "deviceId", "");
    const bool everything = Q::Int(b, "empty", 0) == 1;
    const auto ids = FileIds(b, "membs");
    TaskPlan plan;
    plan.family = TaskFamily::Gallery;
    plan.taskType = taskType;
    plan.originObjectName = everything ? "recycle bin" : std::to_string(ids.size()) + " files";
    plan.transId = Q::Text(b, "transId");
    plan.subTaskId = Q::Int(b, "subTaskId");
    auto& gallery = m_s.gallery;
    const std::string verb = what;
    plan.planner = [&gallery, ids, everything, action, deviceId,
                    verb](const std::set<std::string>& done) {
        std::vector<TaskStep> steps;
        for (const auto id : everything ? gallery.BinIds() : ids) {
            const auto key = std::to_string(id);
            if (done.count(key) != 0) {
                continue;
            }
            steps.push_back({"file " + key, key,
                             [&gallery, id, action, deviceId, verb](const TaskStep::Note&) {
                                 if (!(gallery.*action)(id, deviceId)) {
                                     throw ApiError::Device(code::kNoSuchGalleryFile,
                                                            "cannot " + verb + " file " +
                                                                std::to_string(id));
                                 }
                             },
                             key});
        }
        return steps;
    };
    Json::Value out;
    out["taskId"] = J(m_s.tasks.Submit(std::move(plan)));
    return ApiReply::Ok(out);
}

ApiReply GalleryRoutes::DeleteFiles(const ApiRequest& q) {
    return BinAction(q, &Gallery::Recycle, false);
}

ApiReply GalleryRoutes::DeleteFilesAsync(const ApiRequest& q) {
    return BinActionAsync(q, &Gallery::Recycle, kTypeDelete, "delete");
}

ApiReply GalleryRoutes::CleanBin(const ApiRequest& q) {
    return BinAction(q, &Gallery::Purge, true);
}

ApiReply GalleryRoutes::CleanBinAsync(const ApiRequest& q) {
    // Older task centers know no type of their own for clearing the bin.
    const auto type = m_s.caps.Has(Capabilities::kGalleryType305) ? kTypeCleanBin : kTypeDelete;
    return BinActionAsync(q, &Gallery::Purge, type, "remove");
}

ApiReply GalleryRoutes::RecoverFiles(const ApiRequest& q) {
    return BinAction(q, &Gallery::Recover, false);
}

ApiReply GalleryRoutes::RecoverFilesAsync(const ApiRequest& q) {
    return BinActionAsync(q, &Gallery::Recover, kTypeRecover, "recover");
}

ApiReply GalleryRoutes::QueryBin(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto offset = BodyPageSize(b, "offset");
    const auto num = BodyPageSize(b, "num");
    const auto data = m_s.gallery.QueryBin(offset, num);
    Json::Value out;
    out["offset"] = J(offset);
    out["num"] = static_cast<Json::Int>(data.size());
    out["data"] = data;
    return ApiReply::Ok(out);
}

} // namespace zeqemu
