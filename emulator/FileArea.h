#pragma once

#include "emulator/SafeFs.h"
#include "emulator/StateFile.h"
#include "emulator/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
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
    // One unit of a copy: a folder or a file copied into the copy's own
    // staging folder. The first step makes that folder; the last one puts
    // the whole copy in place with one rename, under a name free then. A
    // copy cut short therefore never shows, and a restart clears its staging.
    struct CopyStep {
        bool makeFolder = false;
        bool first = false;
        bool last = false;
        std::string srcCategory, srcPath;
        std::string stage;  // the copy's staging folder
        std::string staged; // path inside the staging folder
        std::string dstCategory, dstFolder, topSource;
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

    // Hears, under the lock and before the rename is tried, the path an
    // entry is about to take (a copy or a move); it may throw to stop it.
    using Placing = std::function<void(const std::string& path)>;

    // Opens the areas and runs the start-up recovery: clears the staging
    // folder (unfinished uploads and copies), settles recycle-bin entries
    // whose move never happened or was finished, drops bin folders no entry
    // names (a purge cut short) and the metadata of entries that are gone (a
    // rename, or a deletion, cut short).
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
    // The same, and not a root: a root holds everything, so it is never deleted.
    void RequireDeletable(const std::string& category, const std::string& path);
    // Whether a file or folder is at path; never throws.
    bool Holds(const std::string& category, const std::string& path);

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
    bool InBin(std::int64_t rid);

    // Copy and move. A copy's name is picked when its last step puts it in
    // place, so it never overwrites, and copies side by side never share one.
    std::vector<CopyStep> PlanCopy(const std::string& srcCategory, const std::string& srcPath,
                                   const std::string& dstCategory, const std::string& dstFolder);
    void RunCopyStep(const CopyStep& step, const Placing& placing);
    // Moves one entry into dstFolder, keeping ids and attributes; returns the
    // new path.
    std::string Move(const std::string& srcCategory, const std::string& srcPath,
                     const std::string& dstCategory, const std::string& dstFolder,
                     const Placing& placing);
    // Copies a file from outside the tree (a gallery item) into dstFolder.
    std::string Import(const std::filesystem::path& source, const std::string& name,
                       const std::string& dstCategory, const std::string& dstFolder);
    // The file behind a path opened for reading; it must be a regular file.
    UniqueFd OpenFile(const std::string& category, const std::string& path);

    // Writes a file from bytes read as they arrive: a new or replaced file at
    // offset 0, else the bytes go behind the offset bytes of a file that
    // holds exactly that many, so a resumed upload can neither leave a gap
    // nor write a part twice. length, when given, is what the body must
    // hold. The new version is written beside and renamed over the old one:
    // a body cut off (or a crash) leaves the old version whole. Returns the
    // file's size.
    using Reader = std::function<std::size_t(char* out, std::size_t size)>;
    std::int64_t WriteContent(const std::string& category, const std::string& path,
                              std::int64_t offset, std::optional<std::uint64_t> length,
                              const Reader& read);

    static std::string MimeOf(const std::string& name);

private:
    struct Node {
        std::int64_t id = 0;
        int attr = 1;
        int visibility = 1;
    };
    struct Location {
        std::string area;               // "user", "public" or "usb"
        std::string inner;              // canonical path inside the area
        std::string shown;              // canonical path as the client names it
        std::vector<std::string> parts; // components of inner
        bool IsRoot() const { return parts.empty(); }
    };
    struct StoredBinEntry {
        BinEntry entry;
        std::string area;
        std::string inner;
        std::string restoringTo;           // set while a restore is under way
        std::map<std::string, Node> nodes; // relative key ("" for the entry itself)
    };

    Location Resolve(const std::string& category, const std::string& path) const;
    Location Existing(const std::string& category, const std::string& path) const;
    static Location Child(const Location& folder, const std::string& name);
    int RootOf(const std::string& area) const;
    // The folder at, and the folder holding at; throw ApiError when a link
    // or a missing folder is in the way.
    UniqueFd Folder(const Location& at) const;
    UniqueFd Parent(const Location& at) const;
    // What at is; never follows a link, and refuses one.
    safefs::Info Probe(const Location& at) const;
    // Whether a file or folder is at; a link, or a link on the way, is not one.
    bool Present(const Location& at) const;
    std::string Key(const Location& at) const { return at.area + ":" + at.inner; }
    Node& NodeFor(const Location& at);
    Entry MakeEntry(const Location& at, const safefs::Info& info, int parent);
    std::string FreeName(int folder, const std::string& name) const;
    // A staging file for a new version; removed again unless renamed away.
    UniqueFd NewStagingFile(std::string& name);
    // The metadata of a subtree, by key relative to its top ("" for the top).
    std::map<std::string, Node> NodesUnder(const std::string& key) const;
    std::map<std::string, Node> TakeNodes(const std::string& key);
    void GiveNodes(const std::string& key, const std::map<std::string, Node>& nodes);
    // Renames name in folder from to at (whose folder is to), never replacing
    // anything. The nodes are saved for at before the rename, and the caller
    // drops the old place's after it: whichever side holds the entry after a
    // crash has its metadata, and the recovery drops what the other side
    // kept. False (errno set, nodes taken back) when the rename failed. kind
    // names the crash points around the rename.
    bool PlaceAt(int from, const std::string& name, int to, const Location& at,
                 const std::map<std::string, Node>& nodes, const std::string& kind);
    // PlaceAt under the first free name made from wanted in folder (open as
    // to); placing hears each path before it is tried. Throws when the rename
    // fails for another reason than a taken name. Returns where it went.
    Location Place(int from, const std::string& name, const Location& folder, int to,
                   const std::string& wanted, const std::map<std::string, Node>& nodes,
                   const Placing& placing, const std::string& kind);
    void Recover();
    void SaveLocked();
    void Load();

    UniqueFd m_user;
    UniqueFd m_public;
    UniqueFd m_usb;
    UniqueFd m_binFolder;
    UniqueFd m_staging; // new versions and copies before they are renamed into place
    StateFile m_state;

    mutable std::mutex m_mutex;
    std::map<std::string, Node> m_nodes;
    std::map<std::int64_t, StoredBinEntry> m_bin;
    std::int64_t m_nextStage = 1;
    std::int64_t m_nextId = 1;
    std::int64_t m_nextRid = 1;
    bool m_dirty = false;
};

} // namespace zeqemu
