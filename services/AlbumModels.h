#pragma once

#include "core/HttpPostRspCode.h"
#include "services/AlbumMembFileItem.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

// Records of the album service. Reply records lead with the envelope's code
// and des (their HttpPostRspCode base); the library copies the device's values
// and interprets none of them beyond what each operation says.

// The device's album type numbers; any value the caller passes goes through.
enum GalleryAlbumType : std::int32_t {
    GALLERY_ALBUM_TYPE_SHARE = 6,
    GALLERY_ALBUM_TYPE_FACE = 23,
};

// Person attributes of a face album; read from replies and sent in bodies.
struct GalleryAlbumAttr {
    std::int32_t gender = 0;
    std::string birth;

    static constexpr std::string_view kFieldList = "gender, birth";
    auto Fields() const { return std::tie(gender, birth); }
};

struct AlbumCoverInfo {
    std::int64_t coverId = 0;
    std::string thumbFilePath;
    std::string zeqFilePath;
    std::string lcdFilePath;
    std::string ownerName;
    std::int64_t mediaType = 0;
    std::int32_t orientation = 0;
    std::array<std::uint64_t, 4> faceCoordinate{};
    std::int32_t lcdHeight = 0;
    std::int32_t lcdWidth = 0;
};

struct AlbumBasicModel {
    std::int64_t albumId = 0;
    std::string albumName;
    std::int32_t albumType = 0;
    std::vector<AlbumCoverInfo> coverInfo;
    std::int64_t num = 0;
    std::int64_t createTime = 0;
    GalleryAlbumAttr albumAttr;
    std::int64_t ownerId = 0;
    std::int32_t isOwner = 0;
    std::int32_t hiddenStatus = 0;
};

// One file of an album.
struct AlbumMembInfo {
    std::string ownerName;
    std::string attachPath;
    std::string city;
    std::string comment;
    std::string country;
    std::string province;
    std::string district;
    std::string township;
    std::string fileSrcPath;
    std::string hash;
    std::string zeqFilePath;
    std::string lcdFilePath;
    std::string thumbFilePath;
    std::string viewPath;
    std::string mimeType;
    std::int64_t ownerId = 0;
    std::int64_t createTime = 0;
    std::int64_t dateModified = 0;
    std::int64_t takenTime = 0;
    std::int64_t day = 0;
    std::int64_t duration = 0;
    std::int64_t favorite = 0;
    std::int64_t fileId = 0;
    std::int64_t month = 0;
    std::int64_t height = 0;
    std::int64_t width = 0;
    std::int64_t size = 0;
    std::int32_t orientation = 0;
    std::int32_t mediaType = 0;
    std::int32_t recycleFlag = 0;
    std::int32_t sourceAlbum = 0;
    std::int32_t subType = 0;
};

struct GalleryAllAlbumListRsp : HttpPostRspCode {
    std::vector<std::shared_ptr<AlbumBasicModel>> albumlist;
    std::int64_t lastAlbumId = 0;
    std::int32_t num = 0;
    std::int64_t preId = 0;
};

struct AlbumInfoRsp : HttpPostRspCode {
    std::int64_t lastCretime = 0;
    std::int64_t lastRowId = 0;
    std::int32_t num = 0;
    std::vector<std::shared_ptr<AlbumMembInfo>> data;
};

struct AlbumIncItem {
    std::int64_t albumId = 0;
    std::int32_t albumType = 0;
    std::int64_t optTime = 0;
    std::int64_t optType = 0;
};

struct GalleryAlbumIncInfoRsp : HttpPostRspCode {
    std::int64_t lastId = 0;
    std::vector<AlbumIncItem> data;
};

struct AlbumMembRef {
    std::int64_t fileId = 0;
    std::int64_t albumId = 0;
};

struct GalleryAlbumMembersInfoRsp : HttpPostRspCode {
    std::int64_t lastRowId = 0;
    std::int64_t lastCretime = 0;
    std::int64_t preId = 0;
    std::vector<AlbumMembRef> data;
};

struct AlbumMembIncItem {
    std::int64_t albumId = 0;
    std::int64_t fileId = 0;
    std::int32_t albumType = 0;
    std::int64_t optTime = 0;
    std::int64_t optType = 0;
};

struct GalleryAlbumMemberIncInfoRsp : HttpPostRspCode {
    std::vector<AlbumMembIncItem> data;
    std::int64_t lastId = 0;
};

// The one setting ModifyGalleryAlbumCfg changes. Names and renames are the
// device's two kinds of name change; both send "albumName".
enum MdfyAlbumCfgType : std::int32_t {
    MDFY_ALBUM_CFG_NAME = 0,
    MDFY_ALBUM_CFG_COVER = 1,
    MDFY_ALBUM_CFG_ATTR = 2,
    MDFY_ALBUM_CFG_RENAME = 3,
};

struct AlbumCfgModifyParam {
    std::int32_t albumType = 0;
    std::int64_t albumId = 0;
    std::int64_t coverId = 0;
    std::string albumName;
    const GalleryAlbumAttr* albumAttr = nullptr; // not owned
    std::int32_t toShareAlbum = 0;
    std::int64_t modifyTime = 0;
};

struct ChgAlbumMembersParam {
    std::int64_t albumId = 0;
    std::string albumName;
    std::int32_t albumType = 0;
    std::vector<std::int64_t> fileIds;
    std::int64_t addTime = 0;
};

struct ShareFileItem {
    std::int64_t fileId = 0;
    std::int64_t ownerId = 0;
    std::string fileName;
};

struct ChgAlbumShareToPersonParam {
    std::int64_t albumId = 0;
    std::string albumName;
    std::int32_t albumType = 0;
    std::vector<ShareFileItem> fileIds;
    std::int64_t addTime = 0;
};

// Field-list request bodies.

struct AddAlbumReq {
    std::int32_t clientType = 0;
    std::string deviceId;
    std::string albumName;
    std::int32_t albumType = 0;

    static constexpr std::string_view kFieldList = "clientType, deviceId, albumName, albumType";
    auto Fields() const { return std::tie(clientType, deviceId, albumName, albumType); }
};

struct AddAlbumWithAttrReq {
    std::int32_t clientType = 0;
    std::string deviceId;
    std::string albumName;
    std::int32_t albumType = 0;
    GalleryAlbumAttr albumAttr;

    static constexpr std::string_view kFieldList =
        "clientType, deviceId, albumName, albumType, albumAttr";
    auto Fields() const { return std::tie(clientType, deviceId, albumName, albumType, albumAttr); }
};

struct DelAlbumReq {
    std::int32_t clientType = 0;
    std::string deviceId;
    std::string albumName;
    std::int32_t albumType = 0;
    std::int64_t albumId = 0;

    static constexpr std::string_view kFieldList =
        "clientType, deviceId, albumName, albumType, albumId";
    auto Fields() const { return std::tie(clientType, deviceId, albumName, albumType, albumId); }
};

struct ChgAlbumMembsReq {
    std::int32_t clientType = 0;
    std::string deviceId;
    std::int64_t albumId = 0;
    std::string albumName;
    std::int32_t albumType = 0;
    std::vector<AlbumMembFileItem> membs;
    std::int64_t addTime = 0;

    static constexpr std::string_view kFieldList =
        "clientType, deviceId, albumId, albumName, albumType, membs, addTime";
    auto Fields() const {
        return std::tie(clientType, deviceId, albumId, albumName, albumType, membs, addTime);
    }
};
