#include "FileCommands.h"

#include "Commands.h"
#include "Session.h"
#include "Tasks.h"

#include "services/FileIntfZeq.h"

#include <charconv>
#include <string>
#include <vector>

namespace zeqctl {

namespace {

Json::Value I(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

bool IsFolder(std::int32_t type) {
    return type >= 2 && type <= 6;
}

// The file service leaves a refusal's code (and sometimes its text) in the
// reply record instead of logging it.
void Check(Session& s, bool ok, const std::string& what, std::int64_t code,
           const std::string& text = "") {
    if (!ok || code != 0) {
        s.Fail(what, code, text);
    }
}

// A read of the file service into a fresh record, tried again when it failed
// on the way.
template <typename Record, typename Read>
void ReadInto(Session& s, const std::string& what, Record& record, Read&& read) {
    s.Retrying([&] {
        record = Record{};
        s.Begin();
        const bool ok = read(record);
        Check(s, ok, what, record.code);
    });
}

const std::vector<Column> kListingColumns{{"type", "KIND"},
                                          {"size", "SIZE", Shown::Bytes},
                                          {"mtime", "MODIFIED", Shown::Time},
                                          {"id", "ID", Shown::Count},
                                          {"name", "NAME"}};

void Ls(Session& s, const ListingArgs& args) {
    const auto doc = FetchListing(s, args);
    s.Out().Emit(doc, [&] { ShowListing(s, doc); });
}

struct PathArgs {
    std::string path;
    std::string category = "user";
};

void Stat(Session& s, const PathArgs& args) {
    RequireAbsolute(args.path);
    FolderDetailResp detail;
    ReadInto(s, "details of " + args.path, detail, [&](FolderDetailResp& out) {
        return FileIntfZeq::Instance().GetFolderDetail({"", args.path, args.category}, out);
    });
    Json::Value doc;
    doc["path"] = args.path;
    doc["name"] = detail.name;
    doc["size"] = I(detail.size);
    doc["mtime"] = I(detail.mtime);
    doc["dirCount"] = I(detail.dirCount);
    doc["fileCount"] = I(detail.fileCount);
    doc["version"] = detail.version;
    s.Out().Emit(doc, [&] {
        s.Out().Fields(doc, {{"path", "Path"},
                             {"size", "Size", Shown::Bytes},
                             {"mtime", "Modified", Shown::Time},
                             {"dirCount", "Folders"},
                             {"fileCount", "Files"}});
    });
}

struct MkdirArgs {
    std::string path;
    std::string category = "user";
    std::int64_t redundancy = 0;
};

void Mkdir(Session& s, const MkdirArgs& args) {
    RequireAbsolute(args.path);
    FileBaseData result;
    s.Begin();
    const bool ok =
        FileIntfZeq::Instance().MakeDirectory({args.path, args.redundancy, args.category}, result);
    Check(s, ok, "make folder " + args.path, result.code, result.desc);
    Json::Value doc;
    doc["path"] = args.path;
    doc["id"] = I(result.fid);
    s.Out().Emit(doc, [&] { s.Out().Line("made " + args.path); });
}

struct MkdirsArgs {
    std::string parent;
    std::vector<std::string> dirs;
    std::string category = "user";
};

void Mkdirs(Session& s, const MkdirsArgs& args) {
    RequireAbsolute(args.parent);
    FolderStructureCreateResp result;
    s.Begin();
    const bool ok = FileIntfZeq::Instance().CreateFolderStructure({args.parent, args.dirs},
                                                                  args.category, result);
    Check(s, ok, "make folders under " + args.parent, result.code);
    Json::Value doc;
    doc["parent"] = args.parent;
    doc["errors"] = Json::Value(Json::arrayValue);
    for (const auto& e : result.errorInfos) {
        Json::Value v;
        v["path"] = e.path;
        v["err"] = I(e.err);
        doc["errors"].append(v);
    }
    s.Out().Emit(doc, [&] {
        s.Out().Line("made " + std::to_string(args.dirs.size() - result.errorInfos.size()) +
                     " of " + std::to_string(args.dirs.size()) + " folders under " + args.parent);
        if (!result.errorInfos.empty()) {
            s.Out().Table(doc["errors"], {{"err", "ERROR", Shown::Count}, {"path", "PATH"}});
        }
    });
    if (!result.errorInfos.empty()) {
        throw CommandError::Device("some folders could not be made");
    }
}

struct CopyArgs {
    std::vector<std::string> paths; // sources, then the destination folder
    std::string category = "user";
    bool wait = false;
};

void CopyOrMove(Session& s, const CopyArgs& args, bool move) {
    if (args.paths.size() < 2) {
        throw CommandError::Usage("give one or more sources and a destination folder");
    }
    const std::vector<std::string> sources(args.paths.begin(), args.paths.end() - 1);
    const auto ids = StartCopy(s, sources, args.paths.back(), args.category, move);
    if (ids.size() != 1) {
        Json::Value doc;
        doc["taskIds"] = Json::Value(Json::arrayValue);
        for (const auto id : ids) {
            s.Device().NoteStartedTask(id);
            doc["taskIds"].append(I(id));
        }
        s.Out().Emit(doc,
                     [&] { s.Out().Line("started " + std::to_string(ids.size()) + " tasks"); });
        return;
    }
    Json::Value doc;
    doc["destination"] = args.paths.back();
    ReportStartedTask(s, TASK_SUPER_TYPE_TRANS, ids.front(), args.wait, doc);
}

struct RenameArgs {
    std::string path;
    std::string name;
    std::string category = "user";
};

void Rename(Session& s, const RenameArgs& args) {
    RequireAbsolute(args.path);
    if (args.name.empty() || args.name.find('/') != std::string::npos) {
        throw CommandError::Usage("the new name is a name, not a path (use mv to move)");
    }
    const auto parent = Parent(args.path);
    const auto target = (parent == "/" ? "" : parent) + "/" + args.name;
    FileBaseData result;
    s.Begin();
    const bool ok = FileIntfZeq::Instance().Rename({args.path, target, args.category, 0}, result);
    Check(s, ok, "rename " + args.path, result.code, result.desc);
    Json::Value doc;
    doc["from"] = args.path;
    doc["to"] = target;
    s.Out().Emit(doc, [&] { s.Out().Line("renamed " + args.path + " to " + target); });
}

struct RmArgs {
    std::vector<std::string> paths;
    std::string category = "user";
    bool force = false;
    bool wait = false;
};

void Rm(Session& s, const RmArgs& args) {
    for (const auto& path : args.paths) {
        RequireAbsolute(path);
    }
    DeleteResp result;
    s.Begin();
    const bool ok = FileIntfZeq::Instance().Delete(
        {args.paths, args.category,
         std::string(args.force ? FileIntfText::kForce : FileIntfText::kRecycle)},
        result);
    Check(s, ok, "delete", result.code);
    std::int64_t taskId = 0;
    const auto& id = result.progressId;
    if (std::from_chars(id.data(), id.data() + id.size(), taskId).ec != std::errc()) {
        throw CommandError::Device("the device gave no task id for the deletion");
    }
    Json::Value doc;
    doc["paths"] = Json::Value(Json::arrayValue);
    for (const auto& path : args.paths) {
        doc["paths"].append(path);
    }
    ReportStartedTask(s, TASK_SUPER_TYPE_FILE, taskId, args.wait, doc);
}

struct TrashListArgs {
    std::int32_t limit = 100;
    std::int64_t offset = 0;
    std::string category = "all";
};

void TrashLs(Session& s, const TrashListArgs& args) {
    RecycleFileListData list;
    s.Read("file recycle bin", [&] {
        return FileIntfZeq::Instance().GetRecycleFiles({args.limit, args.offset, args.category},
                                                       list);
    });
    Json::Value doc;
    doc["count"] = I(list.count);
    doc["hasMore"] = list.hasMore;
    doc["next"] = list.hasMore ? I(list.offset) : Json::Value();
    doc["entries"] = Json::Value(Json::arrayValue);
    for (const auto& f : list.files) {
        Json::Value v;
        v["rid"] = I(f->rid);
        v["name"] = f->name;
        v["type"] = IsFolder(f->type) ? "folder" : "file";
        v["size"] = I(f->size);
        v["dtime"] = I(f->dtime);
        v["path"] = f->path;
        doc["entries"].append(v);
    }
    s.Out().Emit(doc, [&] {
        s.Out().Table(doc["entries"], {{"rid", "BIN ID", Shown::Count},
                                       {"type", "KIND"},
                                       {"size", "SIZE", Shown::Bytes},
                                       {"dtime", "DELETED", Shown::Time},
                                       {"path", "FROM"}});
        if (list.hasMore) {
            s.Out().Line("more: zeqctl files trash ls --offset " + std::to_string(list.offset));
        }
    });
}

struct TrashArgs {
    std::vector<std::int64_t> ids;
    bool wait = false;
};

void TrashAction(Session& s, const TrashArgs& args, std::string_view action) {
    FileBaseData result;
    s.Begin();
    const bool ok =
        FileIntfZeq::Instance().RmvRecycleFiles({std::string(action), args.ids, ""}, result);
    Check(s, ok, std::string(action) + " recycle bin entries", result.code, result.desc);
    // The bin's task id comes back as the reply's file id.
    ReportStartedTask(s, TASK_SUPER_TYPE_FILE, result.fid, args.wait, Json::Value());
}

void Usb(Session& s) {
    UsbStatusResp status;
    ReadInto(s, "USB status", status,
             [](UsbStatusResp& out) { return FileIntfZeq::Instance().GetUsbStatus(out); });
    Json::Value doc;
    doc["connected"] = status.status;
    doc["mountPath"] = status.mountPath;
    doc["disks"] = Json::Value(Json::arrayValue);
    for (const auto& d : status.info) {
        Json::Value v;
        v["name"] = d.name;
        v["freeSize"] = I(d.freeSize);
        v["totalSize"] = I(d.totalSize);
        doc["disks"].append(v);
    }
    s.Out().Emit(doc, [&] {
        s.Out().Fields(doc, {{"connected", "USB storage"}, {"mountPath", "Mounted at"}});
        s.Out().Line("");
        s.Out().Table(doc["disks"], {{"totalSize", "SIZE", Shown::Bytes},
                                     {"freeSize", "FREE", Shown::Bytes},
                                     {"name", "NAME"}});
    });
}

} // namespace

std::string Parent(const std::string& path) {
    const auto slash = path.find_last_of('/', path.size() > 1 ? path.size() - 2 : 0);
    return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

std::string Leaf(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void RequireAbsolute(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        throw CommandError::Usage("device paths start with /: \"" + path + "\"");
    }
}

void AddCategory(CLI::App* sub, std::string& category) {
    sub->add_option("--category", category, "Area of the device: user (yours) or public")
        ->check(CLI::IsMember({"user", "public"}));
}

bool IsDeviceFolder(Session& s, const std::string& path, const std::string& category) {
    s.Begin();
    GetFilesRequestParam request;
    request.path = path;
    request.limit = 1;
    request.sortType = ListingArgs().sort;
    request.category = category;
    FileListData list;
    return FileIntfZeq::Instance().GetFiles(request, list) && list.code == 0;
}

Json::Value FetchListing(Session& s, const ListingArgs& args) {
    RequireAbsolute(args.path);
    GetFilesRequestParam request;
    request.path = args.path;
    request.limit = args.limit;
    request.offset = args.offset;
    request.sortType = args.sort;
    request.category = args.category;
    FileListData list;
    ReadInto(s, "list " + args.path, list,
             [&](FileListData& out) { return FileIntfZeq::Instance().GetFiles(request, out); });
    Json::Value doc;
    doc["path"] = list.parentPath.empty() ? args.path : list.parentPath;
    doc["hasMore"] = list.hasMore;
    doc["next"] = list.hasMore ? I(list.offset) : Json::Value();
    doc["entries"] = Json::Value(Json::arrayValue);
    for (const auto& f : list.files) {
        Json::Value v;
        v["id"] = I(f->id);
        v["name"] = f->name + (IsFolder(f->type) ? "/" : "");
        v["path"] = f->fullPath;
        v["type"] = IsFolder(f->type) ? "folder" : "file";
        v["size"] = I(f->size);
        v["count"] = I(f->count);
        v["mtime"] = I(f->mtime);
        v["mime"] = f->mime;
        v["category"] = f->category;
        doc["entries"].append(v);
    }
    return doc;
}

void ShowListing(Session& s, const Json::Value& doc) {
    s.Out().Line(doc["path"].asString());
    s.Out().Table(doc["entries"], kListingColumns);
    if (doc["hasMore"].asBool()) {
        s.Out().Line("more: add --offset " + doc["next"].asString());
    }
}

std::vector<std::int64_t> StartCopy(Session& s, const std::vector<std::string>& sources,
                                    const std::string& destination, const std::string& category,
                                    bool move) {
    for (const auto& path : sources) {
        RequireAbsolute(path);
    }
    RequireAbsolute(destination);
    CopyMoveTask task;
    task.name = Leaf(sources.front());
    task.sCategory = category;
    task.dCategory = category;
    task.sPaths = sources;
    task.dPath = destination;
    CopyMoveRequestParam request{{task}, category};
    CopyMoveResp result;
    s.Begin();
    auto& files = FileIntfZeq::Instance();
    const bool ok = move ? files.Move(request, result) : files.Copy(request, result);
    Check(s, ok, std::string(move ? "move" : "copy") + " to " + destination, result.code,
          result.desc);
    std::vector<std::int64_t> ids;
    for (const auto& t : result.tasks) {
        ids.push_back(t.id);
    }
    if (ids.empty()) {
        throw CommandError::Device("the device started no task");
    }
    return ids;
}

void AddFileCommands(CLI::App& app, Action& chosen) {
    auto* group = app.add_subcommand("files", "Files and folders of the device");
    group->require_subcommand(1);

    auto ls = std::make_shared<ListingArgs>();
    auto* l = group->add_subcommand("ls", "List a folder, a page at a time");
    l->add_option("path", ls->path, "Folder (default /)");
    l->add_option("--limit", ls->limit, "Entries per page")->check(CLI::Range(1, 1000));
    l->add_option("--offset", ls->offset, "Skip this many (the 'more' hint)");
    l->add_option("--sort", ls->sort, "Order")
        ->check(
            CLI::IsMember({"nameAsc", "nameDesc", "timeAsc", "timeDesc", "sizeAsc", "sizeDesc"}));
    AddCategory(l, ls->category);
    OnRun(l, chosen, [ls](Session& s) { Ls(s, *ls); });

    auto stat = std::make_shared<PathArgs>();
    auto* st = group->add_subcommand("stat", "Size and counts of a file or folder");
    st->add_option("path", stat->path, "Path")->required();
    AddCategory(st, stat->category);
    OnRun(st, chosen, [stat](Session& s) { Stat(s, *stat); });

    auto mkdir = std::make_shared<MkdirArgs>();
    auto* mk = group->add_subcommand("mkdir", "Make a folder");
    mk->add_option("path", mkdir->path, "Path")->required();
    mk->add_option("--redundancy", mkdir->redundancy, "1 single copy, 2 double");
    AddCategory(mk, mkdir->category);
    OnRun(mk, chosen, [mkdir](Session& s) { Mkdir(s, *mkdir); });

    auto mkdirs = std::make_shared<MkdirsArgs>();
    auto* mks = group->add_subcommand("mkdirs", "Make several folders (relative paths) at once");
    mks->add_option("parent", mkdirs->parent, "Folder to make them in")->required();
    mks->add_option("dirs", mkdirs->dirs, "Relative paths, e.g. 2024/May")->required();
    AddCategory(mks, mkdirs->category);
    OnRun(mks, chosen, [mkdirs](Session& s) { Mkdirs(s, *mkdirs); });

    for (const bool move : {false, true}) {
        auto copy = std::make_shared<CopyArgs>();
        auto* c =
            group->add_subcommand(move ? "mv" : "cp", move ? "Move into a folder (a device task)"
                                                           : "Copy into a folder (a device task)");
        c->add_option("paths", copy->paths, "Sources, then the destination folder")
            ->required()
            ->expected(2, -1);
        c->add_flag("--wait", copy->wait, "Follow the task to its end");
        AddCategory(c, copy->category);
        OnRun(c, chosen, [copy, move](Session& s) { CopyOrMove(s, *copy, move); });
    }

    auto rename = std::make_shared<RenameArgs>();
    auto* rn = group->add_subcommand("rename", "Rename in place");
    rn->add_option("path", rename->path, "Path")->required();
    rn->add_option("name", rename->name, "New name")->required();
    AddCategory(rn, rename->category);
    OnRun(rn, chosen, [rename](Session& s) { Rename(s, *rename); });

    auto rm = std::make_shared<RmArgs>();
    auto* r = group->add_subcommand("rm", "Move to the recycle bin (a device task)");
    r->add_option("paths", rm->paths, "Paths")->required();
    r->add_flag("--force", rm->force, "Delete for good instead");
    r->add_flag("--wait", rm->wait, "Follow the task to its end");
    AddCategory(r, rm->category);
    OnRun(r, chosen, [rm](Session& s) { Rm(s, *rm); });

    auto* trash = group->add_subcommand("trash", "The file recycle bin");
    trash->require_subcommand(1);
    auto tls = std::make_shared<TrashListArgs>();
    auto* tl = trash->add_subcommand("ls", "List the recycle bin");
    tl->add_option("--limit", tls->limit, "Entries per page")->check(CLI::Range(1, 1000));
    tl->add_option("--offset", tls->offset, "Skip this many");
    tl->add_option("--category", tls->category, "user, public or all")
        ->check(CLI::IsMember({"user", "public", "all"}));
    OnRun(tl, chosen, [tls](Session& s) { TrashLs(s, *tls); });
    const auto binVerb = [&](const char* name, const char* help, std::string_view action,
                             bool needsIds) {
        auto args = std::make_shared<TrashArgs>();
        auto* sub = trash->add_subcommand(name, help);
        if (needsIds) {
            sub->add_option("ids", args->ids, "Bin ids (from trash ls)")->required();
        }
        sub->add_flag("--wait", args->wait, "Follow the task to its end");
        OnRun(sub, chosen, [args, action](Session& s) { TrashAction(s, *args, action); });
    };
    binVerb("restore", "Put entries back where they were", FileIntfText::kRestore, true);
    binVerb("rm", "Delete entries for good", FileIntfText::kRemove, true);
    binVerb("empty", "Delete everything in the bin for good", FileIntfText::kClear, false);

    OnRun(group->add_subcommand("usb", "USB storage attached to the device"), chosen, &Usb);
    AddFileTransferCommands(*group, chosen);
}

} // namespace zeqctl
