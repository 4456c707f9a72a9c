#include "emulator/FileArea.h"

#include "emulator/ApiError.h"
#include "emulator/CrashPoint.h"
#include "emulator/ErrorCodes.h"
#include "emulator/Sha256.h"
#include "emulator/VirtualPath.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zeqemu {

namespace {

constexpr std::int64_t kMaxPage = 1000;
constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct TreeTotals {
    std::int64_t bytes = 0;
    std::int64_t dirs = 0;
    std::int64_t files = 0;
};

TreeTotals Totals(int parent, const std::string& name, const safefs::Info& top) {
    TreeTotals totals;
    if (!top.isDir) {
        totals.bytes = top.size;
        totals.files = 1;
        return totals;
    }
    const UniqueFd folder(::openat(parent, name.c_str(), kDirFlags));
    if (folder.Valid()) {
        safefs::Walk(folder.Get(),
                     [&](int, const std::string&, const std::string&, const safefs::Info& info) {
                         if (info.isDir) {
                             ++totals.dirs;
                         } else {
                             ++totals.files;
                             totals.bytes += info.size;
                         }
                     });
    }
    return totals;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

ApiError NoSuchFile(const std::string& path) {
    return ApiError::Device(code::kNoSuchFile, "no such file or folder: " + path);
}

ApiError IoError(const std::string& what, int error = errno) {
    return ApiError::Device(
        code::kIoError, what + ": " + std::error_code(error, std::generic_category()).message());
}

ApiError LinkInTheWay(const std::string& path) {
    return ApiError::Device(code::kBadPath, "links are not followed: " + path);
}

UniqueFd OpenRoot(const fs::path& folder) {
    fs::create_directories(folder);
    UniqueFd fd(::open(folder.c_str(), kDirFlags));
    if (!fd.Valid()) {
        throw std::runtime_error("cannot open " + folder.string());
    }
    return fd;
}

// Publishes a staged entry under name in to, never replacing anything there.
bool PublishAt(int from, const std::string& staged, int to, const std::string& name) {
    if (::renameat2(from, staged.c_str(), to, name.c_str(), RENAME_NOREPLACE) != 0) {
        return false;
    }
    safefs::Sync(to);
    return true;
}

bool MatchesFilter(const FileArea::Entry& entry, const std::string& filter) {
    if (filter.empty()) {
        return true;
    }
    const bool folder = entry.type != FileArea::kTypeFile;
    if (filter == "DirFilter") {
        return folder;
    }
    const auto kind = entry.mime.substr(0, entry.mime.find('/'));
    if (filter == "image" || filter == "video" || filter == "audio") {
        return !folder && kind == filter;
    }
    if (filter == "doc") {
        return !folder && (kind == "text" || entry.mime.rfind("application/", 0) == 0);
    }
    // Anything else is a name search, as typed into the client's search box.
    return Lower(entry.name).find(Lower(filter)) != std::string::npos;
}

void SortEntries(std::vector<FileArea::Entry>& entries, const std::string& sortType) {
    using Entry = FileArea::Entry;
    std::function<bool(const Entry&, const Entry&)> less;
    if (sortType.empty() || sortType == "nameAsc") {
        less = [](const Entry& a, const Entry& b) { return a.name < b.name; };
    } else if (sortType == "nameDesc") {
        less = [](const Entry& a, const Entry& b) { return a.name > b.name; };
    } else if (sortType == "timeAsc") {
        less = [](const Entry& a, const Entry& b) { return a.mtime < b.mtime; };
    } else if (sortType == "timeDesc") {
        less = [](const Entry& a, const Entry& b) { return a.mtime > b.mtime; };
    } else if (sortType == "sizeAsc") {
        less = [](const Entry& a, const Entry& b) { return a.size < b.size; };
    } else if (sortType == "sizeDesc") {
        less = [](const Entry& a, const Entry& b) { return a.size > b.size; };
    } else {
        throw ApiError::BadRequest(code::kBadField, "unknown sortType \"" + sortType + "\"");
    }
    // Folders first, then the chosen order; names break ties so pages never
    // overlap or skip when several entries share a time or size.
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
        const bool aFolder = a.type != FileArea::kTypeFile;
        const bool bFolder = b.type != FileArea::kTypeFile;
        if (aFolder != bFolder) {
            return aFolder;
        }
        if (less(a, b)) {
            return true;
        }
        if (less(b, a)) {
            return false;
        }
        return a.name < b.name;
    });
}

void CheckPage(std::int64_t offset, std::int64_t limit) {
    if (offset < 0 || limit <= 0) {
        throw ApiError::BadRequest(code::kBadField, "offset must be 0 or more and limit above 0");
    }
}

} // namespace

FileArea::FileArea(const fs::path& dataDir)
    : m_user(OpenRoot(dataDir / "files" / "user")),
      m_public(OpenRoot(dataDir / "files" / "public")), m_usb(OpenRoot(dataDir / "usb")),
      m_binFolder(OpenRoot(dataDir / "recycle")), m_staging(OpenRoot(dataDir / "staging")),
      m_state(dataDir / "state" / "files.json") {
    Load();
    Recover();
}

void FileArea::Recover() {
    std::lock_guard lock(m_mutex);
    for (const auto& name : safefs::Children(m_staging.Get())) {
        safefs::RemoveTree(m_staging.Get(), name);
    }
    for (auto it = m_bin.begin(); it != m_bin.end();) {
        auto& stored = it->second;
        if (safefs::InfoAt(m_binFolder.Get(), std::to_string(it->first)).exists) {
            stored.restoringTo.clear(); // a restore that never moved anything
            ++it;
            continue;
        }
        // The entry was written before its move: the move either never
        // happened (the entry is still at its origin) or was a restore that
        // finished. Either way the entry's metadata goes where it is now.
        const auto inner = stored.restoringTo.empty() ? stored.inner : stored.restoringTo;
        GiveNodes(stored.area + ":" + inner, stored.nodes);
        it = m_bin.erase(it);
        m_dirty = true;
    }
    // Content no entry names is what a purge left behind.
    for (const auto& name : safefs::Children(m_binFolder.Get())) {
        const auto rid = std::strtoll(name.c_str(), nullptr, 10);
        if (m_bin.count(rid) == 0 || std::to_string(rid) != name) {
            safefs::RemoveTree(m_binFolder.Get(), name);
        }
    }
    // Metadata of an entry that is not there: the side of a rename the entry
    // did not end up on, or a deletion whose save never came.
    for (auto it = m_nodes.begin(); it != m_nodes.end();) {
        const auto colon = it->first.find(':');
        Location at;
        at.area = it->first.substr(0, colon);
        at.inner = it->first.substr(colon + 1);
        at.shown = at.inner;
        at.parts = VirtualPath::Components(at.inner);
        if (colon != std::string::npos && Present(at)) {
            ++it;
        } else {
            it = m_nodes.erase(it);
            m_dirty = true;
        }
    }
    SaveLocked();
}

bool FileArea::IsEmpty() const {
    std::lock_guard lock(m_mutex);
    return safefs::Children(m_user.Get()).empty() && m_nodes.empty();
}

int FileArea::RootOf(const std::string& area) const {
    return area == "usb" ? m_usb.Get() : area == "public" ? m_public.Get() : m_user.Get();
}

FileArea::Location FileArea::Resolve(const std::string& category, const std::string& path) const {
    Location at;
    at.shown = VirtualPath::Normalize(path);
    if (VirtualPath::IsWithin(at.shown, kUsbMount)) {
        at.area = "usb";
        at.inner = at.shown == kUsbMount ? "/" : at.shown.substr(std::string(kUsbMount).size());
    } else {
        if (category.empty() || category == "user") {
            at.area = "user";
        } else if (category == "public") {
            at.area = "public";
        } else {
            throw ApiError::Device(code::kBadCategory, "unknown category \"" + category + "\"");
        }
        at.inner = at.shown;
    }
    at.parts = VirtualPath::Components(at.inner);
    return at;
}

UniqueFd FileArea::Folder(const Location& at) const {
    try {
        return safefs::OpenFolder(RootOf(at.area), at.parts, at.parts.size());
    } catch (const safefs::WalkError& e) {
        if (e.kind == safefs::WalkError::Link) {
            throw LinkInTheWay(at.shown);
        }
        throw e.kind == safefs::WalkError::Missing
            ? NoSuchFile(at.shown)
            : ApiError::Device(code::kBadPath, "not a folder: " + at.shown);
    }
}

UniqueFd FileArea::Parent(const Location& at) const {
    auto parent = at;
    parent.parts.pop_back();
    parent.shown = VirtualPath::Parent(at.shown);
    return Folder(parent);
}

safefs::Info FileArea::Probe(const Location& at) const {
    if (at.IsRoot()) {
        return safefs::InfoAt(RootOf(at.area), ".");
    }
    safefs::Info info;
    try {
        info = safefs::InfoAt(Parent(at).Get(), at.parts.back());
    } catch (const ApiError& e) {
        if (e.Code() == code::kBadPath) {
            throw;
        }
        return {};
    }
    if (info.isLink) {
        throw LinkInTheWay(at.shown);
    }
    return info;
}

FileArea::Location FileArea::Existing(const std::string& category, const std::string& path) const {
    auto at = Resolve(category, path);
    if (!Probe(at).exists) {
        throw NoSuchFile(at.shown);
    }
    return at;
}

FileArea::Location FileArea::Child(const Location& folder, const std::string& name) {
    auto at = folder;
    at.parts.push_back(name);
    at.inner = VirtualPath::Join(at.inner, name);
    at.shown = VirtualPath::Join(at.shown, name);
    return at;
}

bool FileArea::Present(const Location& at) const {
    try {
        return Probe(at).exists;
    } catch (const ApiError&) {
        return false;
    }
}

FileArea::Node& FileArea::NodeFor(const Location& at) {
    auto& node = m_nodes[Key(at)];
    if (node.id == 0) {
        node.id = m_nextId++;
        m_dirty = true;
    }
    return node;
}

FileArea::Entry FileArea::MakeEntry(const Location& at, const safefs::Info& info, int parent) {
    const auto& node = NodeFor(at);
    Entry entry;
    entry.id = node.id;
    entry.attr = node.attr;
    entry.visibility = node.visibility;
    entry.name = VirtualPath::Name(at.shown);
    entry.path = at.shown;
    entry.category = at.area;
    entry.mtime = info.mtime;
    if (info.isDir) {
        const bool disk = at.area == "usb" && at.parts.size() == 1;
        entry.type = disk ? kTypeUsbDisk : kTypeFolder;
        const UniqueFd folder(at.IsRoot() ? ::fcntl(parent, F_DUPFD_CLOEXEC, 0)
                                          : ::openat(parent, at.parts.back().c_str(), kDirFlags));
        if (folder.Valid()) {
            entry.count = static_cast<std::int64_t>(safefs::Children(folder.Get()).size());
            struct statvfs vfs {};
            if (disk && ::fstatvfs(folder.Get(), &vfs) == 0) {
                entry.freeSize = static_cast<std::int64_t>(vfs.f_bavail * vfs.f_frsize);
            }
        }
    } else {
        entry.type = kTypeFile;
        entry.size = info.size;
        entry.mime = MimeOf(entry.name);
    }
    entry.version = std::to_string(info.mtime) + "-" + std::to_string(info.size);
    return entry;
}

std::string FileArea::FreeName(int folder, const std::string& name) const {
    const auto taken = [&](const std::string& candidate) {
        return safefs::InfoAt(folder, candidate).exists;
    };
    if (!taken(name)) {
        return name;
    }
    const auto dot = name.rfind('.');
    const bool hasExt = dot != std::string::npos && dot > 0;
    const auto stem = hasExt ? name.substr(0, dot) : name;
    const auto ext = hasExt ? name.substr(dot) : std::string();
    for (int n = 1;; ++n) {
        auto candidate = stem + " (" + std::to_string(n) + ")" + ext;
        if (!taken(candidate)) {
            return candidate;
        }
    }
}

UniqueFd FileArea::NewStagingFile(std::string& name) {
    name = "file-" + std::to_string(m_nextStage++) + "-" + std::to_string(::getpid());
    UniqueFd fd = safefs::OpenFileAt(m_staging.Get(), name, O_RDWR | O_CREAT | O_EXCL, 0644);
    if (!fd.Valid()) {
        throw IoError("cannot stage a new file");
    }
    return fd;
}

FileArea::ListPage FileArea::List(const ListQuery& query) {
    CheckPage(query.offset, query.limit);
    std::lock_guard lock(m_mutex);
    const auto folder = Existing(query.category, query.folder);
    const auto fd = Folder(folder);
    std::vector<Entry> entries;
    for (const auto& name : safefs::Children(fd.Get())) {
        const auto at = Resolve(query.category, VirtualPath::Join(folder.shown, name));
        auto entry = MakeEntry(at, safefs::InfoAt(fd.Get(), name), fd.Get());
        if (MatchesFilter(entry, query.filter)) {
            entries.push_back(std::move(entry));
        }
    }
    SortEntries(entries, query.sortType);
    ListPage page;
    page.parentPath = VirtualPath::AsFolder(folder.shown);
    const auto total = static_cast<std::int64_t>(entries.size());
    const auto first = std::min(query.offset, total);
    const auto last = std::min(first + std::min(query.limit, kMaxPage), total);
    page.entries.assign(entries.begin() + first, entries.begin() + last);
    page.hasMore = last < total;
    page.nextOffset = last;
    SaveLocked();
    return page;
}

FileArea::Detail FileArea::GetDetail(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    const auto info = Probe(at);
    const auto parent = at.IsRoot() ? Folder(at) : Parent(at);
    const auto name = at.IsRoot() ? std::string(".") : at.parts.back();
    const auto entry = MakeEntry(at, info, parent.Get());
    const auto totals = Totals(parent.Get(), name, info);
    Detail detail;
    detail.name = entry.name;
    detail.version = entry.version;
    detail.mtime = entry.mtime;
    detail.size = totals.bytes;
    detail.dirCount = totals.dirs;
    detail.fileCount = totals.files;
    SaveLocked();
    return detail;
}

std::int64_t FileArea::MakeDir(const std::string& category, const std::string& path,
                               int redundancy) {
    if (redundancy != 0 && redundancy != 1 && redundancy != 2) {
        throw ApiError::BadRequest(code::kBadField, "redundancy must be 0, 1 or 2");
    }
    std::lock_guard lock(m_mutex);
    const auto at = Resolve(category, path);
    if (at.IsRoot()) {
        throw ApiError::Device(code::kExists, "the root folder exists");
    }
    const auto parent = Parent(at);
    if (::mkdirat(parent.Get(), at.parts.back().c_str(), 0755) != 0) {
        if (errno == EEXIST) {
            throw ApiError::Device(code::kExists, "already exists: " + at.shown);
        }
        throw IoError("cannot make " + at.shown);
    }
    safefs::Sync(parent.Get());
    auto& node = NodeFor(at);
    node.attr = redundancy == 0 ? 1 : redundancy;
    m_dirty = true;
    SaveLocked();
    return node.id;
}

std::int64_t FileArea::Rename(const std::string& category, const std::string& oldPath,
                              const std::string& newPath, std::int64_t expectedId) {
    std::lock_guard lock(m_mutex);
    const auto from = Existing(category, oldPath);
    const auto to = Resolve(category, newPath);
    if (from.IsRoot() || to.IsRoot() || from.area != to.area) {
        throw ApiError::Device(code::kBadPath, "cannot rename " + from.shown + " to " + to.shown);
    }
    if (VirtualPath::IsWithin(to.inner, from.inner)) {
        throw ApiError::Device(code::kBadPath, "cannot move a folder into itself");
    }
    const auto id = NodeFor(from).id;
    if (expectedId != 0 && expectedId != id) {
        throw ApiError::Device(code::kNoSuchFile,
                               "id " + std::to_string(expectedId) + " is not " + from.shown);
    }
    if (Probe(to).exists) {
        throw ApiError::Device(code::kExists, "already exists: " + to.shown);
    }
    const auto fromParent = Parent(from);
    const auto toParent = Parent(to);
    if (!PlaceAt(fromParent.Get(), from.parts.back(), toParent.Get(), to, NodesUnder(Key(from)),
                 "rename")) {
        throw errno == EEXIST ? ApiError::Device(code::kExists, "already exists: " + to.shown)
                              : IoError("cannot rename " + from.shown);
    }
    safefs::Sync(fromParent.Get());
    TakeNodes(Key(from));
    SaveLocked();
    return id;
}

std::vector<FileArea::DirError> FileArea::CreateDirs(const std::string& category,
                                                     const std::string& parent,
                                                     const std::vector<std::string>& dirs) {
    std::lock_guard lock(m_mutex);
    const auto base = Existing(category, parent);
    std::vector<DirError> errors;
    for (const auto& dir : dirs) {
        try {
            const auto at = Resolve(category, VirtualPath::Join(base.shown, dir));
            // "/mnt/usb/..." under the root names the USB area: not under the parent.
            if (at.area != base.area || !VirtualPath::IsWithin(at.inner, base.inner)) {
                throw ApiError::Device(code::kBadPath, "not under " + base.shown + ": " + dir);
            }
            auto folder = Folder(base);
            auto walk = base;
            bool blocked = false;
            for (std::size_t i = base.parts.size(); i < at.parts.size() && !blocked; ++i) {
                const auto& part = at.parts[i];
                walk.parts.push_back(part);
                walk.inner = VirtualPath::Join(walk.inner, part);
                walk.shown = VirtualPath::Join(walk.shown, part);
                if (::mkdirat(folder.Get(), part.c_str(), 0755) == 0) {
                    safefs::Sync(folder.Get());
                } else if (errno != EEXIST) {
                    throw IoError("cannot make " + walk.shown);
                }
                UniqueFd next(::openat(folder.Get(), part.c_str(), kDirFlags));
                if (!next.Valid()) {
                    if (safefs::InfoAt(folder.Get(), part).isLink) {
                        throw LinkInTheWay(walk.shown);
                    }
                    blocked = true; // a file is in the way
                    break;
                }
                folder = std::move(next);
                NodeFor(walk);
            }
            if (blocked) {
                errors.push_back({at.shown, code::kExists});
            }
        } catch (const ApiError& e) {
            errors.push_back({dir, e.Code()});
        }
    }
    SaveLocked();
    return errors;
}

void FileArea::SetRedundancy(const std::string& category, const std::vector<std::string>& paths,
                             int attr) {
    if (attr != 1 && attr != 2) {
        throw ApiError::BadRequest(code::kBadField, "attr must be 1 (single) or 2 (double)");
    }
    std::lock_guard lock(m_mutex);
    std::vector<Location> targets;
    for (const auto& path : paths) {
        targets.push_back(Existing(category, path)); // all or nothing
    }
    for (const auto& at : targets) {
        NodeFor(at).attr = attr;
    }
    m_dirty = true;
    SaveLocked();
}

void FileArea::SetVisibility(const std::string& category, const std::string& path, int attr) {
    if (attr != 0 && attr != 1) {
        throw ApiError::BadRequest(code::kBadField, "attr must be 0 (hidden) or 1 (visible)");
    }
    std::lock_guard lock(m_mutex);
    NodeFor(Existing(category, path)).visibility = attr;
    m_dirty = true;
    SaveLocked();
}

FileArea::FlatPage FileArea::AllFiles(const std::string& category, const std::string& folder,
                                      std::int64_t offset, std::int64_t limit) {
    CheckPage(offset, limit);
    std::lock_guard lock(m_mutex);
    const auto base = Existing(category, folder);
    const auto fd = Folder(base);
    struct Found {
        std::string relative;
        safefs::Info info;
        std::string hash;
    };
    std::vector<Found> all;
    safefs::Walk(fd.Get(), [&](int, const std::string&, const std::string& relative,
                               const safefs::Info& info) {
        all.push_back({relative, info, {}});
    });
    FlatPage page;
    page.parentDir = VirtualPath::AsFolder(base.shown);
    const auto total = static_cast<std::int64_t>(all.size());
    const auto first = std::min(offset, total);
    const auto last = std::min(first + std::min(limit, kMaxPage), total);
    for (auto i = first; i < last; ++i) {
        const auto& found = all[static_cast<std::size_t>(i)];
        const auto at = Resolve(category, VirtualPath::Join(base.shown, found.relative));
        const auto parent = Parent(at);
        const auto entry = MakeEntry(at, found.info, parent.Get());
        FlatEntry flat;
        flat.type = entry.type;
        flat.fid = entry.id;
        flat.mtime = entry.mtime;
        flat.size = entry.size;
        flat.mime = entry.mime;
        flat.relativePath = found.relative;
        if (entry.type == kTypeFile) {
            const auto file = safefs::OpenFileAt(parent.Get(), at.parts.back(), O_RDONLY);
            flat.hash = file.Valid() ? Sha256Prefix(file.Get(), found.info.size) : "";
        }
        page.entries.push_back(std::move(flat));
    }
    page.hasMore = last < total;
    page.nextOffset = last;
    SaveLocked();
    return page;
}

std::vector<FileArea::UsbDisk> FileArea::UsbDisks() const {
    std::lock_guard lock(m_mutex);
    std::vector<UsbDisk> disks;
    for (const auto& name : safefs::Children(m_usb.Get())) {
        const UniqueFd disk(::openat(m_usb.Get(), name.c_str(), kDirFlags));
        if (!disk.Valid()) {
            continue;
        }
        UsbDisk info;
        info.name = name;
        struct statvfs vfs {};
        if (::fstatvfs(disk.Get(), &vfs) == 0) {
            info.freeSize = static_cast<std::int64_t>(vfs.f_bavail * vfs.f_frsize);
            info.totalSize = static_cast<std::int64_t>(vfs.f_blocks * vfs.f_frsize);
        }
        disks.push_back(info);
    }
    return disks;
}

FileArea::Usage FileArea::ComputeUsage() const {
    std::lock_guard lock(m_mutex);
    Usage usage;
    for (const std::string area : {"user", "public"}) {
        safefs::Walk(RootOf(area), [&](int, const std::string&, const std::string& relative,
                                       const safefs::Info& info) {
            if (info.isDir) {
                return;
            }
            (area == "user" ? usage.user : usage.publicArea) += info.size;
            // The nearest folder (or the file itself) with an attribute decides.
            auto inner = "/" + relative;
            int attr = 1;
            for (;;) {
                const auto found = m_nodes.find(area + ":" + inner);
                if (found != m_nodes.end() && found->second.attr == 2) {
                    attr = 2;
                    break;
                }
                if (inner == "/") {
                    break;
                }
                inner = VirtualPath::Parent(inner);
            }
            (attr == 2 ? usage.dual : usage.single) += info.size;
        });
    }
    return usage;
}

void FileArea::RequireExisting(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    Existing(category, path);
}

void FileArea::RequireDeletable(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    if (Existing(category, path).IsRoot()) {
        throw ApiError::Device(code::kBadPath, "cannot delete the root folder " + path);
    }
}

bool FileArea::Holds(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    try {
        return Present(Resolve(category, path));
    } catch (const ApiError&) {
        return false; // an unknown category holds nothing
    }
}

void FileArea::Recycle(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    if (at.IsRoot()) {
        throw ApiError::Device(code::kBadPath, "cannot delete the root folder " + at.shown);
    }
    const auto parent = Parent(at);
    const auto info = Probe(at);
    const auto entry = MakeEntry(at, info, parent.Get());
    const auto totals = Totals(parent.Get(), at.parts.back(), info);
    StoredBinEntry stored;
    stored.entry.rid = m_nextRid++;
    stored.entry.name = entry.name;
    stored.entry.origin = at.shown;
    stored.entry.category = at.area;
    stored.entry.type = entry.type == kTypeFile ? kTypeFile : kTypeFolder;
    stored.entry.size = totals.bytes;
    stored.entry.count = entry.count;
    stored.entry.dtime = Now();
    stored.entry.mime = entry.mime;
    stored.area = at.area;
    stored.inner = at.inner;
    stored.nodes = TakeNodes(Key(at));
    const auto rid = stored.entry.rid;
    m_bin.emplace(rid, std::move(stored));
    m_dirty = true;
    // The entry is saved before the move: a crash between the two leaves an
    // entry whose content is still at its origin, which the recovery undoes.
    SaveLocked();
    crashpoint::Reach("recycle:before");
    if (!PublishAt(parent.Get(), at.parts.back(), m_binFolder.Get(), std::to_string(rid))) {
        const auto error = errno;
        GiveNodes(Key(at), m_bin[rid].nodes);
        m_bin.erase(rid);
        m_dirty = true;
        SaveLocked();
        throw IoError("cannot recycle " + at.shown, error);
    }
    crashpoint::Reach("recycle:after");
    safefs::Sync(parent.Get());
}

void FileArea::RemoveForever(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    if (at.IsRoot()) {
        throw ApiError::Device(code::kBadPath, "cannot delete the root folder " + at.shown);
    }
    // Out of the tree in one rename, then removed at leisure: a crash leaves
    // it in the staging folder, which the next start clears.
    const auto parent = Parent(at);
    const auto doomed = "gone-" + std::to_string(m_nextStage++) + "-" + std::to_string(::getpid());
    crashpoint::Reach("delete:before");
    if (!PublishAt(parent.Get(), at.parts.back(), m_staging.Get(), doomed)) {
        throw IoError("cannot delete " + at.shown);
    }
    crashpoint::Reach("delete:after");
    safefs::Sync(parent.Get());
    TakeNodes(Key(at));
    m_dirty = true;
    SaveLocked();
    safefs::RemoveTree(m_staging.Get(), doomed);
}

FileArea::BinPage FileArea::ListBin(const std::string& category, std::int64_t offset,
                                    std::int64_t limit) {
    CheckPage(offset, limit);
    std::lock_guard lock(m_mutex);
    std::vector<BinEntry> all;
    // Newest deletions first, the order a recycle bin is shown in.
    for (auto it = m_bin.rbegin(); it != m_bin.rend(); ++it) {
        if (category.empty() || it->second.entry.category == category) {
            all.push_back(it->second.entry);
        }
    }
    BinPage page;
    page.total = static_cast<std::int64_t>(all.size());
    const auto first = std::min(offset, page.total);
    const auto last = std::min(first + std::min(limit, kMaxPage), page.total);
    page.entries.assign(all.begin() + first, all.begin() + last);
    page.hasMore = last < page.total;
    page.nextOffset = last;
    return page;
}

std::vector<std::int64_t> FileArea::BinIds(const std::string& category) {
    std::lock_guard lock(m_mutex);
    std::vector<std::int64_t> ids;
    for (const auto& [rid, stored] : m_bin) {
        if (category.empty() || stored.entry.category == category) {
            ids.push_back(rid);
        }
    }
    return ids;
}

std::string FileArea::Restore(std::int64_t rid) {
    std::lock_guard lock(m_mutex);
    const auto found = m_bin.find(rid);
    if (found == m_bin.end()) {
        throw ApiError::Device(code::kNoSuchFile, "no recycle bin entry " + std::to_string(rid));
    }
    auto& stored = found->second;
    const auto category = stored.area == "usb" ? std::string() : stored.area;
    const auto origin = Resolve(category, stored.entry.origin);
    // The origin's folders may be gone meanwhile: made again, never through a link.
    auto folder = UniqueFd(::fcntl(RootOf(origin.area), F_DUPFD_CLOEXEC, 0));
    auto walk = Resolve(category, origin.area == "usb" ? kUsbMount : "/");
    for (std::size_t i = 0; i + 1 < origin.parts.size(); ++i) {
        const auto& part = origin.parts[i];
        walk.parts.push_back(part);
        walk.inner = VirtualPath::Join(walk.inner, part);
        walk.shown = VirtualPath::Join(walk.shown, part);
        if (::mkdirat(folder.Get(), part.c_str(), 0755) == 0) {
            safefs::Sync(folder.Get());
            NodeFor(walk);
        }
        UniqueFd next(::openat(folder.Get(), part.c_str(), kDirFlags));
        if (!next.Valid()) {
            throw safefs::InfoAt(folder.Get(), part).isLink
                ? LinkInTheWay(walk.shown)
                : ApiError::Device(code::kExists, "in the way of the restore: " + walk.shown);
        }
        folder = std::move(next);
    }
    const auto name = FreeName(folder.Get(), stored.entry.name);
    const auto target = Resolve(category, VirtualPath::Join(walk.shown, name));
    // Where it goes is saved first, so a crash after the move still finds
    // the entry's metadata a home.
    stored.restoringTo = target.inner;
    m_dirty = true;
    SaveLocked();
    crashpoint::Reach("restore:before");
    if (!PublishAt(m_binFolder.Get(), std::to_string(rid), folder.Get(), name)) {
        const auto error = errno;
        stored.restoringTo.clear();
        m_dirty = true;
        SaveLocked();
        throw IoError("cannot restore " + stored.entry.origin, error);
    }
    crashpoint::Reach("restore:after");
    safefs::Sync(m_binFolder.Get());
    GiveNodes(Key(target), stored.nodes);
    m_bin.erase(found);
    m_dirty = true;
    SaveLocked();
    return target.shown;
}

void FileArea::Purge(std::int64_t rid) {
    std::lock_guard lock(m_mutex);
    const auto found = m_bin.find(rid);
    if (found == m_bin.end()) {
        throw ApiError::Device(code::kNoSuchFile, "no recycle bin entry " + std::to_string(rid));
    }
    // The entry goes first: content left by a crash is named by no entry,
    // and the recovery removes it.
    crashpoint::Reach("purge:before");
    m_bin.erase(found);
    m_dirty = true;
    SaveLocked();
    crashpoint::Reach("purge:after");
    if (!safefs::RemoveTree(m_binFolder.Get(), std::to_string(rid))) {
        throw IoError("cannot remove recycle bin entry " + std::to_string(rid));
    }
}

std::string FileArea::BinOrigin(std::int64_t rid) {
    std::lock_guard lock(m_mutex);
    const auto found = m_bin.find(rid);
    return found == m_bin.end() ? std::string() : found->second.entry.origin;
}

bool FileArea::InBin(std::int64_t rid) {
    std::lock_guard lock(m_mutex);
    return m_bin.count(rid) != 0;
}

std::vector<FileArea::CopyStep> FileArea::PlanCopy(const std::string& srcCategory,
                                                   const std::string& srcPath,
                                                   const std::string& dstCategory,
                                                   const std::string& dstFolder) {
    std::lock_guard lock(m_mutex);
    const auto src = Existing(srcCategory, srcPath);
    const auto dst = Existing(dstCategory, dstFolder);
    if (!Probe(dst).isDir) {
        throw ApiError::Device(code::kBadPath, "not a folder: " + dst.shown);
    }
    if (src.area == dst.area && VirtualPath::IsWithin(dst.inner, src.inner)) {
        throw ApiError::Device(code::kBadPath, "cannot copy a folder into itself");
    }
    const auto stage = "copy-" + std::to_string(m_nextStage++) + "-" + std::to_string(::getpid());
    const auto name = src.IsRoot() ? std::string("root") : src.parts.back();
    CopyStep top;
    top.makeFolder = Probe(src).isDir;
    top.first = true;
    top.srcCategory = srcCategory;
    top.srcPath = src.shown;
    top.stage = stage;
    top.staged = name;
    top.dstCategory = dstCategory;
    top.dstFolder = dst.shown;
    top.topSource = src.shown;
    std::vector<CopyStep> steps{top};
    if (top.makeFolder) {
        safefs::Walk(Folder(src).Get(), [&](int, const std::string&, const std::string& relative,
                                            const safefs::Info& info) {
            auto step = top;
            step.first = false;
            step.makeFolder = info.isDir;
            step.srcPath = VirtualPath::Join(src.shown, relative);
            step.staged = name + "/" + relative;
            steps.push_back(step);
        });
    }
    steps.back().last = true;
    return steps;
}

void FileArea::RunCopyStep(const CopyStep& step, const Placing& placing) {
    std::lock_guard lock(m_mutex);
    if (step.first && ::mkdirat(m_staging.Get(), step.stage.c_str(), 0755) != 0 &&
        errno != EEXIST) {
        throw IoError("cannot stage a copy");
    }
    const auto stagedParts = VirtualPath::Components(VirtualPath::Normalize("/" + step.staged));
    std::vector<std::string> parts{step.stage};
    parts.insert(parts.end(), stagedParts.begin(), stagedParts.end() - 1);
    UniqueFd into;
    try {
        into = safefs::OpenFolder(m_staging.Get(), parts, parts.size());
    } catch (const safefs::WalkError&) {
        throw ApiError::Device(code::kIoError, "the copy's staging folder is gone");
    }
    const auto& leaf = stagedParts.back();
    if (step.makeFolder) {
        if (::mkdirat(into.Get(), leaf.c_str(), 0755) != 0 && errno != EEXIST) {
            throw IoError("cannot copy " + step.srcPath);
        }
    } else {
        const auto src = Existing(step.srcCategory, step.srcPath);
        const auto from = safefs::OpenFileAt(Parent(src).Get(), src.parts.back(), O_RDONLY);
        struct stat st {};
        if (!from.Valid() || ::fstat(from.Get(), &st) != 0) {
            throw IoError("cannot read " + src.shown);
        }
        const auto to = safefs::OpenFileAt(into.Get(), leaf, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (!to.Valid() || !safefs::CopyBytes(from.Get(), to.Get(), st.st_size) ||
            ::fsync(to.Get()) != 0) {
            throw IoError("cannot copy " + step.srcPath);
        }
    }
    if (!step.last) {
        return;
    }
    // Everything is staged: one rename puts the whole copy in place, with the
    // attributes of what it copies and ids of its own.
    const auto dst = Existing(step.dstCategory, step.dstFolder);
    const auto dstFd = Folder(dst);
    const auto stageFd = safefs::OpenFolder(m_staging.Get(), {step.stage}, 1);
    const auto topName = VirtualPath::Components("/" + step.staged).front();
    const auto sourceKey = Key(Resolve(step.srcCategory, step.topSource));
    std::map<std::string, Node> nodes;
    const auto copyOf = [&](const std::string& relative) {
        const auto from = m_nodes.find(sourceKey + relative);
        auto& node = nodes[relative];
        node.id = m_nextId++;
        node.attr = from == m_nodes.end() ? 1 : from->second.attr;
    };
    copyOf("");
    const UniqueFd top(::openat(stageFd.Get(), topName.c_str(), kDirFlags));
    if (top.Valid()) {
        safefs::Walk(top.Get(), [&](int, const std::string&, const std::string& relative,
                                    const safefs::Info&) { copyOf("/" + relative); });
    }
    Place(stageFd.Get(), topName, dst, dstFd.Get(),
          VirtualPath::Name(step.topSource == "/" ? "/root" : step.topSource), nodes, placing,
          "copy");
    ::unlinkat(m_staging.Get(), step.stage.c_str(), AT_REMOVEDIR);
}

std::string FileArea::Move(const std::string& srcCategory, const std::string& srcPath,
                           const std::string& dstCategory, const std::string& dstFolder,
                           const Placing& placing) {
    std::lock_guard lock(m_mutex);
    const auto src = Existing(srcCategory, srcPath);
    const auto dstDir = Existing(dstCategory, dstFolder);
    if (src.IsRoot() || !Probe(dstDir).isDir) {
        throw ApiError::Device(code::kBadPath, "cannot move " + src.shown + " to " + dstDir.shown);
    }
    if (src.area == dstDir.area && VirtualPath::IsWithin(dstDir.inner, src.inner)) {
        throw ApiError::Device(code::kBadPath, "cannot move a folder into itself");
    }
    if (src.area == dstDir.area && VirtualPath::Parent(src.inner) == dstDir.inner) {
        return src.shown; // already there
    }
    // One file system holds the whole data folder, so this is one rename.
    const auto from = Parent(src);
    const auto to = Folder(dstDir);
    const auto dst = Place(from.Get(), src.parts.back(), dstDir, to.Get(), src.parts.back(),
                           NodesUnder(Key(src)), placing, "move");
    safefs::Sync(from.Get());
    TakeNodes(Key(src));
    SaveLocked();
    return dst.shown;
}

std::string FileArea::Import(const fs::path& source, const std::string& name,
                             const std::string& dstCategory, const std::string& dstFolder) {
    // The name comes from the client; it must be one plain component.
    const auto clean = VirtualPath::Normalize("/" + name);
    if (VirtualPath::Parent(clean) != "/") {
        throw ApiError::Device(code::kBadPath, "bad file name \"" + name + "\"");
    }
    const UniqueFd from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!from.Valid() || ::fstat(from.Get(), &st) != 0) {
        throw IoError("cannot read the gallery file");
    }
    std::lock_guard lock(m_mutex);
    const auto dstDir = Existing(dstCategory, dstFolder);
    const auto to = Folder(dstDir);
    std::string staged;
    const auto file = NewStagingFile(staged);
    if (!safefs::CopyBytes(from.Get(), file.Get(), st.st_size) || ::fsync(file.Get()) != 0) {
        safefs::RemoveTree(m_staging.Get(), staged);
        throw IoError("cannot copy to " + dstDir.shown);
    }
    try {
        // A new file: a new id, the default attributes.
        return Place(m_staging.Get(), staged, dstDir, to.Get(), clean.substr(1),
                     {{"", {m_nextId++}}}, {}, "import")
            .shown;
    } catch (...) {
        safefs::RemoveTree(m_staging.Get(), staged);
        throw;
    }
}

UniqueFd FileArea::OpenFile(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    auto fd =
        at.IsRoot() ? UniqueFd() : safefs::OpenFileAt(Parent(at).Get(), at.parts.back(), O_RDONLY);
    if (!fd.Valid()) {
        throw ApiError::Device(code::kBadPath, "not a file: " + at.shown);
    }
    return fd;
}

std::int64_t FileArea::WriteContent(const std::string& category, const std::string& path,
                                    std::int64_t offset, std::optional<std::uint64_t> length,
                                    const Reader& read) {
    std::string staged;
    UniqueFd file;
    struct stat held {};
    {
        std::lock_guard lock(m_mutex);
        const auto at = Resolve(category, path);
        const auto info = at.IsRoot() ? safefs::Info{} : Probe(at);
        if (at.IsRoot() || info.isDir) {
            throw ApiError::Device(code::kBadPath, "not a file: " + at.shown);
        }
        const auto parent = Parent(at);
        if (offset > 0) {
            const auto old = safefs::OpenFileAt(parent.Get(), at.parts.back(), O_RDONLY);
            if (!old.Valid() || ::fstat(old.Get(), &held) != 0 || held.st_size != offset) {
                throw ApiError(409, code::kBadField,
                               "the device holds " + std::to_string(info.size) + " bytes of " +
                                   at.shown + ", not " + std::to_string(offset));
            }
            file = NewStagingFile(staged);
            if (!safefs::CopyBytes(old.Get(), file.Get(), offset)) {
                safefs::RemoveTree(m_staging.Get(), staged);
                throw IoError("cannot stage " + at.shown);
            }
        } else {
            file = NewStagingFile(staged);
        }
    }
    // The body arrives without the lock held: other requests go on meanwhile.
    std::uint64_t received = 0;
    try {
        std::vector<char> buffer(64 * 1024);
        while (const auto n = read(buffer.data(), buffer.size())) {
            if (::write(file.Get(), buffer.data(), n) != static_cast<ssize_t>(n)) {
                throw IoError("cannot write " + path);
            }
            received += n;
        }
        if (length && received != *length) {
            throw ApiError::BadRequest(code::kBadField, "the body does not fill Content-Range");
        }
        if (::fsync(file.Get()) != 0) {
            throw IoError("cannot write " + path);
        }
    } catch (...) {
        std::lock_guard lock(m_mutex);
        safefs::RemoveTree(m_staging.Get(), staged);
        throw;
    }
    std::lock_guard lock(m_mutex);
    try {
        const auto at = Resolve(category, path);
        const auto parent = Parent(at);
        if (offset > 0) {
            // What was appended to must still be the version the body continues.
            struct stat now {};
            const auto old = safefs::OpenFileAt(parent.Get(), at.parts.back(), O_RDONLY);
            if (!old.Valid() || ::fstat(old.Get(), &now) != 0 || now.st_ino != held.st_ino ||
                now.st_size != held.st_size || now.st_mtim.tv_nsec != held.st_mtim.tv_nsec ||
                now.st_mtim.tv_sec != held.st_mtim.tv_sec) {
                throw ApiError(409, code::kBadField, at.shown + " changed during the upload");
            }
        }
        if (Probe(at).isDir) {
            throw ApiError::Device(code::kBadPath, "not a file: " + at.shown);
        }
        if (::renameat(m_staging.Get(), staged.c_str(), parent.Get(), at.parts.back().c_str()) !=
            0) {
            throw IoError("cannot write " + at.shown);
        }
        safefs::Sync(parent.Get());
        NodeFor(at);
        SaveLocked();
    } catch (...) {
        safefs::RemoveTree(m_staging.Get(), staged);
        throw;
    }
    return offset + static_cast<std::int64_t>(received);
}

std::map<std::string, FileArea::Node> FileArea::NodesUnder(const std::string& key) const {
    std::map<std::string, Node> under;
    for (auto it = m_nodes.lower_bound(key); it != m_nodes.end(); ++it) {
        const auto& name = it->first;
        if (name.compare(0, key.size(), key) != 0) {
            break;
        }
        const auto rest = name.substr(key.size());
        // A sibling that shares the prefix, such as "/a" and "/ab", is not under it.
        if (rest.empty() || rest.front() == '/') {
            under.emplace(rest, it->second);
        }
    }
    return under;
}

std::map<std::string, FileArea::Node> FileArea::TakeNodes(const std::string& key) {
    auto taken = NodesUnder(key);
    for (const auto& [relative, node] : taken) {
        m_nodes.erase(key + relative);
    }
    m_dirty = true;
    return taken;
}

void FileArea::GiveNodes(const std::string& key, const std::map<std::string, Node>& nodes) {
    for (const auto& [relative, node] : nodes) {
        m_nodes[key + relative] = node;
    }
    m_dirty = true;
}

bool FileArea::PlaceAt(int from, const std::string& name, int to, const Location& at,
                       const std::map<std::string, Node>& nodes, const std::string& kind) {
    GiveNodes(Key(at), nodes);
    SaveLocked();
    crashpoint::Reach(kind + ":before");
    if (!PublishAt(from, name, to, at.parts.back())) {
        const auto error = errno;
        // The name was free, so whatever took it meanwhile has no metadata yet.
        TakeNodes(Key(at));
        SaveLocked();
        errno = error;
        return false;
    }
    crashpoint::Reach(kind + ":after");
    return true;
}

FileArea::Location FileArea::Place(int from, const std::string& name, const Location& folder,
                                   int to, const std::string& wanted,
                                   const std::map<std::string, Node>& nodes, const Placing& placing,
                                   const std::string& kind) {
    for (;;) {
        const auto at = Child(folder, FreeName(to, wanted));
        if (placing) {
            placing(at.shown);
        }
        if (PlaceAt(from, name, to, at, nodes, kind)) {
            return at;
        }
        if (errno != EEXIST) {
            throw IoError("cannot put " + at.shown + " in place");
        }
    }
}

std::string FileArea::MimeOf(const std::string& name) {
    static const std::map<std::string, std::string> kTypes = {
        {".jpg", "image/jpeg"},      {".jpeg", "image/jpeg"},       {".png", "image/png"},
        {".gif", "image/gif"},       {".heic", "image/heic"},       {".mp4", "video/mp4"},
        {".mov", "video/quicktime"}, {".mp3", "audio/mpeg"},        {".flac", "audio/flac"},
        {".txt", "text/plain"},      {".md", "text/markdown"},      {".pdf", "application/pdf"},
        {".zip", "application/zip"}, {".json", "application/json"},
    };
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) {
        return "application/octet-stream";
    }
    const auto found = kTypes.find(Lower(name.substr(dot)));
    return found == kTypes.end() ? "application/octet-stream" : found->second;
}

void FileArea::SaveLocked() {
    if (!m_dirty) {
        return;
    }
    Json::Value doc(Json::objectValue);
    doc["nextId"] = static_cast<Json::Int64>(m_nextId);
    doc["nextRid"] = static_cast<Json::Int64>(m_nextRid);
    auto& nodes = doc["nodes"] = Json::Value(Json::objectValue);
    for (const auto& [key, node] : m_nodes) {
        Json::Value item;
        item["id"] = static_cast<Json::Int64>(node.id);
        item["attr"] = node.attr;
        item["visibility"] = node.visibility;
        nodes[key] = item;
    }
    auto& bin = doc["bin"] = Json::Value(Json::arrayValue);
    for (const auto& [rid, stored] : m_bin) {
        Json::Value item;
        item["rid"] = static_cast<Json::Int64>(rid);
        item["name"] = stored.entry.name;
        item["origin"] = stored.entry.origin;
        item["category"] = stored.entry.category;
        item["type"] = stored.entry.type;
        item["size"] = static_cast<Json::Int64>(stored.entry.size);
        item["count"] = static_cast<Json::Int64>(stored.entry.count);
        item["dtime"] = static_cast<Json::Int64>(stored.entry.dtime);
        item["mime"] = stored.entry.mime;
        item["area"] = stored.area;
        item["inner"] = stored.inner;
        item["restoringTo"] = stored.restoringTo;
        auto& kept = item["nodes"] = Json::Value(Json::objectValue);
        for (const auto& [relative, node] : stored.nodes) {
            Json::Value n;
            n["id"] = static_cast<Json::Int64>(node.id);
            n["attr"] = node.attr;
            n["visibility"] = node.visibility;
            kept[relative] = n;
        }
        bin.append(item);
    }
    m_state.Save(doc);
    m_dirty = false;
}

void FileArea::Load() {
    const auto doc = m_state.Load();
    if (doc.isNull()) {
        return;
    }
    const auto readNode = [](const Json::Value& v) {
        Node node;
        node.id = v["id"].asInt64();
        node.attr = v["attr"].asInt();
        node.visibility = v["visibility"].asInt();
        return node;
    };
    m_nextId = doc["nextId"].asInt64();
    m_nextRid = doc["nextRid"].asInt64();
    for (const auto& key : doc["nodes"].getMemberNames()) {
        m_nodes[key] = readNode(doc["nodes"][key]);
    }
    for (const auto& item : doc["bin"]) {
        StoredBinEntry stored;
        stored.entry.rid = item["rid"].asInt64();
        stored.entry.name = item["name"].asString();
        stored.entry.origin = item["origin"].asString();
        stored.entry.category = item["category"].asString();
        stored.entry.type = item["type"].asInt();
        stored.entry.size = item["size"].asInt64();
        stored.entry.count = item["count"].asInt64();
        stored.entry.dtime = item["dtime"].asInt64();
        stored.entry.mime = item["mime"].asString();
        stored.area = item["area"].asString();
        stored.inner = item["inner"].asString();
        stored.restoringTo = item["restoringTo"].asString();
        for (const auto& relative : item["nodes"].getMemberNames()) {
            stored.nodes[relative] = readNode(item["nodes"][relative]);
        }
        m_bin.emplace(stored.entry.rid, std::move(stored));
    }
}

} // namespace zeqemu
