#pragma once

#include "core/HttpPostRspCode.h"
#include "services/AlbumMembFileItem.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

// Records of the photo service: gallery files, their metadata pages and the
// recycle bin. Reply records that carry the envelope lead with its code and
// des (their HttpPostRspCode base).

// One gallery file. Unlike AlbumMembInfo, every integer is 64 bits wide.
struct GalleryModel {
    std::string attachPath;
    std::string city;
    std::string comment;
    std::string country;
    std::int64_t createTime = 0;
    std::int64_t dateModified = 0;
    std::int64_t day = 0;
    std::string district;
    std::int64_t duration = 0;
    std::int64_t favorite = 0;
    std::int64_t fileId = 0;
    std::string fileSrcPath;
    std::string hash;
    std::string zeqFilePath;
    std::int64_t height = 0;
    std::string lcdFilePath;
    std::int64_t mediaType = 0;
    std::string mimeType;
    std::int64_t month = 0;
    std::int64_t orientation = 0;
    std::int64_t ownerId = 0;
    std::string ownerName;
    std::string province;
    std::int64_t recycleFlag = 0;
    std::int64_t size = 0;
    std::int64_t sourceAlbum = 0;
    std::int64_t subType = 0;
    std::int64_t takenTime = 0;
    std::string thumbFilePath;
    std::string township;
    std::string viewPath;
    std::int64_t width = 0;
};

struct GalleryFilesAllMetadataRsp : HttpPostRspCode {
    bool hasMore = false; // from "finish": the device says 0 while pages remain
    std::int64_t maxRowId = 0;
    std::int64_t num = 0;
    std::vector<std::shared_ptr<GalleryModel>> data;
};

struct GalleryFileIncItem {
    std::int64_t fileId = 0;
    std::int64_t rowId = 0;
    std::int32_t operation = 0;
    std::string deviceId;
};

struct GalleryFilesIncRsp : HttpPostRspCode {
    bool hasMore = false; // from "finish", as in GalleryFilesAllMetadataRsp
    std::int64_t num = 0;
    std::vector<GalleryFileIncItem> data;
};

// Its code and des go to the caller's HttpPostRspCode instead.
struct GalleryFilesSelectedMetadataRsp {
    std::int64_t num = 0;
    std::vector<std::shared_ptr<GalleryModel>> data;
};

// One file to delete, recover or clean, by id and name.
struct GalleryFileMember {
    std::int64_t fileId = 0;
    std::string name;

    static constexpr std::string_view kFieldList = "fileId, name";
    auto Fields() const { return std::tie(fileId, name); }
};

struct BinFileInfo {
    std::int64_t fileId = 0;
    std::string thumbFilePath;
    std::string lcdFilePath;
    std::string zeqFilePath;
    std::int32_t orientation = 0;
    std::int64_t mediaType = 0;
    std::string fileSrcPath;
    std::string viewPath;
    std::int64_t duration = 0;
    std::int32_t mtime = 0;
    std::int64_t createTime = 0;
    std::string attachPath;
    std::int64_t takenTime = 0;
    std::int64_t subType = 0;
};

// One page of the recycle bin; the device's code and des are not kept.
struct BinQueryInfo {
    std::int32_t offset = 0;
    std::int32_t num = 0;
    std::vector<BinFileInfo> data;
};

// Field-list request bodies.

struct SelectedPhotosReq {
    std::int32_t clientType = 0;
    std::vector<AlbumMembFileItem> fileIds;

    static constexpr std::string_view kFieldList = "clientType, fileIds";
    auto Fields() const { return std::tie(clientType, fileIds); }
};

struct ModifyFileAttrReq {
    std::int32_t clientType = 0;
    std::string deviceId;
    std::int64_t id = 0;
    std::string comment;

    static constexpr std::string_view kFieldList = "clientType, deviceId, id, comment";
    auto Fields() const { return std::tie(clientType, deviceId, id, comment); }
};

struct PhotoMembsReq {
    std::int32_t clientType = 0;
    std::string userId;
    std::string deviceId;
    std::vector<GalleryFileMember> membs;

    static constexpr std::string_view kFieldList = "clientType, userId, deviceId, membs";
    auto Fields() const { return std::tie(clientType, userId, deviceId, membs); }
};

struct CleanBinReq {
    std::int32_t clientType = 0;
    std::string userId;
    std::string deviceId;
    std::int32_t empty = 0;
    std::vector<GalleryFileMember> membs;

    static constexpr std::string_view kFieldList = "clientType, userId, deviceId, empty, membs";
    auto Fields() const { return std::tie(clientType, userId, deviceId, empty, membs); }
};

struct QueryBinReq {
    std::int64_t offset = 0;
    std::int32_t num = 0;

    static constexpr std::string_view kFieldList = "offset, num";
    auto Fields() const { return std::tie(offset, num); }
};
