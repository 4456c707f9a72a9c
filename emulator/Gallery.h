#pragma once

#include "emulator/StateFile.h"

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace zeqemu {

// The device's photo gallery: media files (real files under gallery/media),
// their metadata, the albums of the user (plain, shared, face), album members,
// the three change feeds with increasing ids, and the gallery recycle bin.
// Replies are built here as JSON because the records are wide and every
// gallery path shares them; every public member is atomic.
class Gallery {
public:
    static constexpr int kUserAlbum = 1;
    static constexpr int kSharedAlbum = 6;
    static constexpr int kFaceAlbum = 23;

    static constexpr int kPhoto = 1;
    static constexpr int kVideo = 2;

    struct NewItem {
        std::string name;
        std::string mimeType;
        int mediaType = kPhoto;
        std::int64_t width = 0, height = 0, duration = 0, orientation = 0;
        std::int64_t takenTime = 0; // seconds since the epoch
        std::string city, country, province, district, township;
        std::int64_t favorite = 0;
        std::int64_t sourceAlbum = 0;
    };
    struct Paged {
        Json::Value items = Json::Value(Json::arrayValue);
        bool finished = true;
        std::int64_t lastRowId = 0;
        std::int64_t lastCreateTime = 0;
    };
    struct AlbumAttr {
        int gender = 0;
        std::string birth;
    };

    Gallery(const std::filesystem::path& dataDir, std::int64_t ownerId, std::string ownerName);

    bool IsEmpty() const;
    // While deferred, changes are kept in memory only; ending the deferral
    // saves once. For bulk loading (seeding), where one save per change
    // would mean hundreds of fsyncs.
    void DeferSaves(bool defer);

    // Media.
    std::int64_t AddItem(const NewItem& item, const std::string& bytes,
                         const std::string& deviceId);
    // The bytes of an open file (of the file area) as a new item.
    std::int64_t ImportItem(int file, const std::string& name, const std::string& deviceId);
    // The media file and name of a live item; throws ApiError for unknown ids.
    std::filesystem::path MediaFile(std::int64_t fileId, std::string& name) const;
    bool HasLiveItem(std::int64_t fileId) const;
    std::int64_t MediaBytes() const;

    // Photo metadata.
    Paged FullTable(std::int64_t startFileId, std::int64_t pageSize, std::int64_t& maxRowId) const;
    Paged IncTable(std::int64_t preRowId, std::int64_t pageSize) const;
    Json::Value Selected(const std::vector<std::int64_t>& ids, bool& allFound) const;
    void SetComment(std::int64_t fileId, const std::string& comment, const std::string& deviceId);

    // Recycle bin; each returns false when the id was not in the right state.
    bool Recycle(std::int64_t fileId, const std::string& deviceId);
    bool Recover(std::int64_t fileId, const std::string& deviceId);
    bool Purge(std::int64_t fileId, const std::string& deviceId);
    std::vector<std::int64_t> BinIds() const;
    Json::Value QueryBin(std::int64_t offset, std::int64_t num) const;

    // Albums.
    Json::Value AllAlbums(std::int64_t lastAlbumId, std::int64_t num, std::int64_t& nextLast,
                          std::int64_t& preId) const;
    Json::Value AlbumsOfType(int type, std::int64_t& preId) const;
    Json::Value AlbumModel(std::int64_t albumId, int type) const;
    Paged AlbumFiles(std::int64_t albumId, int type, std::int64_t lastRowId,
                     std::int64_t num) const;
    Paged MembersOfType(int type, std::int64_t lastRowId, std::int64_t num,
                        std::int64_t& preId) const;
    Paged AlbumChanges(std::int64_t preId, std::int64_t num) const;
    Paged MemberChanges(std::int64_t preId, int type, std::int64_t num) const;

    std::int64_t CreateAlbum(const std::string& name, int type, const AlbumAttr* attr);
    void DeleteAlbum(std::int64_t albumId, int type, const std::string& name);
    void RenameAlbum(std::int64_t albumId, int type, const std::string& name);
    void SetCover(std::int64_t albumId, int type, std::int64_t coverId);
    void SetAttr(std::int64_t albumId, int type, const AlbumAttr& attr);
    void MakeShared(std::int64_t albumId, int type);
    // Throws for an unknown album; answers whether fileId was added/removed.
    void RequireAlbum(std::int64_t albumId, int type) const;
    bool AddMember(std::int64_t albumId, std::int64_t fileId, std::int64_t addTime);
    bool RemoveMember(std::int64_t albumId, std::int64_t fileId);
    void MergeFaceAlbums(const std::string& name, const std::vector<std::int64_t>& albumIds);
    void SetHidden(const std::vector<std::int64_t>& albumIds, int type, int hiddenStatus);

private:
    struct Item {
        std::int64_t fileId = 0;
        NewItem meta;
        std::int64_t size = 0;
        std::int64_t createTime = 0;
        std::int64_t dateModified = 0;
        std::string comment;
        std::string hash;
        std::string stored; // file name under media/ or recycle/
        bool recycled = false;
        std::int64_t deleteTime = 0;
    };
    struct Member {
        std::int64_t fileId = 0;
        std::int64_t rowId = 0;
        std::int64_t addTime = 0;
    };
    struct Album {
        std::int64_t albumId = 0;
        std::string name;
        int type = kUserAlbum;
        std::int64_t createTime = 0;
        int hiddenStatus = 0;
        AlbumAttr attr;
        std::int64_t coverId = 0;
        std::vector<Member> members;
    };
    struct Change {
        std::int64_t id = 0;
        std::int64_t albumId = 0;
        std::int64_t fileId = 0;
        int albumType = 0;
        std::int64_t time = 0;
        std::int64_t opt = 0;
        std::string deviceId;
    };

    Json::Value ItemJson(const Item& item) const;
    Json::Value AlbumJson(const Album& album) const;
    Album& FindAlbum(std::int64_t albumId, int type);
    const Album& FindAlbum(std::int64_t albumId, int type) const;
    std::int64_t LiveCount(const Album& album) const;
    void AlbumChanged(const Album& album, int opt);
    void MemberChanged(const Album& album, std::int64_t fileId, int opt);
    void PhotoChanged(std::int64_t fileId, int operation, const std::string& deviceId);
    std::filesystem::path PathOf(const Item& item) const;
    void Save();
    void Load();

    std::filesystem::path m_mediaRoot;
    std::filesystem::path m_binRoot;
    StateFile m_state;
    std::int64_t m_ownerId;
    std::string m_ownerName;

    mutable std::mutex m_mutex;
    std::map<std::int64_t, Item> m_items;
    std::map<std::int64_t, Album> m_albums;
    std::vector<Change> m_albumChanges;
    std::vector<Change> m_memberChanges;
    std::vector<Change> m_photoChanges;
    std::int64_t m_nextFileId = 1;
    std::int64_t m_nextAlbumId = 1;
    std::int64_t m_nextRowId = 1;
    bool m_deferSaves = false;
    bool m_unsaved = false;
};

} // namespace zeqemu
