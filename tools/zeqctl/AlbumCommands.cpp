#include "AlbumCommands.h"

#include "Commands.h"
#include "Session.h"
#include "Tasks.h"

#include "services/AlbumIntfZEQ.h"
#include "services/PhotoIntfZEQ.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace zeqctl {

namespace {

constexpr std::int64_t kPage = 100;
constexpr std::int32_t kUserAlbum = 1;

Json::Value I(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

std::string Kind(std::int32_t type) {
    switch (type) {
    case kUserAlbum:
        return "user";
    case GALLERY_ALBUM_TYPE_SHARE:
        return "shared";
    case GALLERY_ALBUM_TYPE_FACE:
        return "face";
    default:
        return "type " + std::to_string(type);
    }
}

Json::Value AlbumJson(const AlbumBasicModel& a) {
    Json::Value v;
    v["albumId"] = I(a.albumId);
    v["name"] = a.albumName;
    v["type"] = a.albumType;
    v["kind"] = Kind(a.albumType);
    v["count"] = I(a.num);
    v["createTime"] = I(a.createTime);
    v["hidden"] = a.hiddenStatus != 0;
    v["owner"] = a.isOwner != 0;
    v["coverIds"] = Json::Value(Json::arrayValue);
    for (const auto& cover : a.coverInfo) {
        v["coverIds"].append(I(cover.coverId));
    }
    if (a.albumType == GALLERY_ALBUM_TYPE_FACE) {
        v["gender"] = a.albumAttr.gender;
        v["birth"] = a.albumAttr.birth;
    }
    return v;
}

const std::vector<Column> kAlbumColumns{
    {"albumId", "ID", Shown::Count},        {"kind", "KIND"},
    {"count", "FILES", Shown::Count},       {"hidden", "HIDDEN"},
    {"createTime", "CREATED", Shown::Time}, {"name", "NAME"}};

std::vector<AlbumBasicModel> AllAlbums(Session& session) {
    std::vector<AlbumBasicModel> albums;
    std::int64_t last = 0;
    for (;;) {
        GalleryAllAlbumListRsp rsp;
        session.Read("album list", [&] {
            return AlbumIntfZEQ::Instance().GetGalleryAllAlbumList(last, kPage, rsp);
        });
        for (const auto& album : rsp.albumlist) {
            albums.push_back(*album);
        }
        // A short page is the last; a cursor that does not move would loop.
        if (static_cast<std::int64_t>(rsp.albumlist.size()) < kPage || rsp.lastAlbumId == last) {
            return albums;
        }
        last = rsp.lastAlbumId;
    }
}

AlbumBasicModel FindAlbum(Session& session, std::int64_t albumId) {
    for (auto& album : AllAlbums(session)) {
        if (album.albumId == albumId) {
            return album;
        }
    }
    throw CommandError::Device("no album " + std::to_string(albumId) + " on the device");
}

std::vector<AlbumBasicModel> FindAlbums(Session& session, const std::vector<std::int64_t>& ids) {
    const auto all = AllAlbums(session);
    std::vector<AlbumBasicModel> found;
    for (const auto id : ids) {
        const auto it = std::find_if(all.begin(), all.end(),
                                     [id](const AlbumBasicModel& a) { return a.albumId == id; });
        if (it == all.end()) {
            throw CommandError::Device("no album " + std::to_string(id) + " on the device");
        }
        found.push_back(*it);
    }
    return found;
}

ChgAlbumMembersParam MembersParam(const AlbumBasicModel& album, std::vector<std::int64_t> ids) {
    ChgAlbumMembersParam param;
    param.albumId = album.albumId;
    param.albumName = album.albumName;
    param.albumType = album.albumType;
    param.fileIds = std::move(ids);
    param.addTime = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
    return param;
}

Json::Value IdArray(const std::vector<std::int64_t>& ids) {
    Json::Value list(Json::arrayValue);
    for (const auto id : ids) {
        list.append(I(id));
    }
    return list;
}

void Changed(Session& s, Json::Value doc, const std::string& line) {
    s.Out().Emit(doc, [&] { s.Out().Line(line); });
}

struct ListArgs {
    std::optional<std::int32_t> type;
};

void List(Session& s, const ListArgs& args) {
    Json::Value doc;
    if (args.type) {
        GalleryAllAlbumListRsp rsp;
        s.Read("albums of type " + std::to_string(*args.type), [&] {
            return AlbumIntfZEQ::Instance().GetGalleryAlbumByType(
                static_cast<GalleryAlbumType>(*args.type), rsp);
        });
        doc["albums"] = Json::Value(Json::arrayValue);
        for (const auto& album : rsp.albumlist) {
            doc["albums"].append(AlbumJson(*album));
        }
    } else {
        doc = FetchAlbums(s);
    }
    s.Out().Emit(doc, [&] { ShowAlbums(s, doc); });
}

struct ShowArgs {
    std::int64_t albumId = 0;
    std::int64_t limit = 100;
};

void Show(Session& s, const ShowArgs& args) {
    const auto album = FindAlbum(s, args.albumId);
    Json::Value doc;
    doc["album"] = AlbumJson(album);
    doc["files"] = Json::Value(Json::arrayValue);
    std::int64_t lastRowId = 0;
    std::int64_t lastCreTime = 0;
    bool more = true;
    while (more && static_cast<std::int64_t>(doc["files"].size()) < args.limit) {
        AlbumInfoRsp rsp;
        s.Read("files of album " + std::to_string(args.albumId), [&] {
            return AlbumIntfZEQ::Instance().GetAlbumInfo(
                album.albumId, static_cast<GalleryAlbumType>(album.albumType), lastCreTime,
                lastRowId, rsp);
        });
        for (const auto& f : rsp.data) {
            if (static_cast<std::int64_t>(doc["files"].size()) == args.limit) {
                break;
            }
            Json::Value v;
            v["fileId"] = I(f->fileId);
            v["mimeType"] = f->mimeType;
            v["takenTime"] = I(f->takenTime);
            v["size"] = I(f->size);
            v["city"] = f->city;
            v["path"] = f->fileSrcPath;
            doc["files"].append(v);
        }
        more = !rsp.data.empty() && rsp.lastRowId != lastRowId;
        lastRowId = rsp.lastRowId;
        lastCreTime = rsp.lastCretime;
    }
    s.Out().Emit(doc, [&] {
        s.Out().Fields(doc["album"], {{"albumId", "Album"},
                                      {"name", "Name"},
                                      {"kind", "Kind"},
                                      {"count", "Files"},
                                      {"coverIds", "Cover"}});
        s.Out().Line("");
        s.Out().Table(doc["files"], {{"fileId", "FILE ID", Shown::Count},
                                     {"takenTime", "TAKEN", Shown::Time},
                                     {"size", "SIZE", Shown::Bytes},
                                     {"mimeType", "TYPE"},
                                     {"city", "CITY"},
                                     {"path", "PATH"}});
    });
}

struct CreateArgs {
    std::string name;
    std::int32_t type = kUserAlbum;
    std::optional<std::int32_t> gender;
    std::string birth;
};

void Create(Session& s, const CreateArgs& args) {
    std::int64_t albumId = 0;
    GalleryAlbumAttr attr{args.gender.value_or(0), args.birth};
    const bool withAttr = args.gender.has_value() || !args.birth.empty();
    s.RequireCoded("create album \"" + args.name + "\"", [&](HttpPostRspCode* rsp) {
        return AlbumIntfZEQ::Instance().CreateGalleryUserAlbum(albumId, args.name, args.type,
                                                               withAttr ? &attr : nullptr, rsp);
    });
    Json::Value doc;
    doc["albumId"] = I(albumId);
    doc["name"] = args.name;
    doc["type"] = args.type;
    Changed(s, doc, "created album " + std::to_string(albumId) + " \"" + args.name + "\"");
}

struct SettingArgs {
    std::int64_t albumId = 0;
    std::string name;
    std::int64_t coverId = 0;
};

void Modify(Session& s, const SettingArgs& args, MdfyAlbumCfgType what) {
    const auto album = FindAlbum(s, args.albumId);
    AlbumCfgModifyParam param;
    param.albumId = album.albumId;
    param.albumType = album.albumType;
    param.albumName = args.name;
    param.coverId = args.coverId;
    std::int64_t albumId = album.albumId;
    const bool rename = what == MDFY_ALBUM_CFG_RENAME;
    s.RequireCoded(
        (rename ? "rename album " : "set the cover of album ") + std::to_string(args.albumId),
        [&](HttpPostRspCode* rsp) {
            return AlbumIntfZEQ::Instance().ModifyGalleryAlbumCfg(param, what, &albumId, rsp);
        });
    Json::Value doc;
    doc["albumId"] = I(album.albumId);
    if (rename) {
        doc["name"] = args.name;
        Changed(s, doc, "album " + std::to_string(album.albumId) + " is now \"" + args.name + "\"");
    } else {
        doc["coverId"] = I(args.coverId);
        Changed(s, doc,
                "album " + std::to_string(album.albumId) + " has cover " +
                    std::to_string(args.coverId));
    }
}

void Delete(Session& s, std::int64_t albumId) {
    const auto album = FindAlbum(s, albumId);
    s.RequireCoded("delete album " + std::to_string(albumId), [&](HttpPostRspCode* rsp) {
        auto& albums = AlbumIntfZEQ::Instance();
        return album.albumType == GALLERY_ALBUM_TYPE_SHARE
                   ? albums.DeleteShareAlbum(album.albumId, album.albumName, rsp)
                   : albums.DeleteGalleryUserAlbum(album.albumName, album.albumType, album.albumId,
                                                   rsp);
    });
    Json::Value doc;
    doc["albumId"] = I(albumId);
    doc["deleted"] = true;
    Changed(s, doc, "deleted album " + std::to_string(albumId) + " \"" + album.albumName + "\"");
}

struct MembersArgs {
    std::int64_t albumId = 0;
    std::vector<std::int64_t> fileIds;
    bool async = false;
    bool wait = false;
};

void AddMembers(Session& s, const MembersArgs& args) {
    const auto album = FindAlbum(s, args.albumId);
    const auto param = MembersParam(album, args.fileIds);
    auto& albums = AlbumIntfZEQ::Instance();
    Json::Value doc;
    doc["albumId"] = I(album.albumId);
    if (args.async) {
        std::int64_t taskId = 0;
        s.RequireCoded("add files to album " + std::to_string(album.albumId),
                       [&](HttpPostRspCode* rsp) {
                           return albums.AddAlbumMembersAsync(param, "", 0, taskId, rsp);
                       });
        ReportStartedTask(s, TASK_SUPER_TYPE_GALLERY, taskId, args.wait, doc);
        return;
    }
    std::vector<std::int64_t> added;
    s.RequireCoded(
        "add files to album " + std::to_string(album.albumId),
        [&](HttpPostRspCode* rsp) { return albums.AddGalleryAlbumMembers(param, added, rsp); });
    doc["added"] = IdArray(added);
    Changed(s, doc,
            "added " + std::to_string(added.size()) + " of " + std::to_string(args.fileIds.size()) +
                " files to album " + std::to_string(album.albumId));
}

void RemoveMembers(Session& s, const MembersArgs& args) {
    const auto album = FindAlbum(s, args.albumId);
    std::vector<std::int64_t> removed;
    s.RequireCoded("remove files from album " + std::to_string(album.albumId),
                   [&](HttpPostRspCode* rsp) {
                       return AlbumIntfZEQ::Instance().RmvGalleryAlbumMembers(
                           MembersParam(album, args.fileIds), removed, rsp);
                   });
    Json::Value doc;
    doc["albumId"] = I(album.albumId);
    doc["removed"] = IdArray(removed);
    Changed(s, doc,
            "removed " + std::to_string(removed.size()) + " of " +
                std::to_string(args.fileIds.size()) + " files from album " +
                std::to_string(album.albumId));
}

void Share(Session& s, const MembersArgs& args) {
    const auto album = FindAlbum(s, args.albumId);
    // The device wants each file's owner and name; the metadata query has them.
    auto ids = args.fileIds;
    GalleryFilesSelectedMetadataRsp files;
    s.ReadCoded("look up the files to share", [&](HttpPostRspCode* rsp) {
        return PhotoIntfZEQ::Instance().GetSelectedGalleryFilesMetadata(ids, files, rsp);
    });
    ChgAlbumShareToPersonParam param;
    param.albumId = album.albumId;
    param.albumName = album.albumName;
    param.albumType = album.albumType;
    param.addTime = MembersParam(album, {}).addTime;
    for (const auto& f : files.data) {
        const auto slash = f->fileSrcPath.find_last_of('/');
        param.fileIds.push_back(
            {f->fileId, f->ownerId,
             slash == std::string::npos ? f->fileSrcPath : f->fileSrcPath.substr(slash + 1)});
    }
    if (param.fileIds.empty()) {
        throw CommandError::Device("none of the files exists on the device");
    }
    s.RequireCoded("share files through album " + std::to_string(album.albumId),
                   [&](HttpPostRspCode* rsp) {
                       return AlbumIntfZEQ::Instance().AlbumShareToPerson(param, rsp);
                   });
    Json::Value doc;
    doc["albumId"] = I(album.albumId);
    doc["shared"] = Json::Value(Json::arrayValue);
    for (const auto& f : param.fileIds) {
        doc["shared"].append(I(f.fileId));
    }
    Changed(s, doc,
            "shared " + std::to_string(param.fileIds.size()) + " files through album " +
                std::to_string(album.albumId));
}

struct MergeArgs {
    std::string name;
    std::vector<std::int64_t> albumIds;
};

void Merge(Session& s, const MergeArgs& args) {
    const auto albums = FindAlbums(s, args.albumIds);
    s.RequireCoded("merge face albums", [&](HttpPostRspCode* rsp) {
        return AlbumIntfZEQ::Instance().MergeFaceAlbum(args.name, albums, rsp);
    });
    Json::Value doc;
    doc["name"] = args.name;
    doc["merged"] = IdArray(args.albumIds);
    Changed(s, doc,
            "merged " + std::to_string(albums.size()) + " face albums into \"" + args.name + "\"");
}

void Hide(Session& s, const std::vector<std::int64_t>& ids) {
    const auto albums = FindAlbums(s, ids);
    s.RequireCoded("hide face albums", [&](HttpPostRspCode* rsp) {
        return AlbumIntfZEQ::Instance().HiddenFaceAlbum(albums, rsp);
    });
    Json::Value doc;
    doc["hidden"] = IdArray(ids);
    Changed(s, doc, "hid " + std::to_string(ids.size()) + " face albums");
}

} // namespace

Json::Value FetchAlbums(Session& session) {
    Json::Value doc;
    doc["albums"] = Json::Value(Json::arrayValue);
    for (const auto& album : AllAlbums(session)) {
        doc["albums"].append(AlbumJson(album));
    }
    return doc;
}

void ShowAlbums(Session& session, const Json::Value& doc) {
    session.Out().Table(doc["albums"], kAlbumColumns);
}

void AddAlbumCommands(CLI::App& app, Action& chosen) {
    auto* group = app.add_subcommand("albums", "Albums of the gallery");
    group->require_subcommand(1);

    auto list = std::make_shared<ListArgs>();
    auto* ls = group->add_subcommand("ls", "List albums");
    ls->add_option("--type", list->type, "Only albums of this type (1 user, 6 shared, 23 face)");
    OnRun(ls, chosen, [list](Session& s) { List(s, *list); });

    auto show = std::make_shared<ShowArgs>();
    auto* sh = group->add_subcommand("show", "An album and its files");
    sh->add_option("album", show->albumId, "Album id")->required();
    sh->add_option("--limit", show->limit, "At most this many files")->check(CLI::PositiveNumber);
    OnRun(sh, chosen, [show](Session& s) { Show(s, *show); });

    auto create = std::make_shared<CreateArgs>();
    auto* cr = group->add_subcommand("create", "Create an album");
    cr->add_option("name", create->name, "Album name")->required();
    cr->add_option("--type", create->type, "Album type (1 user, 6 shared, 23 face)");
    cr->add_option("--gender", create->gender, "Face album: gender number");
    cr->add_option("--birth", create->birth, "Face album: birth date");
    OnRun(cr, chosen, [create](Session& s) { Create(s, *create); });

    auto rename = std::make_shared<SettingArgs>();
    auto* rn = group->add_subcommand("rename", "Rename an album");
    rn->add_option("album", rename->albumId, "Album id")->required();
    rn->add_option("name", rename->name, "New name")->required();
    OnRun(rn, chosen, [rename](Session& s) { Modify(s, *rename, MDFY_ALBUM_CFG_RENAME); });

    auto cover = std::make_shared<SettingArgs>();
    auto* cv = group->add_subcommand("cover", "Set an album's cover picture");
    cv->add_option("album", cover->albumId, "Album id")->required();
    cv->add_option("file", cover->coverId, "File id of the cover")->required();
    OnRun(cv, chosen, [cover](Session& s) { Modify(s, *cover, MDFY_ALBUM_CFG_COVER); });

    auto del = std::make_shared<std::int64_t>(0);
    auto* rm = group->add_subcommand("rm", "Delete an album (its files stay)");
    rm->add_option("album", *del, "Album id")->required();
    OnRun(rm, chosen, [del](Session& s) { Delete(s, *del); });

    auto add = std::make_shared<MembersArgs>();
    auto* ad = group->add_subcommand("add", "Add files to an album");
    ad->add_option("album", add->albumId, "Album id")->required();
    ad->add_option("files", add->fileIds, "File ids")->required();
    ad->add_flag("--async", add->async, "As a device task");
    ad->add_flag("--wait", add->wait, "With --async: follow the task to its end");
    OnRun(ad, chosen, [add](Session& s) { AddMembers(s, *add); });

    auto remove = std::make_shared<MembersArgs>();
    auto* rv = group->add_subcommand("remove", "Remove files from an album");
    rv->add_option("album", remove->albumId, "Album id")->required();
    rv->add_option("files", remove->fileIds, "File ids")->required();
    OnRun(rv, chosen, [remove](Session& s) { RemoveMembers(s, *remove); });

    auto share = std::make_shared<MembersArgs>();
    auto* sr = group->add_subcommand("share", "Share files through a shared album");
    sr->add_option("album", share->albumId, "Shared album id")->required();
    sr->add_option("files", share->fileIds, "File ids")->required();
    OnRun(sr, chosen, [share](Session& s) { Share(s, *share); });

    auto merge = std::make_shared<MergeArgs>();
    auto* mg = group->add_subcommand("merge", "Merge face albums into one person");
    mg->add_option("name", merge->name, "Name of the merged album")->required();
    mg->add_option("albums", merge->albumIds, "Face album ids (two or more)")
        ->required()
        ->expected(2, -1);
    OnRun(mg, chosen, [merge](Session& s) { Merge(s, *merge); });

    auto hide = std::make_shared<std::vector<std::int64_t>>();
    auto* hd = group->add_subcommand("hide", "Hide face albums");
    hd->add_option("albums", *hide, "Face album ids")->required();
    OnRun(hd, chosen, [hide](Session& s) { Hide(s, *hide); });
}

} // namespace zeqctl
