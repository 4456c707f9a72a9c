#include "Commands.h"
#include "Session.h"
#include "Tasks.h"

#include "services/PhotoIntfZEQ.h"

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

namespace zeqctl {

namespace {

Json::Value I(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Json::Value PhotoJson(const GalleryModel& m) {
    Json::Value v;
    v["fileId"] = I(m.fileId);
    v["name"] = BaseName(m.fileSrcPath);
    v["path"] = m.fileSrcPath;
    v["mimeType"] = m.mimeType;
    v["mediaType"] = I(m.mediaType);
    v["size"] = I(m.size);
    v["width"] = I(m.width);
    v["height"] = I(m.height);
    v["takenTime"] = I(m.takenTime);
    v["createTime"] = I(m.createTime);
    v["city"] = m.city;
    v["country"] = m.country;
    v["comment"] = m.comment;
    v["favorite"] = m.favorite != 0;
    v["duration"] = I(m.duration);
    return v;
}

const std::vector<Column> kPhotoColumns{{"fileId", "ID", Shown::Count},
                                        {"takenTime", "TAKEN", Shown::Time},
                                        {"size", "SIZE", Shown::Bytes},
                                        {"mimeType", "TYPE"},
                                        {"city", "CITY"},
                                        {"name", "NAME"}};

struct ListArgs {
    std::int64_t after = 0;
    std::int64_t limit = 50;
};

// The device pages by its own size; --limit cuts the pages it sends.
void List(Session& s, const ListArgs& args) {
    Json::Value doc;
    doc["photos"] = Json::Value(Json::arrayValue);
    std::int64_t cursor = args.after;
    bool more = true;
    while (more && static_cast<std::int64_t>(doc["photos"].size()) < args.limit) {
        GalleryFilesAllMetadataRsp rsp;
        s.Read("photo list",
               [&] { return PhotoIntfZEQ::Instance().GetGalleryFilesAllMetadata(cursor, rsp); });
        more = rsp.hasMore;
        for (std::size_t i = 0; i < rsp.data.size(); ++i) {
            if (static_cast<std::int64_t>(doc["photos"].size()) == args.limit) {
                more = true;
                break;
            }
            doc["photos"].append(PhotoJson(*rsp.data[i]));
            cursor = rsp.data[i]->fileId;
        }
        if (rsp.data.empty()) {
            more = false;
        }
        doc["maxRowId"] = I(rsp.maxRowId);
    }
    doc["hasMore"] = more;
    doc["next"] = more ? I(cursor) : Json::Value();
    s.Out().Emit(doc, [&] {
        s.Out().Table(doc["photos"], kPhotoColumns);
        if (more) {
            s.Out().Line("more: zeqctl photos ls --after " + std::to_string(cursor));
        }
    });
}

void Changes(Session& s, std::int64_t since) {
    Json::Value doc;
    doc["changes"] = Json::Value(Json::arrayValue);
    std::int64_t cursor = since;
    for (bool more = true; more;) {
        GalleryFilesIncRsp rsp;
        s.Read("photo changes",
               [&] { return PhotoIntfZEQ::Instance().GetGalleryFilesIncInfo(cursor, rsp); });
        for (const auto& change : rsp.data) {
            Json::Value v;
            v["rowId"] = I(change.rowId);
            v["fileId"] = I(change.fileId);
            v["operation"] = change.operation;
            v["deviceId"] = change.deviceId;
            doc["changes"].append(v);
            cursor = change.rowId;
        }
        more = rsp.hasMore && !rsp.data.empty();
    }
    doc["lastRowId"] = I(cursor);
    s.Out().Emit(doc, [&] {
        s.Out().Table(doc["changes"], {{"rowId", "ROW", Shown::Count},
                                       {"fileId", "FILE ID", Shown::Count},
                                       {"operation", "OPERATION", Shown::Count},
                                       {"deviceId", "BY DEVICE"}});
        s.Out().Line("next: zeqctl photos changes --since " + std::to_string(cursor));
    });
}

std::vector<std::shared_ptr<GalleryModel>> Selected(Session& s, std::vector<std::int64_t> ids) {
    GalleryFilesSelectedMetadataRsp rsp;
    s.ReadCoded("photo details", [&](HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().GetSelectedGalleryFilesMetadata(ids, rsp, code);
    });
    return rsp.data;
}

void Show(Session& s, const std::vector<std::int64_t>& ids) {
    const auto photos = Selected(s, ids);
    if (photos.empty()) {
        throw CommandError::Device("no such photo on the device");
    }
    Json::Value doc;
    doc["photos"] = Json::Value(Json::arrayValue);
    for (const auto& p : photos) {
        doc["photos"].append(PhotoJson(*p));
    }
    s.Out().Emit(doc, [&] {
        bool first = true;
        for (const auto& p : doc["photos"]) {
            if (!first) {
                s.Out().Line("");
            }
            first = false;
            s.Out().Fields(p, {{"fileId", "File"},
                               {"path", "Path"},
                               {"mimeType", "Type"},
                               {"size", "Size", Shown::Bytes},
                               {"width", "Width"},
                               {"height", "Height"},
                               {"takenTime", "Taken", Shown::Time},
                               {"city", "City"},
                               {"country", "Country"},
                               {"favorite", "Favourite"},
                               {"comment", "Comment"}});
        }
    });
}

struct CommentArgs {
    std::int64_t fileId = 0;
    std::string text;
};

void Comment(Session& s, const CommentArgs& args) {
    s.RequireCoded("comment on photo " + std::to_string(args.fileId), [&](HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ModifyGalleryFileAttr(args.fileId, args.text, code);
    });
    Json::Value doc;
    doc["fileId"] = I(args.fileId);
    doc["comment"] = args.text;
    s.Out().Emit(doc,
                 [&] { s.Out().Line("comment saved on photo " + std::to_string(args.fileId)); });
}

struct IdsArgs {
    std::vector<std::int64_t> ids;
    bool async = false;
    bool wait = false;
};

// The device names the files it acts on by id and name.
std::vector<GalleryFileMember> Members(Session& s, const std::vector<std::int64_t>& ids) {
    std::vector<GalleryFileMember> members;
    for (const auto& p : Selected(s, ids)) {
        members.push_back({p->fileId, BaseName(p->fileSrcPath)});
    }
    for (const auto id : ids) {
        const bool known = std::any_of(members.begin(), members.end(),
                                       [id](const GalleryFileMember& m) { return m.fileId == id; });
        if (!known) {
            members.push_back({id, ""});
        }
    }
    return members;
}

void Done(Session& s, const char* verb, const std::vector<std::int64_t>& ids) {
    Json::Value doc;
    doc[verb] = Json::Value(Json::arrayValue);
    for (const auto id : ids) {
        doc[verb].append(I(id));
    }
    s.Out().Emit(doc, [&] {
        s.Out().Line(std::string(verb) + ": " + std::to_string(ids.size()) + " files");
    });
}

void Delete(Session& s, const IdsArgs& args) {
    const auto members = Members(s, args.ids);
    auto& photos = PhotoIntfZEQ::Instance();
    if (args.async) {
        std::int64_t taskId = 0;
        s.RequireCoded("move photos to the recycle bin", [&](HttpPostRspCode* code) {
            return photos.DeleteGalleryFilesAsync(members, "", 0, taskId, code);
        });
        ReportStartedTask(s, TASK_SUPER_TYPE_GALLERY, taskId, args.wait, Json::Value());
        return;
    }
    std::vector<std::int64_t> done;
    s.RequireCoded("move photos to the recycle bin", [&](HttpPostRspCode* code) {
        return photos.DeleteGalleryFiles(members, done, code);
    });
    Done(s, "recycled", done);
}

struct BinListArgs {
    std::int64_t offset = 0;
    std::int32_t limit = 50;
};

void BinList(Session& s, const BinListArgs& args) {
    BinQueryInfo info;
    s.Read("photo recycle bin",
           [&] { return PhotoIntfZEQ::Instance().QueryBinFiles(args.offset, args.limit, info); });
    Json::Value doc;
    doc["files"] = Json::Value(Json::arrayValue);
    for (const auto& f : info.data) {
        Json::Value v;
        v["fileId"] = I(f.fileId);
        v["name"] = BaseName(f.fileSrcPath);
        v["path"] = f.fileSrcPath;
        v["mediaType"] = I(f.mediaType);
        v["createTime"] = I(f.createTime);
        v["takenTime"] = I(f.takenTime);
        doc["files"].append(v);
    }
    s.Out().Emit(doc, [&] {
        s.Out().Table(doc["files"], {{"fileId", "ID", Shown::Count},
                                     {"takenTime", "TAKEN", Shown::Time},
                                     {"name", "NAME"}});
    });
}

void BinRestore(Session& s, const IdsArgs& args) {
    const auto members = Members(s, args.ids);
    std::vector<std::int64_t> done;
    s.RequireCoded("restore photos", [&](HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().RecoverBinFiles(members, done, code);
    });
    Done(s, "restored", done);
}

void BinDelete(Session& s, const IdsArgs& args) {
    const auto members = Members(s, args.ids);
    std::vector<std::int64_t> done;
    s.RequireCoded("delete photos for good", [&](HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().DeleteBinFiles(members, done, code);
    });
    Done(s, "deleted", done);
}

void BinEmpty(Session& s) {
    s.RequireCoded("empty the photo recycle bin", [&](HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().DeleteBinFiles(code);
    });
    Json::Value doc;
    doc["emptied"] = true;
    s.Out().Emit(doc, [&] { s.Out().Line("photo recycle bin emptied"); });
}

} // namespace

void AddPhotoCommands(CLI::App& app, Action& chosen) {
    auto* group = app.add_subcommand("photos", "Photos and videos of the gallery");
    group->require_subcommand(1);

    auto list = std::make_shared<ListArgs>();
    auto* ls = group->add_subcommand("ls", "List photos, a page at a time");
    ls->add_option("--after", list->after, "Start after this file id (the 'more' hint)");
    ls->add_option("--limit", list->limit, "At most this many")->check(CLI::PositiveNumber);
    OnRun(ls, chosen, [list](Session& s) { List(s, *list); });

    auto since = std::make_shared<std::int64_t>(0);
    auto* ch = group->add_subcommand("changes", "Changes to the gallery since a row id");
    ch->add_option("--since", *since, "Row id of the last change already seen");
    OnRun(ch, chosen, [since](Session& s) { Changes(s, *since); });

    auto show = std::make_shared<std::vector<std::int64_t>>();
    auto* sh = group->add_subcommand("show", "Details of photos");
    sh->add_option("files", *show, "File ids")->required();
    OnRun(sh, chosen, [show](Session& s) { Show(s, *show); });

    auto comment = std::make_shared<CommentArgs>();
    auto* cm = group->add_subcommand("comment", "Set a photo's comment");
    cm->add_option("file", comment->fileId, "File id")->required();
    cm->add_option("text", comment->text, "Comment")->required();
    OnRun(cm, chosen, [comment](Session& s) { Comment(s, *comment); });

    auto del = std::make_shared<IdsArgs>();
    auto* rm = group->add_subcommand("rm", "Move photos to the recycle bin");
    rm->add_option("files", del->ids, "File ids")->required();
    rm->add_flag("--async", del->async, "As a device task");
    rm->add_flag("--wait", del->wait, "With --async: follow the task to its end");
    OnRun(rm, chosen, [del](Session& s) { Delete(s, *del); });

    auto* bin = group->add_subcommand("bin", "The photo recycle bin");
    bin->require_subcommand(1);
    auto binList = std::make_shared<BinListArgs>();
    auto* bl = bin->add_subcommand("ls", "List the recycle bin");
    bl->add_option("--offset", binList->offset, "Skip this many");
    bl->add_option("--limit", binList->limit, "At most this many")->check(CLI::PositiveNumber);
    OnRun(bl, chosen, [binList](Session& s) { BinList(s, *binList); });
    auto restore = std::make_shared<IdsArgs>();
    auto* br = bin->add_subcommand("restore", "Put photos back in the gallery");
    br->add_option("files", restore->ids, "File ids")->required();
    OnRun(br, chosen, [restore](Session& s) { BinRestore(s, *restore); });
    auto purge = std::make_shared<IdsArgs>();
    auto* bd = bin->add_subcommand("rm", "Delete photos from the bin for good");
    bd->add_option("files", purge->ids, "File ids")->required();
    OnRun(bd, chosen, [purge](Session& s) { BinDelete(s, *purge); });
    OnRun(bin->add_subcommand("empty", "Delete everything in the bin for good"), chosen, &BinEmpty);
}

} // namespace zeqctl
