#include "emulator/FileArea.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"
#include "emulator/Sha256.h"
#include "emulator/VirtualPath.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace fs = std::filesystem;

namespace zeqemu {

namespace {

constexpr std::int64_t kMaxPage = 1000;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

struct Stat {
    bool exists = false;
    bool isDir = false;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
};

Stat StatOf(const fs::path& real) {
    struct stat st {};
    Stat out;
    if (::lstat(real.c_str(), &st) != 0) {
        return out;
    }
    out.exists = true;
    out.isDir = S_ISDIR(st.st_mode);
    out.size = out.isDir ? 0 : static_cast<std::int64_t>(st.st_size);
    out.mtime = static_cast<std::int64_t>(st.st_mtime);
    return out;
}

// Sorted, so listings and paging are stable between calls.
std::vector<std::string> ChildNames(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct TreeTotals {
    std::int64_t bytes = 0;
    std::int64_t dirs = 0;
    std::int64_t files = 0;
};

TreeTotals Totals(const fs::path& root) {
    TreeTotals totals;
    const auto top = StatOf(root);
    if (!top.isDir) {
        totals.bytes = top.size;
        totals.files = top.exists ? 1 : 0;
        return totals;
    }
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        const auto st = StatOf(it->path());
        if (st.isDir) {
            ++totals.dirs;
        } else {
            ++totals.files;
            totals.bytes += st.size;
        }
    }
    return totals;
}

std::string Sha256Of(const fs::path& file) {
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
        return {};
    }
    return Sha256Prefix(fd.Get(), st.st_size);
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

ApiError NoSuchFile(const std::string& path) {
    return ApiError::Device(code::kNoSuchFile, "no such file or folder: " + path);
}

ApiError IoError(const std::string& what, const std::error_code& ec) {
    return ApiError::Device(code::kIoError, what + ": " + ec.message());
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
    : m_filesRoot(dataDir / "files"), m_usbRoot(dataDir / "usb"), m_binRoot(dataDir / "recycle"),
      m_state(dataDir / "state" / "files.json") {
    fs::create_directories(m_filesRoot / "user");
    fs::create_directories(m_filesRoot / "public");
    fs::create_directories(m_usbRoot);
    fs::create_directories(m_binRoot);
    Load();
}

bool FileArea::IsEmpty() const {
    std::lock_guard lock(m_mutex);
    return ChildNames(m_filesRoot / "user").empty() && m_nodes.empty();
}

FileArea::Location FileArea::Resolve(const std::string& category, const std::string& path) const {
    Location at;
    at.shown = VirtualPath::Normalize(path);
    if (VirtualPath::IsWithin(at.shown, kUsbMount)) {
        at.area = "usb";
        at.inner = at.shown == kUsbMount ? "/" : at.shown.substr(std::string(kUsbMount).size());
        at.real = m_usbRoot;
    } else {
        if (category.empty() || category == "user") {
            at.area = "user";
        } else if (category == "public") {
            at.area = "public";
        } else {
            throw ApiError::Device(code::kBadCategory, "unknown category \"" + category + "\"");
        }
        at.inner = at.shown;
        at.real = m_filesRoot / at.area;
    }
    for (const auto& part : VirtualPath::Components(at.inner)) {
        at.real /= part;
    }
    return at;
}

FileArea::Location FileArea::Existing(const std::string& category, const std::string& path) const {
    auto at = Resolve(category, path);
    if (!StatOf(at.real).exists) {
        throw NoSuchFile(at.shown);
    }
    return at;
}

FileArea::Node& FileArea::NodeFor(const Location& at) {
    auto& node = m_nodes[Key(at)];
    if (node.id == 0) {
        node.id = m_nextId++;
        m_dirty = true;
    }
    return node;
}

FileArea::Entry FileArea::MakeEntry(const Location& at) {
    const auto st = StatOf(at.real);
    const auto& node = NodeFor(at);
    Entry entry;
    entry.id = node.id;
    entry.attr = node.attr;
    entry.visibility = node.visibility;
    entry.name = VirtualPath::Name(at.shown);
    entry.path = at.shown;
    entry.category = at.area;
    entry.mtime = st.mtime;
    if (st.isDir) {
        const bool disk = at.area == "usb" && VirtualPath::Parent(at.inner) == "/";
        entry.type = disk ? kTypeUsbDisk : kTypeFolder;
        entry.count = static_cast<std::int64_t>(ChildNames(at.real).size());
        if (disk) {
            struct statvfs vfs {};
            if (::statvfs(at.real.c_str(), &vfs) == 0) {
                entry.freeSize = static_cast<std::int64_t>(vfs.f_bavail * vfs.f_frsize);
            }
        }
    } else {
        entry.type = kTypeFile;
        entry.size = st.size;
        entry.mime = MimeOf(entry.name);
    }
    entry.version = std::to_string(st.mtime) + "-" + std::to_string(st.size);
    return entry;
}

std::string FileArea::FreeName(const Location& folder, const std::string& name) const {
    const auto taken = [&](const std::string& candidate) {
        const auto real = folder.real / candidate;
        return StatOf(real).exists || m_reservedCopyTargets.count(real) > 0;
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

FileArea::ListPage FileArea::List(const ListQuery& query) {
    CheckPage(query.offset, query.limit);
    std::lock_guard lock(m_mutex);
    const auto folder = Existing(query.category, query.folder);
    if (!StatOf(folder.real).isDir) {
        throw ApiError::Device(code::kBadPath, "not a folder: " + folder.shown);
    }
    std::vector<Entry> entries;
    for (const auto& name : ChildNames(folder.real)) {
        auto entry = MakeEntry(Resolve(query.category, VirtualPath::Join(folder.shown, name)));
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
    const auto entry = MakeEntry(at);
    const auto totals = Totals(at.real);
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
    if (at.inner == "/") {
        throw ApiError::Device(code::kExists, "the root folder exists");
    }
    if (!StatOf(at.real.parent_path()).isDir) {
        throw NoSuchFile(VirtualPath::Parent(at.shown));
    }
    std::error_code ec;
    if (!fs::create_directory(at.real, ec)) {
        if (ec) {
            throw IoError("cannot make " + at.shown, ec);
        }
        throw ApiError::Device(code::kExists, "already exists: " + at.shown);
    }
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
    if (from.inner == "/" || to.inner == "/" || from.area != to.area) {
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
    if (StatOf(to.real).exists) {
        throw ApiError::Device(code::kExists, "already exists: " + to.shown);
    }
    if (!StatOf(to.real.parent_path()).isDir) {
        throw NoSuchFile(VirtualPath::Parent(to.shown));
    }
    std::error_code ec;
    fs::rename(from.real, to.real, ec);
    if (ec) {
        throw IoError("cannot rename " + from.shown, ec);
    }
    MoveNodes(Key(from), Key(to));
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
            std::error_code ec;
            fs::create_directories(at.real, ec);
            if (ec || !StatOf(at.real).isDir) {
                errors.push_back({at.shown, code::kExists});
                continue;
            }
            // Ids for every level, so the new folders list with stable ids.
            auto walk = base.shown;
            for (const auto& part : VirtualPath::Components(VirtualPath::Normalize("/" + dir))) {
                walk = VirtualPath::Join(walk, part);
                NodeFor(Resolve(category, walk));
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
    std::vector<std::string> relatives;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(base.real, ec), end; !ec && it != end;
         it.increment(ec)) {
        relatives.push_back(fs::relative(it->path(), base.real).generic_string());
    }
    std::sort(relatives.begin(), relatives.end());
    FlatPage page;
    page.parentDir = VirtualPath::AsFolder(base.shown);
    const auto total = static_cast<std::int64_t>(relatives.size());
    const auto first = std::min(offset, total);
    const auto last = std::min(first + std::min(limit, kMaxPage), total);
    for (auto i = first; i < last; ++i) {
        const auto& relative = relatives[static_cast<std::size_t>(i)];
        const auto at = Resolve(category, VirtualPath::Join(base.shown, relative));
        const auto entry = MakeEntry(at);
        FlatEntry flat;
        flat.type = entry.type;
        flat.fid = entry.id;
        flat.mtime = entry.mtime;
        flat.size = entry.size;
        flat.mime = entry.mime;
        flat.relativePath = relative;
        if (entry.type == kTypeFile) {
            flat.hash = Sha256Of(at.real);
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
    for (const auto& name : ChildNames(m_usbRoot)) {
        if (!StatOf(m_usbRoot / name).isDir) {
            continue;
        }
        UsbDisk disk;
        disk.name = name;
        struct statvfs vfs {};
        if (::statvfs((m_usbRoot / name).c_str(), &vfs) == 0) {
            disk.freeSize = static_cast<std::int64_t>(vfs.f_bavail * vfs.f_frsize);
            disk.totalSize = static_cast<std::int64_t>(vfs.f_blocks * vfs.f_frsize);
        }
        disks.push_back(disk);
    }
    return disks;
}

FileArea::Usage FileArea::ComputeUsage() const {
    std::lock_guard lock(m_mutex);
    Usage usage;
    for (const std::string area : {"user", "public"}) {
        const auto root = m_filesRoot / area;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end;
             it.increment(ec)) {
            const auto st = StatOf(it->path());
            if (st.isDir) {
                continue;
            }
            (area == "user" ? usage.user : usage.publicArea) += st.size;
            // The nearest folder (or the file itself) with an attribute decides.
            auto inner = "/" + fs::relative(it->path(), root).generic_string();
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
            (attr == 2 ? usage.dual : usage.single) += st.size;
        }
    }
    return usage;
}

void FileArea::RequireExisting(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    Existing(category, path);
}

void FileArea::Recycle(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    if (at.inner == "/") {
        throw ApiError::Device(code::kBadPath, "cannot delete the root folder");
    }
    const auto entry = MakeEntry(at);
    const auto totals = Totals(at.real);
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
    std::error_code ec;
    fs::rename(at.real, m_binRoot / std::to_string(stored.entry.rid), ec);
    if (ec) {
        --m_nextRid;
        throw IoError("cannot recycle " + at.shown, ec);
    }
    stored.nodes = TakeNodes(Key(at));
    m_bin.emplace(stored.entry.rid, std::move(stored));
    m_dirty = true;
    SaveLocked();
}

void FileArea::RemoveForever(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    if (at.inner == "/") {
        throw ApiError::Device(code::kBadPath, "cannot delete the root folder");
    }
    std::error_code ec;
    fs::remove_all(at.real, ec);
    if (ec) {
        throw IoError("cannot delete " + at.shown, ec);
    }
    TakeNodes(Key(at));
    m_dirty = true;
    SaveLocked();
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
    const auto& stored = found->second;
    const auto category = stored.area == "usb" ? std::string() : stored.area;
    const auto originParent = Resolve(category, VirtualPath::Parent(stored.entry.origin));
    std::error_code ec;
    fs::create_directories(originParent.real, ec);
    const auto name = FreeName(originParent, stored.entry.name);
    const auto target = Resolve(category, VirtualPath::Join(originParent.shown, name));
    fs::rename(m_binRoot / std::to_string(rid), target.real, ec);
    if (ec) {
        throw IoError("cannot restore " + stored.entry.origin, ec);
    }
    const auto key = Key(target);
    for (const auto& [relative, node] : stored.nodes) {
        m_nodes[key + relative] = node;
    }
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
    std::error_code ec;
    fs::remove_all(m_binRoot / std::to_string(rid), ec);
    if (ec) {
        throw IoError("cannot remove recycle bin entry " + std::to_string(rid), ec);
    }
    m_bin.erase(found);
    m_dirty = true;
    SaveLocked();
}

std::string FileArea::BinOrigin(std::int64_t rid) {
    std::lock_guard lock(m_mutex);
    const auto found = m_bin.find(rid);
    return found == m_bin.end() ? std::string() : found->second.entry.origin;
}

std::vector<FileArea::CopyStep> FileArea::PlanCopy(const std::string& srcCategory,
                                                   const std::string& srcPath,
                                                   const std::string& dstCategory,
                                                   const std::string& dstFolder) {
    std::lock_guard lock(m_mutex);
    const auto src = Existing(srcCategory, srcPath);
    const auto dst = Existing(dstCategory, dstFolder);
    if (!StatOf(dst.real).isDir) {
        throw ApiError::Device(code::kBadPath, "not a folder: " + dst.shown);
    }
    if (src.area == dst.area && VirtualPath::IsWithin(dst.inner, src.inner)) {
        throw ApiError::Device(code::kBadPath, "cannot copy a folder into itself");
    }
    const auto top = VirtualPath::Join(dst.shown, FreeName(dst, VirtualPath::Name(src.shown)));
    m_reservedCopyTargets.insert(Resolve(dstCategory, top).real);
    std::vector<CopyStep> steps;
    const bool folder = StatOf(src.real).isDir;
    steps.push_back({folder, srcCategory, src.shown, dstCategory, top});
    if (folder) {
        std::vector<std::string> relatives;
        std::error_code ec;
        for (fs::recursive_directory_iterator it(src.real, ec), end; !ec && it != end;
             it.increment(ec)) {
            relatives.push_back(fs::relative(it->path(), src.real).generic_string());
        }
        // Sorted, a folder comes before everything inside it.
        std::sort(relatives.begin(), relatives.end());
        for (const auto& relative : relatives) {
            steps.push_back({StatOf(src.real / relative).isDir, srcCategory,
                             VirtualPath::Join(src.shown, relative), dstCategory,
                             VirtualPath::Join(top, relative)});
        }
    }
    return steps;
}

void FileArea::RunCopyStep(const CopyStep& step) {
    std::lock_guard lock(m_mutex);
    const auto dst = Resolve(step.dstCategory, step.dstPath);
    m_reservedCopyTargets.erase(dst.real);
    std::error_code ec;
    if (step.makeFolder) {
        fs::create_directory(dst.real, ec);
    } else {
        const auto src = Existing(step.srcCategory, step.srcPath);
        fs::copy_file(src.real, dst.real, fs::copy_options::none, ec);
        if (!ec) {
            NodeFor(dst).attr = NodeFor(src).attr;
        }
    }
    if (ec) {
        throw IoError("cannot copy to " + dst.shown, ec);
    }
    NodeFor(dst);
    SaveLocked();
}

std::string FileArea::Move(const std::string& srcCategory, const std::string& srcPath,
                           const std::string& dstCategory, const std::string& dstFolder) {
    std::lock_guard lock(m_mutex);
    const auto src = Existing(srcCategory, srcPath);
    const auto dstDir = Existing(dstCategory, dstFolder);
    if (src.inner == "/" || !StatOf(dstDir.real).isDir) {
        throw ApiError::Device(code::kBadPath, "cannot move " + src.shown + " to " + dstDir.shown);
    }
    if (src.area == dstDir.area && VirtualPath::IsWithin(dstDir.inner, src.inner)) {
        throw ApiError::Device(code::kBadPath, "cannot move a folder into itself");
    }
    if (src.area == dstDir.area && VirtualPath::Parent(src.inner) == dstDir.inner) {
        return src.shown; // already there
    }
    const auto dst =
        Resolve(dstCategory,
                VirtualPath::Join(dstDir.shown, FreeName(dstDir, VirtualPath::Name(src.shown))));
    std::error_code ec;
    fs::rename(src.real, dst.real, ec);
    if (ec == std::errc::cross_device_link) {
        ec.clear();
        fs::copy(src.real, dst.real, fs::copy_options::recursive, ec);
        if (!ec) {
            fs::remove_all(src.real, ec);
        }
    }
    if (ec) {
        throw IoError("cannot move " + src.shown, ec);
    }
    MoveNodes(Key(src), Key(dst));
    SaveLocked();
    return dst.shown;
}

std::string FileArea::Import(const fs::path& source, const std::string& name,
                             const std::string& dstCategory, const std::string& dstFolder) {
    std::lock_guard lock(m_mutex);
    const auto dstDir = Existing(dstCategory, dstFolder);
    if (!StatOf(dstDir.real).isDir) {
        throw ApiError::Device(code::kBadPath, "not a folder: " + dstDir.shown);
    }
    // The name comes from the client; it must be one plain component.
    const auto clean = VirtualPath::Normalize("/" + name);
    if (VirtualPath::Parent(clean) != "/") {
        throw ApiError::Device(code::kBadPath, "bad file name \"" + name + "\"");
    }
    const auto dst =
        Resolve(dstCategory, VirtualPath::Join(dstDir.shown, FreeName(dstDir, clean.substr(1))));
    std::error_code ec;
    fs::copy_file(source, dst.real, fs::copy_options::none, ec);
    if (ec) {
        throw IoError("cannot copy to " + dst.shown, ec);
    }
    NodeFor(dst);
    SaveLocked();
    return dst.shown;
}

fs::path FileArea::RealFile(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    if (StatOf(at.real).isDir) {
        throw ApiError::Device(code::kBadPath, "not a file: " + at.shown);
    }
    return at.real;
}

UniqueFd FileArea::OpenFile(const std::string& category, const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto at = Existing(category, path);
    UniqueFd fd(::open(at.real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) {
        throw IoError("cannot open " + at.shown, std::error_code(errno, std::generic_category()));
    }
    if (!S_ISREG(st.st_mode)) {
        throw ApiError::Device(code::kBadPath, "not a file: " + at.shown);
    }
    return fd;
}

std::int64_t FileArea::WriteContent(const std::string& category, const std::string& path,
                                    std::int64_t offset, const std::string& bytes) {
    std::lock_guard lock(m_mutex);
    const auto at = Resolve(category, path);
    if (at.inner == "/" || StatOf(at.real).isDir) {
        throw ApiError::Device(code::kBadPath, "not a file: " + at.shown);
    }
    if (!StatOf(at.real.parent_path()).isDir) {
        throw NoSuchFile(VirtualPath::Parent(at.shown));
    }
    const auto held = StatOf(at.real);
    if (offset > 0) {
        const std::int64_t size = held.exists ? held.size : 0;
        if (size != offset) {
            throw ApiError(409, code::kBadField,
                           "the device holds " + std::to_string(size) + " bytes of " + at.shown +
                               ", not " + std::to_string(offset));
        }
    }
    std::ofstream out(at.real, std::ios::binary | (offset > 0 ? std::ios::app : std::ios::trunc));
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw IoError("cannot write " + at.shown, std::make_error_code(std::errc::io_error));
    }
    NodeFor(at);
    SaveLocked();
    return offset + static_cast<std::int64_t>(bytes.size());
}

void FileArea::MoveNodes(const std::string& fromKey, const std::string& toKey) {
    for (auto& [relative, node] : TakeNodes(fromKey)) {
        m_nodes[toKey + relative] = node;
    }
    m_dirty = true;
}

std::map<std::string, FileArea::Node> FileArea::TakeNodes(const std::string& key) {
    std::map<std::string, Node> taken;
    for (auto it = m_nodes.lower_bound(key); it != m_nodes.end();) {
        const auto& name = it->first;
        if (name.compare(0, key.size(), key) != 0) {
            break;
        }
        const auto rest = name.substr(key.size());
        if (!rest.empty() && rest.front() != '/') {
            ++it; // a sibling that shares the prefix, such as "/a" and "/ab"
            continue;
        }
        taken.emplace(rest, it->second);
        it = m_nodes.erase(it);
    }
    return taken;
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
        for (const auto& relative : item["nodes"].getMemberNames()) {
            stored.nodes[relative] = readNode(item["nodes"][relative]);
        }
        m_bin.emplace(stored.entry.rid, std::move(stored));
    }
}

} // namespace zeqemu
