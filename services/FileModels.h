#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Requests and replies of the file service. Texts are UTF-8; replies are
// filled by the service's parsers, which read a missing key as 0, "" or false.

// Which entries ParseFileListData keeps, judged by FileData::type.
enum FilterFileType : std::int32_t {
    FILTER_FILE_TYPE_ALL = 0,
    // Any value other than ALL and DIR keeps only non-folders.
    FILTER_FILE_TYPE_FILE = 1,
    FILTER_FILE_TYPE_DIR = 2,
};

// ---- Listing and details ----

struct GetFilesRequestParam {
    std::string path; // sent percent-encoded in "Dest-File"
    std::int32_t limit = 0;
    std::int64_t offset = 0;
    std::int64_t requestTag = 0; // not sent; copied into every returned entry
    std::string sortType;
    std::string category; // also the category of entries that carry none
    std::string filter;   // sent only when not empty
};

struct FileData {
    std::int64_t id = 0; // replaced by a client-side id for USB entries
    std::int32_t attr = 0;
    std::int64_t count = 0;
    std::int64_t mtime = 0;
    std::string name;
    std::int32_t type = 0; // 2 to 6 are folder kinds
    std::string version;
    std::string mime;
    std::string thumb;
    std::string fullPath; // parentPath + name
    std::int32_t orientation = 0;
    std::int64_t size = 0;
    std::int64_t freeSize = 0;
    std::string parentPath;
    std::string path; // parentPath + name, with "/" behind a folder
    std::int32_t action = 0;
    std::int64_t time = 0;
    std::string desc;
    std::string category;
    std::int64_t fid = 0;
    std::int64_t requestTag = 0;
    std::int32_t visibility = 0;
};

struct FileListData {
    std::int64_t code = 0; // set only by a reply without "data"
    bool hasMore = false;
    std::string parentPath;
    std::string rawReply;
    std::int64_t offset = 0;
    std::vector<std::shared_ptr<FileData>> files;
};

struct FolderDetailRequestParam {
    std::string entryId;
    std::string path;
    std::string category;
};

struct FolderDetailResp {
    std::int64_t code = 0;
    std::string name;
    std::int64_t size = 0;
    std::int64_t mtime = 0;
    std::int64_t dirCount = 0;
    std::int64_t fileCount = 0;
    std::string version;
};

struct RecycleFilesRequest {
    std::int32_t limit = 0;
    std::int64_t offset = 0;
    std::string category;
};

struct RecycleFileData {
    std::string name;
    std::int32_t type = 0;
    std::int64_t rid = 0;
    std::int64_t size = 0;
    std::int64_t count = 0;
    std::int64_t dtime = 0;
    std::int32_t orientation = 0;
    std::string mime;
    std::string path;
    std::string thumb;
};

struct RecycleFileListData {
    bool hasMore = false;
    std::int64_t count = 0;
    std::int64_t offset = 0;
    std::vector<std::shared_ptr<RecycleFileData>> files;
};

struct UsbDiskInfo {
    std::string name;
    std::int64_t freeSize = 0;
    std::int64_t totalSize = 0;
};

struct UsbStatusResp {
    std::int64_t code = 0;
    std::string version;
    bool status = false;
    std::string mountPath;
    std::vector<UsbDiskInfo> info;
};

struct FolderFileEntry {
    std::int32_t type = 0;
    std::int64_t fid = 0;
    std::int64_t mtime = 0;
    std::int64_t size = 0;
    std::string hash;
    std::string mimeType;
    std::string relativePath;
    std::string thumbPath;
};

struct FolderStructureResp {
    std::int64_t code = 0;
    std::int64_t offset = 0;
    std::string parentDir;
    std::vector<FolderFileEntry> files;
    bool hasMore = false;
};

struct RcvProgressRequest {
    std::string progressId; // sent as "progerssId", the device's spelling
    std::string flag;
    std::string category;
};

struct RecoverErrorInfo {
    std::string path;
    std::string id;
    std::string status;
};

struct RcvProgressRespData {
    std::int32_t total = 0;
    std::int32_t proSuccess = 0;
    std::int32_t proFailure = 0;
    bool status = false;
    std::vector<RecoverErrorInfo> errorInfos;
};

// ---- Write operations ----

struct FileBaseData {
    std::int64_t code = 0;
    std::string desc;
    std::string version;
    std::int64_t fid = 0;
};

struct MkDirRequestParam {
    std::string path;
    std::int64_t redundancy = 0;
    std::string category;
};

struct CopyMoveTask {
    std::string name;
    std::string sCategory;
    std::string dCategory;
    std::vector<std::string> sPaths;
    std::string dPath;
    std::int64_t dVersion = 0;
    std::int64_t subTaskId = 0;
    std::string transId;
};

struct CopyMoveRequestParam {
    std::vector<CopyMoveTask> tasks;
    std::string category;
};

struct CopyMoveTaskResult {
    std::string name;
    std::int64_t id = 0;
    std::int64_t centerId = 0;
    std::int64_t subtaskId = 0;
    std::string transId;
};

struct CopyMoveResp {
    std::int64_t code = 0;
    std::string desc;
    std::vector<CopyMoveTaskResult> tasks;
};

struct RenameRequestParam {
    std::string oldpath;
    std::string newpath;
    std::string category;
    std::int64_t id = 0;
};

struct DeleteRequestParam {
    std::vector<std::string> srcPath;
    std::string category;
    std::string type;
};

struct DeleteResp {
    std::int64_t code = 0;
    std::string progressId;
};

struct RmvRecycleFilesRequest {
    std::string action;
    std::vector<std::int64_t> files; // recycle-bin ids; not sent for "clear"
    std::string category;
};

struct RedundancyRequestParam {
    std::vector<std::string> path;
    std::int32_t attr = 0;
    std::string category;
};

struct VisibilityRequestParam {
    std::string path;
    std::int32_t attr = 0;
    std::string category;
};

struct CopyAcrossSrcFile {
    std::int64_t fid = 0;
    std::string path;
    std::string category;
    std::string realName;
};

struct CopyAcrossDestDir {
    std::int64_t albumId = 0;
    std::int32_t albumType = 0;
    std::string albumName;
    std::string path;
    std::string category;
    std::int64_t addTime = 0;
};

struct CopyAcrossRequestParam {
    std::string name;
    std::int64_t subTaskId = 0;
    std::string transId;
    std::string srcService;
    std::vector<CopyAcrossSrcFile> srcFiles;
    std::string destService;
    std::vector<CopyAcrossDestDir> destDirs;
};

struct FolderStructureCreateParam {
    std::string parentDir;
    std::vector<std::string> dirs;
};

struct FolderCreateError {
    std::string path;
    std::int64_t err = 0;
};

struct FolderStructureCreateResp {
    std::int64_t code = 0;
    std::vector<FolderCreateError> errorInfos;
};

struct FileBatchOperationRequestParam {
    std::vector<std::string> srcPath;
    std::vector<std::string> rid;
    std::string name;
    std::int32_t type = 0;
    std::string operation;
    std::string category;
    std::string queryType; // sent as the query "type"
    std::int64_t subTaskId = 0;
    std::string transId;
};

struct FileBatchOperationResp {
    std::int64_t code = 0;
    std::int64_t taskId = 0;
    std::string transId;
};
