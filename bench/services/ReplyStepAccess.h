#pragma once

#include "services/AlbumIntfZEQ.h"
#include "services/FileIntfZeq.h"
#include "services/PhotoIntfZEQ.h"
#include "services/TaskCenterIntfZEQ.h"

#include <string>
#include <vector>

// The benchmarks' way to the private reply steps: each service names this
// struct as its friend, and only benchmark and fuzz code define it.
struct ReplyStepAccess {
    static bool AllMetadata(const std::string& reply, GalleryFilesAllMetadataRsp& rsp) {
        return PhotoIntfZEQ::Instance().ParseAllMetadataRsp(reply, rsp);
    }
    static bool SelectedMetadata(const std::string& reply, GalleryFilesSelectedMetadataRsp& rsp) {
        HttpPostRspCode code;
        return PhotoIntfZEQ::Instance().ParseSelectdMetadataRsp(reply, rsp, &code);
    }
    static bool PhotoChanges(const std::string& reply, GalleryFilesIncRsp& rsp) {
        return PhotoIntfZEQ::Instance().ParseIncInfoRsp(reply, rsp);
    }
    static bool BinPage(const std::string& reply, BinQueryInfo& info) {
        return PhotoIntfZEQ::Instance().ParseQueryBinFilesRsp(reply, info);
    }
    static bool AlbumList(const std::string& reply, GalleryAllAlbumListRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAllAlbumListRsp(reply, rsp);
    }
    static bool AlbumFiles(const std::string& reply, AlbumInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumInfoRsp(reply, rsp);
    }
    static bool AlbumChanges(const std::string& reply, GalleryAlbumIncInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumIncInfoRsp(reply, rsp);
    }
    static bool AlbumMembers(const std::string& reply, GalleryAlbumMembersInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumMembersInfoRsp(reply, rsp);
    }
    static bool AlbumMemberChanges(const std::string& reply, GalleryAlbumMemberIncInfoRsp& rsp) {
        return AlbumIntfZEQ::Instance().ParseAlbumMembersIncInfoRsp(reply, rsp);
    }
    static bool RecycleFolder(const std::string& reply, RecycleFileListData& list) {
        return FileIntfZeq::Instance().ParseRecycleFileListData(reply, list);
    }
    static bool FlatListing(const std::string& reply, FolderStructureResp& structure) {
        return FileIntfZeq::Instance().ParseFolderFileDataResp(reply, structure);
    }
    static bool TaskList(const std::string& reply, std::vector<TaskInfo>& out) {
        return TaskCenterIntfZEQ::Instance().ParseTaskCenterGetRsp(reply, out);
    }
};
