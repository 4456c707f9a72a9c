#pragma once

#include "platform/HttpLibExport.h"
#include "services/FileModels.h"

#include <json/value.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

// Texts the client passes as actions, sort orders and filters. Of these the
// library itself reads only kClear (RmvRecycleFiles).
namespace FileIntfText {
inline constexpr std::string_view kForce = "force";
inline constexpr std::string_view kRecycle = "recycle";
inline constexpr std::string_view kTimeDesc = "timeDesc";
inline constexpr std::string_view kDirFilter = "DirFilter";
inline constexpr std::string_view kRestore = "restore";
inline constexpr std::string_view kRecover = "recover";
inline constexpr std::string_view kRemove = "remove";
inline constexpr std::string_view kClear = "clear";
} // namespace FileIntfText

// The device's file system: listings, details, the recycle bin, USB storage
// and every write operation. Each operation is one synchronous request.
// Unlike the other services, a non-zero device "code" is left in the reply
// record for the caller; only ParseBaseData turns it into false.
class HTTPLIB_API FileIntfZeq {
public:
    static FileIntfZeq& Instance();

    FileIntfZeq& operator=(const FileIntfZeq&) { return *this; }
    FileIntfZeq& operator=(FileIntfZeq&&) noexcept { return *this; }

    // ---- Listing and details ----
    bool GetFiles(GetFilesRequestParam request, FileListData& list);
    bool ParseFileListData(const std::string& reply, FileListData& list,
                           GetFilesRequestParam request, FilterFileType filter);
    bool GetFolderDetail(FolderDetailRequestParam request, FolderDetailResp& detail);
    bool GetRecycleFiles(RecycleFilesRequest request, RecycleFileListData& list);
    bool GetUsbStatus(UsbStatusResp& status);
    // Stable client-side id of a USB path, unique in the process; an empty
    // path gets a fresh id each time.
    static std::int64_t GetUsbFileIdCount(std::string path);
    bool GetUserSambFolder(std::string& folder);
    bool GetFolderAllSubFiles(FolderStructureResp& structure, std::int64_t offset,
                              std::string category, std::string folder);
    bool GetRecoverProgress(RcvProgressRequest request, RcvProgressRespData& progress);

    // ---- Write operations ----
    bool MakeDirectory(MkDirRequestParam request, FileBaseData& result);
    bool Copy(CopyMoveRequestParam request, CopyMoveResp& result);
    bool Move(CopyMoveRequestParam request, CopyMoveResp& result);
    bool Rename(RenameRequestParam request, FileBaseData& result);
    bool Delete(DeleteRequestParam request, DeleteResp& result);
    bool RmvRecycleFiles(RmvRecycleFilesRequest request, FileBaseData& result);
    bool SetRedundancyAttr(RedundancyRequestParam request, FileBaseData& result);
    bool SetVisibility(VisibilityRequestParam request, FileBaseData& result);
    bool CopyAcrossGalleryAndFile(CopyAcrossRequestParam request, CopyMoveResp& result);
    bool CreateFolderStructure(FolderStructureCreateParam request, std::string category,
                               FolderStructureCreateResp& result);
    // False at once, without a request, on a device without batch operations.
    bool BatchOperation(FileBatchOperationRequestParam request, FileBatchOperationResp& result);

private:
    // Benchmarks and fuzz targets feed reply texts to the reply steps without
    // a network round trip; the struct is defined only in bench/ and fuzz/.
    friend struct ReplyStepAccess;

    // Guarded by one lock inside the service: listings may run on several threads.
    static std::map<std::string, std::int64_t> m_usbFileIdMap;
    static std::int64_t m_usbFileIdCount;

    FileIntfZeq() = default;

    bool ParseFolderDetailResp(const std::string& reply, FolderDetailResp& detail);
    bool ParseRecycleFileListData(const std::string& reply, RecycleFileListData& list);
    bool ParseUsbStatusResp(const std::string& reply, UsbStatusResp& status);
    bool ParseFolderFileDataResp(const std::string& reply, FolderStructureResp& structure);
    bool ParseRcvProgressResp(const std::string& reply, RcvProgressRespData& progress);

    bool ParseBaseData(const std::string& reply, FileBaseData& result);
    bool BuildCopyMoveBody(CopyMoveRequestParam& request, std::string& body);
    bool ParseCopyMoveResp(const std::string& reply, CopyMoveResp& result);
    bool ParseDeleteResp(const std::string& reply, DeleteResp& result);
    bool BuildCopyAcrossBody(CopyAcrossRequestParam& request, std::string& body);
    bool ParseFolderCreateResp(const std::string& reply, FolderStructureCreateResp& result);
    bool ParseBatchOperationResp(const std::string& reply, FileBatchOperationResp& result);
};
