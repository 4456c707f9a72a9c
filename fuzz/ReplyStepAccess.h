#pragma once

#include "services/AlbumIntfZEQ.h"
#include "services/DeviceIntfZEQ.h"
#include "services/FileIntfZeq.h"
#include "services/PhotoIntfZEQ.h"
#include "services/TaskCenterIntfZEQ.h"

#include <cstdint>
#include <string>
#include <vector>

// The fuzz targets' way to the private reply steps: each service names this
// struct as its friend, and only benchmark and fuzz code define it.
struct ReplyStepAccess {
    // ---- Albums ----
    static bool AllAlbumList(const std::string& reply, GalleryAllAlbumListRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAllAlbumListRsp(reply, rsp);
    }
    static bool AlbumInfo(const std::string& reply, AlbumInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumInfoRsp(reply, rsp);
    }
    static bool AlbumIncInfo(const std::string& reply, GalleryAlbumIncInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumIncInfoRsp(reply, rsp);
    }
    static bool AlbumMembersInfo(const std::string& reply, GalleryAlbumMembersInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumMembersInfoRsp(reply, rsp);
    }
    static bool AlbumMembersIncInfo(const std::string& reply, GalleryAlbumMemberIncInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumMembersIncInfoRsp(reply, rsp);
    }
    static bool AddAlbumMembers(const std::string& reply, std::vector<std::int64_t>& ids,
                                HttpPostRspCode* rsp) {
        return AlbumIntfZEQ::Instance().ParseAddAlbumMembersRsp(reply, ids, rsp);
    }
    static bool DelAlbumMembers(const std::string& reply, std::vector<std::int64_t>& ids,
                                HttpPostRspCode* rsp) {
        return AlbumIntfZEQ::Instance().ParseDelAlbumMembersRsp(reply, ids, rsp);
    }
    static bool AddAlbumMembAsync(const std::string& reply, std::int64_t& taskId,
                                  HttpPostRspCode* rsp) {
        return AlbumIntfZEQ::Instance().ParseAddAlbumMembAsyncRsp(reply, taskId, rsp);
    }

    // ---- Photos ----
    static bool AllMetadata(const std::string& reply, GalleryFilesAllMetadataRsp& rsp) {
        return PhotoIntfZEQ::Instance().ParseAllMetadataRsp(reply, rsp);
    }
    static bool IncInfo(const std::string& reply, GalleryFilesIncRsp& rsp) {
        return PhotoIntfZEQ::Instance().ParseIncInfoRsp(reply, rsp);
    }
    static bool SelectedMetadata(const std::string& reply, GalleryFilesSelectedMetadataRsp& rsp,
                                 HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseSelectdMetadataRsp(reply, rsp, code);
    }
    static bool DelGalleryFiles(const std::string& reply, std::vector<std::int64_t>& ids,
                                HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseDelGalleryFilesRsp(reply, ids, code);
    }
    static bool DelGalleryFilesAsync(const std::string& reply, std::int64_t& taskId,
                                     HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseDelGalleryFilesAsyncRsp(reply, taskId, code);
    }
    static bool DelBinFiles(const std::string& reply, std::vector<std::int64_t>& ids,
                            HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseDelBinFilesRsp(reply, ids, code);
    }
    static bool ClearBin(const std::string& reply, HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseDelBinFilesRsp(reply, code);
    }
    static bool DelBinFilesAsync(const std::string& reply, std::int64_t& taskId,
                                 HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseDelBinFilesAsyncRsp(reply, taskId, code);
    }
    static bool RcvrBinFiles(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseRcvrBinFilesRsp(reply, ids, code);
    }
    static bool RcvrBinFilesAsync(const std::string& reply, std::int64_t& taskId,
                                  HttpPostRspCode* code) {
        return PhotoIntfZEQ::Instance().ParseRcvrBinFilesAsyncRsp(reply, taskId, code);
    }
    static void FillGalleryModel(GalleryModel& model, const Json::Value& value) {
        PhotoIntfZEQ::Instance().FillGalleryModel(model, value);
    }
    static bool QueryBinFiles(const std::string& reply, BinQueryInfo& info) {
        return PhotoIntfZEQ::Instance().ParseQueryBinFilesRsp(reply, info);
    }

    // ---- Files ----
    static bool FileList(const std::string& reply, FileListData& list,
                         const GetFilesRequestParam& request, FilterFileType filter) {
        return FileIntfZeq::Instance().ParseFileListData(reply, list, request, filter);
    }
    static bool FolderDetail(const std::string& reply, FolderDetailResp& detail) {
        return FileIntfZeq::Instance().ParseFolderDetailResp(reply, detail);
    }
    static bool RecycleFileList(const std::string& reply, RecycleFileListData& list) {
        return FileIntfZeq::Instance().ParseRecycleFileListData(reply, list);
    }
    static bool UsbStatus(const std::string& reply, UsbStatusResp& status) {
        return FileIntfZeq::Instance().ParseUsbStatusResp(reply, status);
    }
    static bool FolderFileData(const std::string& reply, FolderStructureResp& structure) {
        return FileIntfZeq::Instance().ParseFolderFileDataResp(reply, structure);
    }
    static bool RcvProgress(const std::string& reply, RcvProgressRespData& progress) {
        return FileIntfZeq::Instance().ParseRcvProgressResp(reply, progress);
    }
    static bool BaseData(const std::string& reply, FileBaseData& result) {
        return FileIntfZeq::Instance().ParseBaseData(reply, result);
    }
    static bool CopyMove(const std::string& reply, CopyMoveResp& result) {
        return FileIntfZeq::Instance().ParseCopyMoveResp(reply, result);
    }
    static bool Delete(const std::string& reply, DeleteResp& result) {
        return FileIntfZeq::Instance().ParseDeleteResp(reply, result);
    }
    static bool FolderCreate(const std::string& reply, FolderStructureCreateResp& result) {
        return FileIntfZeq::Instance().ParseFolderCreateResp(reply, result);
    }
    static bool BatchOperation(const std::string& reply, FileBatchOperationResp& result) {
        return FileIntfZeq::Instance().ParseBatchOperationResp(reply, result);
    }

    // ---- Task center ----
    static bool TaskCenterGet(const std::string& reply, std::vector<TaskInfo>& out) {
        return TaskCenterIntfZEQ::Instance().ParseTaskCenterGetRsp(reply, out);
    }
    static bool TaskCenterGet(const std::string& reply, std::vector<TaskInfo>& out,
                              std::int64_t& code) {
        return TaskCenterIntfZEQ::Instance().ParseTaskCenterGetRsp(reply, out, code);
    }
    static bool TaskCenterClean(const std::string& reply, std::vector<std::uint64_t>& failedIds) {
        return TaskCenterIntfZEQ::Instance().ParseTaskCenterCleanRsp(reply, failedIds);
    }
    static bool TaskCenterRetry(const std::string& reply, TaskCenterRetryReqRsp& rsp) {
        return TaskCenterIntfZEQ::Instance().ParseTaskCenterRetryRsp(reply, rsp);
    }
    static bool TaskCenterCancel(const std::string& reply, std::vector<std::uint64_t>& detail) {
        return TaskCenterIntfZEQ::Instance().ParseTaskCenterCancelRsp(reply, detail);
    }

    // ---- Task status ----
    static bool TaskStatus(const std::string& reply, TaskStatusRsp& rsp) {
        return TaskCenterIntfZEQ::Instance().ParseTaskStatusRsp(reply, rsp);
    }
    static bool StatusFromTaskList(const std::string& reply, TaskStatusRsp& rsp,
                                   bool keepReplyCode) {
        return TaskCenterIntfZEQ::Instance().FillStatusFromTaskList(reply, rsp, keepReplyCode);
    }

    // ---- Device information ----
    static bool UserDataStatis(const std::string& reply, DiskStatisInfo& info) {
        return DeviceIntfZEQ::Instance().ParseUserDataStatisRsp(reply, info);
    }
    static bool DeviceInformation(const std::string& reply, DeviceInfo& info) {
        return DeviceIntfZEQ::Instance().ParseDeviceInfoRsp(reply, info);
    }
    static std::vector<DiskStatusInfo> DiskStatus(const std::string& reply) {
        return DeviceIntfZEQ::Instance().ParseDiskStatusRsp(reply);
    }
    static bool UserList(const std::string& reply, std::vector<DeviceUserInfo>& users) {
        return DeviceIntfZEQ::Instance().ParseUserListRsp(reply, users);
    }
};
