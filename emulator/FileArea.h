#pragma once

#include "emulator/StateFile.h"
#include "emulator/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace zeqemu {

// The device's file service over a real folder tree in the data directory:
// categories "user" (the default) and "public" each have a tree, "/mnt/usb/..."
// names the USB area whatever the category. Ids, redundancy and visibility
// attributes and the recycle bin live in one state file. Every public member
// is atomic with respect to the others.
class FileArea {
public:
    static constexpr int kTypeFile = 1;
    static constexpr int kTypeFolder = 2;
    static constexpr int kTypeUsbDisk = 3;
    static constexpr const char* kUsbMount = "/mnt/usb";

    struct Entry {
        std::int64_t id = 0;
        std::string name;
        std::string path; // as the client names it
        std::string category;
        int type = kTypeFile;
        std::int64_t size = 0;
        std::int64_t count = 0; // children of a folder
        std::int64_t mtime = 0;
        std::int64_t freeSize = 0;
        std::string mime;
        std::string version;
        int attr = 1;       // redundancy: 1 single, 2 double
        int visibility = 1; // 0 hidden
    };
    struct ListQuery {
        std::string category;
        std::string folder;
        std::int64_t offset = 0;
        std::int64_t limit = 100;
        std::string sortType;
        std::string filter;
    };
    struct ListPage {
        std::string parentPath; // with a closing "/"
        std::vector<Entry> entries;
        bool hasMore = false;
        std::int64_t nextOffset = 0;
    };
    struct Detail {
        std::string name;
        std::string version;
        std::int64_t size = 0;
        std::int64_t mtime = 0;
        std::int64_t dirCount = 0;
        std::int64_t fileCount = 0;
    };
    struct BinEntry {
        std::int64_t rid = 0;
        std::string name;
        std::string origin; // path before deletion
        std::string category;
        int type = kTypeFile;
        std::int64_t size = 0;
        std::int64_t count = 0;
        std::int64_t dtime = 0;
        std::string mime;
    };
    struct BinPage {
        std::vector<BinEntry> entries;
        std::int64_t total = 0;
        bool hasMore = false;
        std::int64_t nextOffset = 0;
    };
    struct FlatEntry {
        int type = kTypeFile;
        std::int64_t fid = 0;
        std::int64_t mtime = 0;
        std::int64_t size = 0;
        std::string hash;
        std::string mime;
        std::string relativePath;
    };
    struct FlatPage {
        std::string parentDir;
        std::vector<FlatEntry> entries;
        bool hasMore = false;
        std::int64_t nextOffset = 0;
    };
    struct DirError {
        std::string path;
        std::int64_t err = 0;
    };
    // One unit of a copy: make a folder or copy one file.
    struct CopyStep {
        bool makeFolder = false;
        std::string srcCategory, srcPath, dstCategory, dstPath;
    };
    struct UsbDisk {
        std::string name;
        std::int64_t freeSize = 0;
        std::int64_t totalSize = 0;
    };
    struct Usage {
        std::int64_t user = 0;
        std::int64_t members = 0;
        std::int64_t publicArea = 0;
        std::int64_t single = 0;
        std::int64_t dual = 0;
    };

    explicit FileArea(const std::filesystem::path& dataDir);

    bool IsEmpty() const;
    ListPage List(const ListQuery& query);
    Detail GetDetail(const std::string& category, const std::string& path);
    std::int64_t MakeDir(const std::string& category, const std::string& path, int redundancy);
    std::int64_t Rename(const std::string& category, const std::string& oldPath,
                        const std::string& newPath, std::int64_t expectedId);
    std::vector<DirError> CreateDirs(const std::string& category, const std::string& parent,
                                     const std::vector<std::string>& dirs);
    void SetRedundancy(const std::string& category, const std::vector<std::string>& paths,
                       int attr);
    void SetVisibility(const std::string& category, const std::string& path, int attr);
    FlatPage AllFiles(const std::string& category, const std::string& folder, std::int64_t offset,
                      std::int64_t limit);
    std::vector<UsbDisk> UsbDisks() const;
    Usage ComputeUsage() const;

    // Checks that the path exists (throws ApiError otherwise); used to refuse
    // a task up front instead of failing it later.
    void RequireExisting(const std::string& category, const std::string& path);

    // Deletion, one entry per call (a task step each).
    void Recycle(const std::string& category, const std::string& path);
    void RemoveForever(const std::string& category, const std::string& path);

    BinPage ListBin(const std::string& category, std::int64_t offset, std::int64_t limit);
    std::vector<std::int64_t> BinIds(const std::string& category);
    // Puts an entry back at its origin (under a free name when taken); returns
    // the path it was restored to.
    std::string Restore(std::int64_t rid);
    void Purge(std::int64_t rid);
    // Path an entry had, for error reports; "" when unknown.
    std::string BinOrigin(std::int64_t rid);

    // Copy and move. Planning picks free destination names, so a copy never
    // overwrites; the steps then run one by one. A picked name stays reserved
    // until the copy's first step creates it, so copies planned side by side
    // on two workers never share one.
    std::vector<CopyStep> PlanCopy(const std::string& srcCategory, const std::string& srcPath,
                                   const std::string& dstCategory, const std::string& dstFolder);
    void RunCopyStep(const CopyStep& step);
    // Moves one entry into dstFolder, keeping ids and attributes; returns the
    // new path.
    std::string Move(const std::string& srcCategory, const std::string& srcPath,
                     const std::string& dstCategory, const std::string& dstFolder);
    // Copies a file from outside the tree (a gallery item) into dstFolder.
    std::string Import(const std::filesystem::path& source, const std::string& name,
                       const std::string& dstCategory, const std::string& dstFolder);
    // The real file behind a path, which must be a regular file.
    std::filesystem::path RealFile(const std::string& category, const std::string& path);
    // The file behind a path opened for reading; it must be a regular file.
    UniqueFd OpenFile(const std::string& category, const std::string& path);

    // Writes bytes to a file: a new or replaced file at offset 0, else appended
    // to one that holds exactly offset bytes, so a resumed upload can neither
    // leave a gap nor write a part twice. Returns the file's size.
    std::int64_t WriteContent(const std::string& category, const std::string& path,
                              std::int64_t offset, const std::string& bytes);

    static std::string MimeOf(const std::string& name);

private:
    struct Node {
        std::int64_t id = 0;
        int attr = 1;
        int visibility = 1;
    };
    struct Location {
        std::string area;  // "user", "public" or "usb"
        std::string inner; // canonical path inside the area
        std::string shown; // canonical path as the client names it
        std::filesystem::path real;
    };
    struct StoredBinEntry {
        BinEntry entry;
        std::string area;
        std::string inner;
        std::map<std::string, Node> nodes; // relative key ("" for the entry itself)
    };

    Location Resolve(const std::string& category, const std::string& path) const;
    Location Existing(const std::string& category, const std::string& path) const;
    std::string Key(const Location& at) const { return at.area + ":" + at.inner; }
    Node& NodeFor(const Location& at);
    Entry MakeEntry(const Location& at);
    std::string FreeName(const Location& folder, const std::string& name) const;
    // Moves the metadata of a subtree from one key prefix to another.
    void MoveNodes(const std::string& fromKey, const std::string& toKey);
    std::map<std::string, Node> TakeNodes(const std::string& key);
    void SaveLocked();
    void Load();

    std::filesystem::path m_filesRoot;
    std::filesystem::path m_usbRoot;
    std::filesystem::path m_binRoot;
    StateFile m_state;

    mutable std::mutex m_mutex;
    std::map<std::string, Node> m_nodes;
    std::map<std::int64_t, StoredBinEntry> m_bin;
    // Real paths picked by PlanCopy whose first step has not run yet. One that
    // never runs (the task cancelled first) only keeps its name from later
    // copies until a restart.
    std::set<std::filesystem::path> m_reservedCopyTargets;
    std::int64_t m_nextId = 1;
    std::int64_t m_nextRid = 1;
    bool m_dirty = false;
};

} // namespace zeqemu
