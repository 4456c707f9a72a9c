#include "emulator/Gallery.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"
#include "emulator/FileArea.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace fs = std::filesystem;

namespace zeqemu {

namespace {

constexpr int kOptAdd = 1;
constexpr int kOptModify = 2;
constexpr int kOptDelete = 3;
constexpr int kOptRecover = 4;
constexpr int kOptRemove = 5;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// yyyymmdd and yyyymm of a time, the keys a gallery groups by.
void DayAndMonth(std::int64_t seconds, std::int64_t& day, std::int64_t& month) {
    const auto time = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&time, &parts);
    month = (parts.tm_year + 1900) * 100 + parts.tm_mon + 1;
    day = month * 100 + parts.tm_mday;
}

// Not a cryptographic hash: a stable content fingerprint, like the device's.
std::string Fingerprint(const std::string& bytes) {
    std::uint64_t h = 1469598103934665603ULL;
    for (const unsigned char c : bytes) {
        h = (h ^ c) * 1099511628211ULL;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (int shift = 60; shift >= 0; shift -= 4) {
        text += kDigits[(h >> shift) & 0xf];
    }
    return text;
}

ApiError NoAlbum(std::int64_t albumId, int type) {
    return ApiError::Device(code::kNoSuchAlbum, "no album " + std::to_string(albumId) +
                                                    " of type " + std::to_string(type));
}

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

} // namespace

Gallery::Gallery(const fs::path& dataDir, std::int64_t ownerId, std::string ownerName)
    : m_mediaRoot(dataDir / "gallery" / "media"), m_binRoot(dataDir / "gallery" / "recycle"),
      m_state(dataDir / "state" / "gallery.json"), m_ownerId(ownerId),
      m_ownerName(std::move(ownerName)) {
    fs::create_directories(m_mediaRoot);
    fs::create_directories(m_binRoot);
    Load();
}

bool Gallery::IsEmpty() const {
    std::lock_guard lock(m_mutex);
    return m_items.empty() && m_albums.empty();
}

void Gallery::DeferSaves(bool defer) {
    std::lock_guard lock(m_mutex);
    m_deferSaves = defer;
    if (!defer && m_unsaved) {
        Save();
    }
}

fs::path Gallery::PathOf(const Item& item) const {
    return (item.recycled ? m_binRoot : m_mediaRoot) / item.stored;
}

std::int64_t Gallery::AddItem(const NewItem& meta, const std::string& bytes,
                              const std::string& deviceId) {
    std::lock_guard lock(m_mutex);
    Item item;
    item.fileId = m_nextFileId++;
    item.meta = meta;
    if (item.meta.mimeType.empty()) {
        item.meta.mimeType = FileArea::MimeOf(meta.name);
    }
    const auto dot = meta.name.rfind('.');
    item.stored =
        std::to_string(item.fileId) + (dot == std::string::npos ? "" : meta.name.substr(dot));
    item.size = static_cast<std::int64_t>(bytes.size());
    item.createTime = Now();
    item.dateModified = item.createTime;
    if (item.meta.takenTime == 0) {
        item.meta.takenTime = item.createTime;
    }
    item.hash = Fingerprint(bytes);
    StateFile::WriteAtomically(PathOf(item), bytes);
    m_items.emplace(item.fileId, item);
    PhotoChanged(item.fileId, kOptAdd, deviceId);
    Save();
    return item.fileId;
}

std::int64_t Gallery::ImportItem(int file, const std::string& name, const std::string& deviceId) {
    NewItem meta;
    meta.name = name;
    meta.mimeType = FileArea::MimeOf(name);
    meta.mediaType = meta.mimeType.rfind("video/", 0) == 0 ? kVideo : kPhoto;
    if (meta.mimeType.rfind("image/", 0) != 0 && meta.mediaType != kVideo) {
        throw ApiError::Device(code::kNoSuchGalleryFile, name + " is not a photo or a video");
    }
    std::string bytes;
    char buffer[65536];
    for (off_t at = 0;;) {
        const auto got = ::pread(file, buffer, sizeof buffer, at);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw ApiError::Device(code::kIoError, "cannot read " + name);
        }
        if (got == 0) {
            break;
        }
        bytes.append(buffer, static_cast<std::size_t>(got));
        at += got;
    }
    return AddItem(meta, bytes, deviceId);
}

fs::path Gallery::MediaFile(std::int64_t fileId, std::string& name) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_items.find(fileId);
    if (found == m_items.end() || found->second.recycled) {
        throw ApiError::Device(code::kNoSuchGalleryFile,
                               "no gallery file " + std::to_string(fileId));
    }
    name = found->second.meta.name;
    return PathOf(found->second);
}

bool Gallery::HasLiveItem(std::int64_t fileId) const {
    std::lock_guard lock(m_mutex);
    const auto found = m_items.find(fileId);
    return found != m_items.end() && !found->second.recycled;
}

std::int64_t Gallery::MediaBytes() const {
    std::lock_guard lock(m_mutex);
    std::int64_t total = 0;
    for (const auto& [id, item] : m_items) {
        total += item.size;
    }
    return total;
}

Json::Value Gallery::ItemJson(const Item& item) const {
    const auto& m = item.meta;
    std::int64_t day = 0;
    std::int64_t month = 0;
    DayAndMonth(m.takenTime, day, month);
    const auto id = std::to_string(item.fileId);
    Json::Value v(Json::objectValue);
    v["attachPath"] = "";
    v["city"] = m.city;
    v["comment"] = item.comment;
    v["country"] = m.country;
    v["createTime"] = J(item.createTime);
    v["dateModified"] = J(item.dateModified);
    v["day"] = J(day);
    v["district"] = m.district;
    v["duration"] = J(m.duration);
    v["favorite"] = J(m.favorite);
    v["fileId"] = J(item.fileId);
    v["fileSrcPath"] = "/gallery/src/" + m.name;
    v["hash"] = item.hash;
    v["zeqFilePath"] = "/gallery/media/" + item.stored;
    v["height"] = J(m.height);
    v["lcdFilePath"] = "/gallery/lcd/" + id + ".jpg";
    v["mediaType"] = m.mediaType;
    v["mimeType"] = m.mimeType;
    v["month"] = J(month);
    v["orientation"] = J(m.orientation);
    v["ownerId"] = J(m_ownerId);
    v["ownerName"] = m_ownerName;
    v["province"] = m.province;
    v["recycleFlag"] = item.recycled ? 1 : 0;
    v["size"] = J(item.size);
    v["sourceAlbum"] = J(m.sourceAlbum);
    v["subType"] = 0;
    v["takenTime"] = J(m.takenTime);
    v["thumbFilePath"] = "/gallery/thumb/" + id + ".jpg";
    v["township"] = m.township;
    v["viewPath"] = "/gallery/media/" + item.stored;
    v["width"] = J(m.width);
    return v;
}

Gallery::Paged Gallery::FullTable(std::int64_t startFileId, std::int64_t pageSize,
                                  std::int64_t& maxRowId) const {
    std::lock_guard lock(m_mutex);
    Paged page;
    // Ids after startFileId: the client passes the last id it has.
    for (auto it = m_items.upper_bound(startFileId); it != m_items.end(); ++it) {
        if (it->second.recycled) {
            continue;
        }
        if (static_cast<std::int64_t>(page.items.size()) == pageSize) {
            page.finished = false;
            break;
        }
        page.items.append(ItemJson(it->second));
        page.lastRowId = it->first;
    }
    maxRowId = m_photoChanges.empty() ? 0 : m_photoChanges.back().id;
    return page;
}

Gallery::Paged Gallery::IncTable(std::int64_t preRowId, std::int64_t pageSize) const {
    std::lock_guard lock(m_mutex);
    Paged page;
    for (const auto& change : m_photoChanges) {
        if (change.id <= preRowId) {
            continue;
        }
        if (static_cast<std::int64_t>(page.items.size()) == pageSize) {
            page.finished = false;
            break;
        }
        Json::Value v;
        v["fileId"] = J(change.fileId);
        v["rowId"] = J(change.id);
        v["operation"] = static_cast<int>(change.opt);
        v["deviceId"] = change.deviceId;
        page.items.append(v);
        page.lastRowId = change.id;
    }
    return page;
}

Json::Value Gallery::Selected(const std::vector<std::int64_t>& ids, bool& allFound) const {
    std::lock_guard lock(m_mutex);
    Json::Value data(Json::arrayValue);
    allFound = true;
    for (const auto id : ids) {
        const auto found = m_items.find(id);
        if (found == m_items.end()) {
            allFound = false;
            continue;
        }
        data.append(ItemJson(found->second));
    }
    return data;
}

void Gallery::SetComment(std::int64_t fileId, const std::string& comment,
                         const std::string& deviceId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_items.find(fileId);
    if (found == m_items.end() || found->second.recycled) {
        throw ApiError::Device(code::kNoSuchGalleryFile,
                               "no gallery file " + std::to_string(fileId));
    }
    found->second.comment = comment;
    found->second.dateModified = Now();
    PhotoChanged(fileId, kOptModify, deviceId);
    Save();
}

bool Gallery::Recycle(std::int64_t fileId, const std::string& deviceId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_items.find(fileId);
    if (found == m_items.end() || found->second.recycled) {
        return false;
    }
    auto& item = found->second;
    const auto from = PathOf(item);
    item.recycled = true;
    std::error_code ec;
    fs::rename(from, PathOf(item), ec);
    if (ec) {
        item.recycled = false;
        throw ApiError::Device(code::kIoError,
                               "cannot recycle " + item.meta.name + ": " + ec.message());
    }
    item.deleteTime = Now();
    PhotoChanged(fileId, kOptDelete, deviceId);
    Save();
    return true;
}

bool Gallery::Recover(std::int64_t fileId, const std::string& deviceId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_items.find(fileId);
    if (found == m_items.end() || !found->second.recycled) {
        return false;
    }
    auto& item = found->second;
    const auto from = PathOf(item);
    item.recycled = false;
    std::error_code ec;
    fs::rename(from, PathOf(item), ec);
    if (ec) {
        item.recycled = true;
        throw ApiError::Device(code::kIoError,
                               "cannot recover " + item.meta.name + ": " + ec.message());
    }
    item.deleteTime = 0;
    PhotoChanged(fileId, kOptRecover, deviceId);
    Save();
    return true;
}

bool Gallery::Purge(std::int64_t fileId, const std::string& deviceId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_items.find(fileId);
    if (found == m_items.end() || !found->second.recycled) {
        return false;
    }
    std::error_code ec;
    fs::remove(PathOf(found->second), ec);
    if (ec) {
        throw ApiError::Device(code::kIoError, "cannot remove " + found->second.meta.name);
    }
    m_items.erase(found);
    // Memberships end with the file; albums see the member go.
    for (auto& [albumId, album] : m_albums) {
        const auto before = album.members.size();
        std::erase_if(album.members, [&](const Member& m) { return m.fileId == fileId; });
        if (album.members.size() != before) {
            MemberChanged(album, fileId, 2);
        }
        if (album.coverId == fileId) {
            album.coverId = 0;
        }
    }
    PhotoChanged(fileId, kOptRemove, deviceId);
    Save();
    return true;
}

std::vector<std::int64_t> Gallery::BinIds() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::int64_t> ids;
    for (const auto& [id, item] : m_items) {
        if (item.recycled) {
            ids.push_back(id);
        }
    }
    return ids;
}

Json::Value Gallery::QueryBin(std::int64_t offset, std::int64_t num) const {
    std::lock_guard lock(m_mutex);
    std::vector<const Item*> binned;
    for (const auto& [id, item] : m_items) {
        if (item.recycled) {
            binned.push_back(&item);
        }
    }
    // Newest deletion first; ids break ties so pages are stable.
    std::sort(binned.begin(), binned.end(), [](const Item* a, const Item* b) {
        return a->deleteTime != b->deleteTime ? a->deleteTime > b->deleteTime
                                              : a->fileId > b->fileId;
    });
    Json::Value data(Json::arrayValue);
    for (auto i = std::max<std::int64_t>(offset, 0);
         i < static_cast<std::int64_t>(binned.size()) && data.size() < num; ++i) {
        const auto full = ItemJson(*binned[static_cast<std::size_t>(i)]);
        Json::Value v;
        for (const char* key : {"fileId", "thumbFilePath", "lcdFilePath", "zeqFilePath",
                                "orientation", "mediaType", "fileSrcPath", "viewPath", "duration",
                                "createTime", "attachPath", "takenTime", "subType"}) {
            v[key] = full[key];
        }
        v["mtime"] = static_cast<Json::Int>(binned[static_cast<std::size_t>(i)]->deleteTime);
        data.append(v);
    }
    return data;
}

std::int64_t Gallery::LiveCount(const Album& album) const {
    return std::count_if(album.members.begin(), album.members.end(), [&](const Member& m) {
        const auto found = m_items.find(m.fileId);
        return found != m_items.end() && !found->second.recycled;
    });
}

Json::Value Gallery::AlbumJson(const Album& album) const {
    Json::Value v(Json::objectValue);
    v["albumId"] = J(album.albumId);
    v["albumName"] = album.name;
    v["albumType"] = album.type;
    // The chosen cover, else the newest live member.
    std::int64_t coverId = album.coverId;
    if (coverId == 0 || !m_items.count(coverId) || m_items.at(coverId).recycled) {
        coverId = 0;
        for (auto it = album.members.rbegin(); it != album.members.rend(); ++it) {
            const auto found = m_items.find(it->fileId);
            if (found != m_items.end() && !found->second.recycled) {
                coverId = it->fileId;
                break;
            }
        }
    }
    v["coverInfo"] = Json::Value(Json::arrayValue);
    if (coverId != 0) {
        const auto& item = m_items.at(coverId);
        const auto full = ItemJson(item);
        Json::Value cover;
        cover["coverId"] = J(coverId);
        for (const char* key : {"thumbFilePath", "zeqFilePath", "lcdFilePath", "ownerName",
                                "mediaType", "orientation"}) {
            cover[key] = full[key];
        }
        Json::Value face(Json::arrayValue);
        if (album.type == kFaceAlbum) {
            // A stable made-up face box inside the picture.
            face.append(J(coverId * 37 % std::max<std::int64_t>(item.meta.width / 2, 1)));
            face.append(J(coverId * 53 % std::max<std::int64_t>(item.meta.height / 2, 1)));
            face.append(J(std::max<std::int64_t>(item.meta.width / 5, 1)));
            face.append(J(std::max<std::int64_t>(item.meta.height / 5, 1)));
        }
        cover["faceCoordinate"] = face;
        const auto lcdHeight = std::min<std::int64_t>(item.meta.height, 1080);
        cover["lcdHeight"] = J(lcdHeight);
        cover["lcdWidth"] =
            J(item.meta.height > 0 ? item.meta.width * lcdHeight / item.meta.height : 0);
        v["coverInfo"].append(cover);
    }
    v["num"] = J(LiveCount(album));
    v["createTime"] = J(album.createTime);
    Json::Value attr;
    attr["gender"] = album.attr.gender;
    attr["birth"] = album.attr.birth;
    v["albumAttr"] = attr;
    v["ownerId"] = J(m_ownerId);
    v["isOwner"] = 1;
    v["hiddenStatus"] = album.hiddenStatus;
    return v;
}

Gallery::Album& Gallery::FindAlbum(std::int64_t albumId, int type) {
    const auto found = m_albums.find(albumId);
    if (found == m_albums.end() || found->second.type != type) {
        throw NoAlbum(albumId, type);
    }
    return found->second;
}

const Gallery::Album& Gallery::FindAlbum(std::int64_t albumId, int type) const {
    const auto found = m_albums.find(albumId);
    if (found == m_albums.end() || found->second.type != type) {
        throw NoAlbum(albumId, type);
    }
    return found->second;
}

Json::Value Gallery::AllAlbums(std::int64_t lastAlbumId, std::int64_t num, std::int64_t& nextLast,
                               std::int64_t& preId) const {
    std::lock_guard lock(m_mutex);
    Json::Value list(Json::arrayValue);
    nextLast = lastAlbumId;
    for (auto it = m_albums.upper_bound(lastAlbumId);
         it != m_albums.end() && static_cast<std::int64_t>(list.size()) < num; ++it) {
        list.append(AlbumJson(it->second));
        nextLast = it->first;
    }
    preId = m_albumChanges.empty() ? 0 : m_albumChanges.back().id;
    return list;
}

Json::Value Gallery::AlbumsOfType(int type, std::int64_t& preId) const {
    std::lock_guard lock(m_mutex);
    Json::Value list(Json::arrayValue);
    for (const auto& [id, album] : m_albums) {
        if (album.type == type) {
            list.append(AlbumJson(album));
        }
    }
    preId = m_albumChanges.empty() ? 0 : m_albumChanges.back().id;
    return list;
}

Json::Value Gallery::AlbumModel(std::int64_t albumId, int type) const {
    std::lock_guard lock(m_mutex);
    return AlbumJson(FindAlbum(albumId, type));
}

Gallery::Paged Gallery::AlbumFiles(std::int64_t albumId, int type, std::int64_t lastRowId,
                                   std::int64_t num) const {
    std::lock_guard lock(m_mutex);
    const auto& album = FindAlbum(albumId, type);
    Paged page;
    for (const auto& member : album.members) {
        const auto found = m_items.find(member.fileId);
        if (member.rowId <= lastRowId || found == m_items.end() || found->second.recycled) {
            continue;
        }
        if (static_cast<std::int64_t>(page.items.size()) == num) {
            page.finished = false;
            break;
        }
        page.items.append(ItemJson(found->second));
        page.lastRowId = member.rowId;
        page.lastCreateTime = found->second.createTime;
    }
    return page;
}

Gallery::Paged Gallery::MembersOfType(int type, std::int64_t lastRowId, std::int64_t num,
                                      std::int64_t& preId) const {
    std::lock_guard lock(m_mutex);
    std::vector<std::pair<const Member*, std::int64_t>> rows;
    for (const auto& [id, album] : m_albums) {
        if (album.type != type) {
            continue;
        }
        for (const auto& member : album.members) {
            if (member.rowId > lastRowId) {
                rows.emplace_back(&member, id);
            }
        }
    }
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return a.first->rowId < b.first->rowId; });
    Paged page;
    for (const auto& [member, albumId] : rows) {
        if (static_cast<std::int64_t>(page.items.size()) == num) {
            page.finished = false;
            break;
        }
        Json::Value v;
        v["fileId"] = J(member->fileId);
        v["albumId"] = J(albumId);
        page.items.append(v);
        page.lastRowId = member->rowId;
        const auto found = m_items.find(member->fileId);
        page.lastCreateTime = found == m_items.end() ? 0 : found->second.createTime;
    }
    preId = m_memberChanges.empty() ? 0 : m_memberChanges.back().id;
    return page;
}

Gallery::Paged Gallery::AlbumChanges(std::int64_t preId, std::int64_t num) const {
    std::lock_guard lock(m_mutex);
    Paged page;
    page.lastRowId = preId;
    for (const auto& change : m_albumChanges) {
        if (change.id <= preId) {
            continue;
        }
        if (static_cast<std::int64_t>(page.items.size()) == num) {
            page.finished = false;
            break;
        }
        Json::Value v;
        v["albumId"] = J(change.albumId);
        v["albumType"] = change.albumType;
        v["optTime"] = J(change.time);
        v["optType"] = J(change.opt);
        page.items.append(v);
        page.lastRowId = change.id;
    }
    return page;
}

Gallery::Paged Gallery::MemberChanges(std::int64_t preId, int type, std::int64_t num) const {
    std::lock_guard lock(m_mutex);
    Paged page;
    page.lastRowId = preId;
    for (const auto& change : m_memberChanges) {
        if (change.id <= preId) {
            continue;
        }
        // The cursor still moves past other types, so the next call starts later.
        page.lastRowId = change.id;
        if (change.albumType != type) {
            continue;
        }
        Json::Value v;
        v["albumId"] = J(change.albumId);
        v["fileId"] = J(change.fileId);
        v["albumType"] = change.albumType;
        v["optTime"] = J(change.time);
        v["optType"] = J(change.opt);
        page.items.append(v);
        if (static_cast<std::int64_t>(page.items.size()) == num) {
            page.finished = false;
            break;
        }
    }
    return page;
}

std::int64_t Gallery::CreateAlbum(const std::string& name, int type, const AlbumAttr* attr) {
    if (type != kUserAlbum && type != kSharedAlbum && type != kFaceAlbum) {
        throw ApiError::Device(code::kAlbumKind,
                               "albums of type " + std::to_string(type) + " cannot be created");
    }
    // Face albums start without a name: the device finds the person first.
    if (name.empty() && type != kFaceAlbum) {
        throw ApiError::BadRequest(code::kBadField, "albumName must not be empty");
    }
    std::lock_guard lock(m_mutex);
    for (const auto& [id, album] : m_albums) {
        if (!name.empty() && album.type == type && album.name == name) {
            throw ApiError::Device(code::kAlbumNameTaken, "an album named " + name + " exists");
        }
    }
    Album album;
    album.albumId = m_nextAlbumId++;
    album.name = name;
    album.type = type;
    album.createTime = Now();
    if (attr != nullptr) {
        album.attr = *attr;
    }
    const auto& stored = m_albums.emplace(album.albumId, album).first->second;
    AlbumChanged(stored, kOptAdd);
    Save();
    return album.albumId;
}

void Gallery::DeleteAlbum(std::int64_t albumId, int type, const std::string& name) {
    std::lock_guard lock(m_mutex);
    const auto& album = FindAlbum(albumId, type);
    if (type == kFaceAlbum) {
        throw ApiError::Device(code::kAlbumKind, "face albums are hidden or merged, not deleted");
    }
    if (!name.empty() && name != album.name) {
        throw NoAlbum(albumId, type);
    }
    for (const auto& member : album.members) {
        MemberChanged(album, member.fileId, 2);
    }
    AlbumChanged(album, kOptDelete);
    m_albums.erase(albumId);
    Save();
}

void Gallery::RenameAlbum(std::int64_t albumId, int type, const std::string& name) {
    if (name.empty()) {
        throw ApiError::BadRequest(code::kBadField, "albumName must not be empty");
    }
    std::lock_guard lock(m_mutex);
    auto& album = FindAlbum(albumId, type);
    for (const auto& [id, other] : m_albums) {
        if (id != albumId && other.type == type && other.name == name) {
            throw ApiError::Device(code::kAlbumNameTaken, "an album named " + name + " exists");
        }
    }
    album.name = name;
    AlbumChanged(album, kOptModify);
    Save();
}

void Gallery::SetCover(std::int64_t albumId, int type, std::int64_t coverId) {
    std::lock_guard lock(m_mutex);
    auto& album = FindAlbum(albumId, type);
    const bool member = std::any_of(album.members.begin(), album.members.end(),
                                    [&](const Member& m) { return m.fileId == coverId; });
    if (!member) {
        throw ApiError::Device(code::kNoSuchGalleryFile,
                               "file " + std::to_string(coverId) + " is not in the album");
    }
    album.coverId = coverId;
    AlbumChanged(album, kOptModify);
    Save();
}

void Gallery::SetAttr(std::int64_t albumId, int type, const AlbumAttr& attr) {
    std::lock_guard lock(m_mutex);
    auto& album = FindAlbum(albumId, type);
    album.attr = attr;
    AlbumChanged(album, kOptModify);
    Save();
}

void Gallery::MakeShared(std::int64_t albumId, int type) {
    std::lock_guard lock(m_mutex);
    auto& album = FindAlbum(albumId, type);
    if (album.type == kSharedAlbum) {
        return;
    }
    if (album.type != kUserAlbum) {
        throw ApiError::Device(code::kAlbumKind, "only user albums can be shared");
    }
    album.type = kSharedAlbum;
    AlbumChanged(album, kOptModify);
    Save();
}

void Gallery::RequireAlbum(std::int64_t albumId, int type) const {
    std::lock_guard lock(m_mutex);
    FindAlbum(albumId, type);
}

bool Gallery::AddMember(std::int64_t albumId, std::int64_t fileId, std::int64_t addTime) {
    std::lock_guard lock(m_mutex);
    const auto found = m_albums.find(albumId);
    const auto item = m_items.find(fileId);
    if (found == m_albums.end() || item == m_items.end() || item->second.recycled) {
        return false;
    }
    auto& album = found->second;
    if (std::any_of(album.members.begin(), album.members.end(),
                    [&](const Member& m) { return m.fileId == fileId; })) {
        return false;
    }
    album.members.push_back({fileId, m_nextRowId++, addTime != 0 ? addTime : Now()});
    MemberChanged(album, fileId, 1);
    Save();
    return true;
}

bool Gallery::RemoveMember(std::int64_t albumId, std::int64_t fileId) {
    std::lock_guard lock(m_mutex);
    const auto found = m_albums.find(albumId);
    if (found == m_albums.end()) {
        return false;
    }
    auto& album = found->second;
    const auto before = album.members.size();
    std::erase_if(album.members, [&](const Member& m) { return m.fileId == fileId; });
    if (album.members.size() == before) {
        return false;
    }
    if (album.coverId == fileId) {
        album.coverId = 0;
    }
    MemberChanged(album, fileId, 2);
    Save();
    return true;
}

void Gallery::MergeFaceAlbums(const std::string& name, const std::vector<std::int64_t>& albumIds) {
    if (albumIds.size() < 2) {
        throw ApiError::BadRequest(code::kBadField, "albumIdMembs needs two albums or more");
    }
    std::lock_guard lock(m_mutex);
    for (const auto id : albumIds) {
        FindAlbum(id, kFaceAlbum); // all or nothing
    }
    auto& target = FindAlbum(albumIds.front(), kFaceAlbum);
    for (std::size_t i = 1; i < albumIds.size(); ++i) {
        if (albumIds[i] == target.albumId) {
            continue;
        }
        auto& source = FindAlbum(albumIds[i], kFaceAlbum);
        for (const auto& member : source.members) {
            MemberChanged(source, member.fileId, 2);
            const bool present =
                std::any_of(target.members.begin(), target.members.end(),
                            [&](const Member& m) { return m.fileId == member.fileId; });
            if (!present) {
                target.members.push_back({member.fileId, m_nextRowId++, Now()});
                MemberChanged(target, member.fileId, 1);
            }
        }
        AlbumChanged(source, kOptDelete);
        m_albums.erase(albumIds[i]);
    }
    if (!name.empty()) {
        target.name = name;
    }
    AlbumChanged(target, kOptModify);
    Save();
}

void Gallery::SetHidden(const std::vector<std::int64_t>& albumIds, int type, int hiddenStatus) {
    if (hiddenStatus != 0 && hiddenStatus != 1) {
        throw ApiError::BadRequest(code::kBadField, "hiddenStatus must be 0 or 1");
    }
    std::lock_guard lock(m_mutex);
    for (const auto id : albumIds) {
        FindAlbum(id, type);
    }
    for (const auto id : albumIds) {
        auto& album = FindAlbum(id, type);
        album.hiddenStatus = hiddenStatus;
        AlbumChanged(album, kOptModify);
    }
    Save();
}

void Gallery::AlbumChanged(const Album& album, int opt) {
    const auto id = m_albumChanges.empty() ? 1 : m_albumChanges.back().id + 1;
    m_albumChanges.push_back({id, album.albumId, 0, album.type, Now(), opt, {}});
}

void Gallery::MemberChanged(const Album& album, std::int64_t fileId, int opt) {
    const auto id = m_memberChanges.empty() ? 1 : m_memberChanges.back().id + 1;
    m_memberChanges.push_back({id, album.albumId, fileId, album.type, Now(), opt, {}});
}

void Gallery::PhotoChanged(std::int64_t fileId, int operation, const std::string& deviceId) {
    const auto id = m_photoChanges.empty() ? 1 : m_photoChanges.back().id + 1;
    m_photoChanges.push_back({id, 0, fileId, 0, Now(), operation, deviceId});
}

void Gallery::Save() {
    if (m_deferSaves) {
        m_unsaved = true;
        return;
    }
    m_unsaved = false;
    Json::Value doc(Json::objectValue);
    doc["nextFileId"] = J(m_nextFileId);
    doc["nextAlbumId"] = J(m_nextAlbumId);
    doc["nextRowId"] = J(m_nextRowId);
    auto& items = doc["items"] = Json::Value(Json::arrayValue);
    for (const auto& [id, item] : m_items) {
        const auto& m = item.meta;
        Json::Value v;
        v["fileId"] = J(id);
        v["name"] = m.name;
        v["mimeType"] = m.mimeType;
        v["mediaType"] = m.mediaType;
        v["width"] = J(m.width);
        v["height"] = J(m.height);
        v["duration"] = J(m.duration);
        v["orientation"] = J(m.orientation);
        v["takenTime"] = J(m.takenTime);
        v["city"] = m.city;
        v["country"] = m.country;
        v["province"] = m.province;
        v["district"] = m.district;
        v["township"] = m.township;
        v["favorite"] = J(m.favorite);
        v["sourceAlbum"] = J(m.sourceAlbum);
        v["size"] = J(item.size);
        v["createTime"] = J(item.createTime);
        v["dateModified"] = J(item.dateModified);
        v["comment"] = item.comment;
        v["hash"] = item.hash;
        v["stored"] = item.stored;
        v["recycled"] = item.recycled;
        v["deleteTime"] = J(item.deleteTime);
        items.append(v);
    }
    auto& albums = doc["albums"] = Json::Value(Json::arrayValue);
    for (const auto& [id, album] : m_albums) {
        Json::Value v;
        v["albumId"] = J(id);
        v["name"] = album.name;
        v["type"] = album.type;
        v["createTime"] = J(album.createTime);
        v["hiddenStatus"] = album.hiddenStatus;
        v["gender"] = album.attr.gender;
        v["birth"] = album.attr.birth;
        v["coverId"] = J(album.coverId);
        auto& members = v["members"] = Json::Value(Json::arrayValue);
        for (const auto& member : album.members) {
            Json::Value m;
            m["fileId"] = J(member.fileId);
            m["rowId"] = J(member.rowId);
            m["addTime"] = J(member.addTime);
            members.append(m);
        }
        albums.append(v);
    }
    const auto saveChanges = [](const std::vector<Change>& changes) {
        Json::Value list(Json::arrayValue);
        for (const auto& c : changes) {
            Json::Value v;
            v["id"] = J(c.id);
            v["albumId"] = J(c.albumId);
            v["fileId"] = J(c.fileId);
            v["albumType"] = c.albumType;
            v["time"] = J(c.time);
            v["opt"] = J(c.opt);
            v["deviceId"] = c.deviceId;
            list.append(v);
        }
        return list;
    };
    doc["albumChanges"] = saveChanges(m_albumChanges);
    doc["memberChanges"] = saveChanges(m_memberChanges);
    doc["photoChanges"] = saveChanges(m_photoChanges);
    m_state.Save(doc);
}

void Gallery::Load() {
    const auto doc = m_state.Load();
    if (doc.isNull()) {
        return;
    }
    m_nextFileId = doc["nextFileId"].asInt64();
    m_nextAlbumId = doc["nextAlbumId"].asInt64();
    m_nextRowId = doc["nextRowId"].asInt64();
    for (const auto& v : doc["items"]) {
        Item item;
        auto& m = item.meta;
        item.fileId = v["fileId"].asInt64();
        m.name = v["name"].asString();
        m.mimeType = v["mimeType"].asString();
        m.mediaType = v["mediaType"].asInt();
        m.width = v["width"].asInt64();
        m.height = v["height"].asInt64();
        m.duration = v["duration"].asInt64();
        m.orientation = v["orientation"].asInt64();
        m.takenTime = v["takenTime"].asInt64();
        m.city = v["city"].asString();
        m.country = v["country"].asString();
        m.province = v["province"].asString();
        m.district = v["district"].asString();
        m.township = v["township"].asString();
        m.favorite = v["favorite"].asInt64();
        m.sourceAlbum = v["sourceAlbum"].asInt64();
        item.size = v["size"].asInt64();
        item.createTime = v["createTime"].asInt64();
        item.dateModified = v["dateModified"].asInt64();
        item.comment = v["comment"].asString();
        item.hash = v["hash"].asString();
        item.stored = v["stored"].asString();
        item.recycled = v["recycled"].asBool();
        item.deleteTime = v["deleteTime"].asInt64();
        m_items.emplace(item.fileId, item);
    }
    for (const auto& v : doc["albums"]) {
        Album album;
        album.albumId = v["albumId"].asInt64();
        album.name = v["name"].asString();
        album.type = v["type"].asInt();
        album.createTime = v["createTime"].asInt64();
        album.hiddenStatus = v["hiddenStatus"].asInt();
        album.attr.gender = v["gender"].asInt();
        album.attr.birth = v["birth"].asString();
        album.coverId = v["coverId"].asInt64();
        for (const auto& m : v["members"]) {
            album.members.push_back(
                {m["fileId"].asInt64(), m["rowId"].asInt64(), m["addTime"].asInt64()});
        }
        m_albums.emplace(album.albumId, album);
    }
    const auto loadChanges = [](const Json::Value& list, std::vector<Change>& changes) {
        for (const auto& v : list) {
            changes.push_back({v["id"].asInt64(), v["albumId"].asInt64(), v["fileId"].asInt64(),
                               v["albumType"].asInt(), v["time"].asInt64(), v["opt"].asInt64(),
                               v["deviceId"].asString()});
        }
    };
    loadChanges(doc["albumChanges"], m_albumChanges);
    loadChanges(doc["memberChanges"], m_memberChanges);
    loadChanges(doc["photoChanges"], m_photoChanges);
}

} // namespace zeqemu
