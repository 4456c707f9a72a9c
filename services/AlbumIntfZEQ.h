#pragma once

#include "core/HttpPostRspCode.h"
#include "platform/HttpLibExport.h"
#include "services/AlbumModels.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// Albums of the device's gallery: user, shared and face albums. Every
// operation is one synchronous request; nothing is cached between calls, and
// lists in the caller's records are appended to, never cleared.
class HTTPLIB_API AlbumIntfZEQ {
public:
    static AlbumIntfZEQ& Instance();

    AlbumIntfZEQ& operator=(const AlbumIntfZEQ&) { return *this; }

    // Queries.
    bool GetGalleryAllAlbumList(std::int64_t lastAlbumId, std::int64_t num,
                                GalleryAllAlbumListRsp& rsp);
    bool GetAlbumInfo(std::int64_t albumId, GalleryAlbumType albumType, std::int64_t lastCreTime,
                      std::int64_t lastRowId, AlbumInfoRsp& rsp);
    bool GetGalleryAlbumByType(GalleryAlbumType albumType, GalleryAllAlbumListRsp& rsp);
    bool GetGalleryAlbumIncInfo(std::int64_t preId, std::int32_t num, GalleryAlbumIncInfoRsp& rsp);
    bool GetSelectedGalleryAlbumCfg(std::int32_t albumType, std::int64_t albumId,
                                    AlbumBasicModel& model);
    bool GetGalleryAlbumMembersInfo(std::int32_t albumType, std::int64_t lastRowId,
                                    std::int64_t lastCreTime, std::int64_t num,
                                    GalleryAlbumMembersInfoRsp& rsp);
    bool GetGalleryAlbumMemberIncInfo(std::int64_t preId, std::int32_t albumType, std::int32_t num,
                                      GalleryAlbumMemberIncInfoRsp& rsp);
    bool GetShareAlbumList(std::int64_t, GalleryAllAlbumListRsp& rsp);
    bool GetShareAlbumMembInfo(std::int64_t albumId, std::int64_t lastCreTime,
                               std::int64_t lastRowId, AlbumInfoRsp& rsp);

    // Changes. rsp, when given, receives the device's code and des whenever
    // the reply was readable, on failure too.
    bool CreateGalleryUserAlbum(std::int64_t& albumId, const std::string& albumName,
                                std::int32_t albumType, GalleryAlbumAttr* const attr,
                                HttpPostRspCode* rsp);
    bool DeleteGalleryUserAlbum(const std::string& albumName, std::int32_t albumType,
                                std::int64_t albumId, HttpPostRspCode* rsp);
    bool ModifyGalleryAlbumCfg(const AlbumCfgModifyParam& param, MdfyAlbumCfgType cfgType,
                               std::int64_t* albumId, HttpPostRspCode* rsp);
    bool AddGalleryAlbumMembers(const ChgAlbumMembersParam& param,
                                std::vector<std::int64_t>& sucIds, HttpPostRspCode* rsp);
    bool RmvGalleryAlbumMembers(const ChgAlbumMembersParam& param,
                                std::vector<std::int64_t>& sucIds, HttpPostRspCode* rsp);
    bool AddAlbumMembersAsync(const ChgAlbumMembersParam& param, const std::string& transId,
                              const std::int32_t& subTaskId, std::int64_t& taskId,
                              HttpPostRspCode* rsp);
    bool AlbumShareToPerson(const ChgAlbumShareToPersonParam& param, HttpPostRspCode* rsp);
    bool AlbumShareToPersonAsync(const ChgAlbumShareToPersonParam& param,
                                 const std::string& transId, const std::int32_t& subTaskId,
                                 std::int64_t& taskId, HttpPostRspCode* rsp);
    bool MergeFaceAlbum(const std::string& albumName, const std::vector<AlbumBasicModel>& albums,
                        HttpPostRspCode* rsp);
    bool HiddenFaceAlbum(const std::vector<AlbumBasicModel>& albums, HttpPostRspCode* rsp);
    bool DeleteShareAlbum(std::int64_t albumId, const std::string& albumName, HttpPostRspCode* rsp);

private:
    // Benchmarks and fuzz targets feed reply texts to the reply steps without
    // a network round trip; the struct is defined only in bench/ and fuzz/.
    friend struct ReplyStepAccess;

    AlbumIntfZEQ();
    ~AlbumIntfZEQ() = default;

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
};
