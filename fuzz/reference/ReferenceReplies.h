#pragma once

#include "core/HttpPostRspCode.h"
#include "services/AlbumModels.h"
#include "services/FileModels.h"
#include "services/PhotoModels.h"
#include "services/TaskCenterModels.h"

#include <cstdint>
#include <string>
#include <vector>

// The services' reply steps as they were when they read replies with jsoncpp:
// the reference the differential fuzz targets hold the library to. Same
// records, same results, same log lines (module, severity, function and
// message); only the source lines differ.
namespace reference {

// ---- Albums ----
bool ParseAllAlbumListRsp(const std::string& reply, GalleryAllAlbumListRsp& rsp);
bool ParseAlbumInfoRsp(const std::string& reply, AlbumInfoRsp& rsp);
bool ParseAlbumIncInfoRsp(const std::string& reply, GalleryAlbumIncInfoRsp& rsp);
bool ParseAlbumMembersInfoRsp(const std::string& reply, GalleryAlbumMembersInfoRsp& rsp);
bool ParseAlbumMembersIncInfoRsp(const std::string& reply, GalleryAlbumMemberIncInfoRsp& rsp);
bool ParseAddAlbumMembersRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* rsp);
bool ParseDelAlbumMembersRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* rsp);
bool ParseAddAlbumMembAsyncRsp(const std::string& reply, std::int64_t& taskId,
                               HttpPostRspCode* rsp);

// ---- Photos ----
bool ParseAllMetadataRsp(const std::string& reply, GalleryFilesAllMetadataRsp& rsp);
bool ParseIncInfoRsp(const std::string& reply, GalleryFilesIncRsp& rsp);
bool ParseSelectdMetadataRsp(const std::string& reply, GalleryFilesSelectedMetadataRsp& rsp,
                             HttpPostRspCode* code);
bool ParseDelGalleryFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* code);
bool ParseDelGalleryFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                  HttpPostRspCode* code);
bool ParseDelBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                         HttpPostRspCode* code);
bool ParseDelBinFilesRsp(const std::string& reply, HttpPostRspCode* code);
bool ParseDelBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                              HttpPostRspCode* code);
bool ParseRcvrBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                          HttpPostRspCode* code);
bool ParseRcvrBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                               HttpPostRspCode* code);
bool ParseQueryBinFilesRsp(const std::string& reply, BinQueryInfo& info);

// ---- Files ----
bool ParseFileListData(const std::string& reply, FileListData& list,
                       const GetFilesRequestParam& request, FilterFileType filter);
bool ParseFolderDetailResp(const std::string& reply, FolderDetailResp& detail);
bool ParseRecycleFileListData(const std::string& reply, RecycleFileListData& list);
bool ParseUsbStatusResp(const std::string& reply, UsbStatusResp& status);
bool ParseFolderFileDataResp(const std::string& reply, FolderStructureResp& structure);
bool ParseRcvProgressResp(const std::string& reply, RcvProgressRespData& progress);
bool ParseBaseData(const std::string& reply, FileBaseData& result);
bool ParseCopyMoveResp(const std::string& reply, CopyMoveResp& result);
bool ParseDeleteResp(const std::string& reply, DeleteResp& result);
bool ParseFolderCreateResp(const std::string& reply, FolderStructureCreateResp& result);
bool ParseBatchOperationResp(const std::string& reply, FileBatchOperationResp& result);

// ---- Tasks ----
bool ParseTaskCenterGetRsp(const std::string& reply, std::vector<TaskInfo>& out,
                           std::int64_t& code);
bool ParseTaskCenterCleanRsp(const std::string& reply, std::vector<std::uint64_t>& failedIds);
bool ParseTaskCenterRetryRsp(const std::string& reply, TaskCenterRetryReqRsp& rsp);
bool ParseTaskCenterCancelRsp(const std::string& reply, std::vector<std::uint64_t>& detail);
bool ParseTaskStatusRsp(const std::string& reply, TaskStatusRsp& rsp);

} // namespace reference
