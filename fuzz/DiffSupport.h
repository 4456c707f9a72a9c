#pragma once

#include "FuzzSupport.h"

#include "core/HttpPostRspCode.h"
#include "platform/Scribo.h"
#include "services/AlbumModels.h"
#include "services/FileModels.h"
#include "services/PhotoModels.h"
#include "services/TaskCenterModels.h"

#include <json/value.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

// What the differential fuzz targets share: each runs a reply step of the
// library and its jsoncpp reference (fuzz/reference) on the same text, from
// the same starting record, and stops on any difference in the result, the
// record, the log lines or an exception thrown.
namespace difffuzz {

inline void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// ---- Records, member by member ----

inline auto Members(const HttpPostRspCode& r) {
    return std::tie(r.code, r.des);
}
inline auto Members(const GalleryAlbumAttr& r) {
    return std::tie(r.gender, r.birth);
}
inline auto Members(const AlbumCoverInfo& r) {
    return std::tie(r.coverId, r.thumbFilePath, r.zeqFilePath, r.lcdFilePath, r.ownerName,
                    r.mediaType, r.orientation, r.faceCoordinate, r.lcdHeight, r.lcdWidth);
}
inline auto Members(const AlbumBasicModel& r) {
    return std::tie(r.albumId, r.albumName, r.albumType, r.coverInfo, r.num, r.createTime,
                    r.albumAttr, r.ownerId, r.isOwner, r.hiddenStatus);
}
inline auto Members(const AlbumMembInfo& r) {
    return std::tie(r.ownerName, r.attachPath, r.city, r.comment, r.country, r.province, r.district,
                    r.township, r.fileSrcPath, r.hash, r.zeqFilePath, r.lcdFilePath,
                    r.thumbFilePath, r.viewPath, r.mimeType, r.ownerId, r.createTime,
                    r.dateModified, r.takenTime, r.day, r.duration, r.favorite, r.fileId, r.month,
                    r.height, r.width, r.size, r.orientation, r.mediaType, r.recycleFlag,
                    r.sourceAlbum, r.subType);
}
inline auto Members(const GalleryAllAlbumListRsp& r) {
    return std::tie(r.code, r.des, r.albumlist, r.lastAlbumId, r.num, r.preId);
}
inline auto Members(const AlbumInfoRsp& r) {
    return std::tie(r.code, r.des, r.lastCretime, r.lastRowId, r.num, r.data);
}
inline auto Members(const AlbumIncItem& r) {
    return std::tie(r.albumId, r.albumType, r.optTime, r.optType);
}
inline auto Members(const GalleryAlbumIncInfoRsp& r) {
    return std::tie(r.code, r.des, r.lastId, r.data);
}
inline auto Members(const AlbumMembRef& r) {
    return std::tie(r.fileId, r.albumId);
}
inline auto Members(const GalleryAlbumMembersInfoRsp& r) {
    return std::tie(r.code, r.des, r.lastRowId, r.lastCretime, r.preId, r.data);
}
inline auto Members(const AlbumMembIncItem& r) {
    return std::tie(r.albumId, r.fileId, r.albumType, r.optTime, r.optType);
}
inline auto Members(const GalleryAlbumMemberIncInfoRsp& r) {
    return std::tie(r.code, r.des, r.data, r.lastId);
}
inline auto Members(const GalleryModel& r) {
    return std::tie(r.attachPath, r.city, r.comment, r.country, r.createTime, r.dateModified, r.day,
                    r.district, r.duration, r.favorite, r.fileId, r.fileSrcPath, r.hash,
                    r.zeqFilePath, r.height, r.lcdFilePath, r.mediaType, r.mimeType, r.month,
                    r.orientation, r.ownerId, r.ownerName, r.province, r.recycleFlag, r.size,
                    r.sourceAlbum, r.subType, r.takenTime, r.thumbFilePath, r.township, r.viewPath,
                    r.width);
}
inline auto Members(const GalleryFilesAllMetadataRsp& r) {
    return std::tie(r.code, r.des, r.hasMore, r.maxRowId, r.num, r.data);
}
inline auto Members(const GalleryFileIncItem& r) {
    return std::tie(r.fileId, r.rowId, r.operation, r.deviceId);
}
inline auto Members(const GalleryFilesIncRsp& r) {
    return std::tie(r.code, r.des, r.hasMore, r.num, r.data);
}
inline auto Members(const GalleryFilesSelectedMetadataRsp& r) {
    return std::tie(r.num, r.data);
}
inline auto Members(const BinFileInfo& r) {
    return std::tie(r.fileId, r.thumbFilePath, r.lcdFilePath, r.zeqFilePath, r.orientation,
                    r.mediaType, r.fileSrcPath, r.viewPath, r.duration, r.mtime, r.createTime,
                    r.attachPath, r.takenTime, r.subType);
}
inline auto Members(const BinQueryInfo& r) {
    return std::tie(r.offset, r.num, r.data);
}
inline auto Members(const FileData& r) {
    return std::tie(r.id, r.attr, r.count, r.mtime, r.name, r.type, r.version, r.mime, r.thumb,
                    r.fullPath, r.orientation, r.size, r.freeSize, r.parentPath, r.path, r.action,
                    r.time, r.desc, r.category, r.fid, r.requestTag, r.visibility);
}
inline auto Members(const FileListData& r) {
    return std::tie(r.code, r.hasMore, r.parentPath, r.rawReply, r.offset, r.files);
}
inline auto Members(const FolderDetailResp& r) {
    return std::tie(r.code, r.name, r.size, r.mtime, r.dirCount, r.fileCount, r.version);
}
inline auto Members(const RecycleFileData& r) {
    return std::tie(r.name, r.type, r.rid, r.size, r.count, r.dtime, r.orientation, r.mime, r.path,
                    r.thumb);
}
inline auto Members(const RecycleFileListData& r) {
    return std::tie(r.hasMore, r.count, r.offset, r.files);
}
inline auto Members(const UsbDiskInfo& r) {
    return std::tie(r.name, r.freeSize, r.totalSize);
}
inline auto Members(const UsbStatusResp& r) {
    return std::tie(r.code, r.version, r.status, r.mountPath, r.info);
}
inline auto Members(const FolderFileEntry& r) {
    return std::tie(r.type, r.fid, r.mtime, r.size, r.hash, r.mimeType, r.relativePath,
                    r.thumbPath);
}
inline auto Members(const FolderStructureResp& r) {
    return std::tie(r.code, r.offset, r.parentDir, r.files, r.hasMore);
}
inline auto Members(const RecoverErrorInfo& r) {
    return std::tie(r.path, r.id, r.status);
}
inline auto Members(const RcvProgressRespData& r) {
    return std::tie(r.total, r.proSuccess, r.proFailure, r.status, r.errorInfos);
}
inline auto Members(const FileBaseData& r) {
    return std::tie(r.code, r.desc, r.version, r.fid);
}
inline auto Members(const CopyMoveTaskResult& r) {
    return std::tie(r.name, r.id, r.centerId, r.subtaskId, r.transId);
}
inline auto Members(const CopyMoveResp& r) {
    return std::tie(r.code, r.desc, r.tasks);
}
inline auto Members(const DeleteResp& r) {
    return std::tie(r.code, r.progressId);
}
inline auto Members(const FolderCreateError& r) {
    return std::tie(r.path, r.err);
}
inline auto Members(const FolderStructureCreateResp& r) {
    return std::tie(r.code, r.errorInfos);
}
inline auto Members(const FileBatchOperationResp& r) {
    return std::tie(r.code, r.taskId, r.transId);
}
inline auto Members(const TaskInfo& r) {
    return std::tie(r.uniqueKey, r.taskId, r.taskType, r.progress, r.taskBeginTime, r.sumNum,
                    r.finishedNum, r.originObjectName, r.destination, r.objectType, r.exceedFlag,
                    r.errorCode, r.detailErr, r.detailName, r.detailId);
}
inline auto Members(const TaskCenterRetryReqRsp& r) {
    return std::tie(r.tranId, r.taskId);
}
inline auto Members(const TaskStatusRsp& r) {
    return std::tie(r.taskId, r.progress, r.totalCount, r.successCount, r.status, r.error);
}

// The outputs of steps that fill more than one record.
struct IdsAndCode {
    std::vector<std::int64_t> ids{7};
    HttpPostRspCode code{77, "earlier"};
};
inline auto Members(const IdsAndCode& r) {
    return std::tie(r.ids, r.code);
}

struct TaskIdAndCode {
    std::int64_t taskId = 5;
    HttpPostRspCode code{77, "earlier"};
};
inline auto Members(const TaskIdAndCode& r) {
    return std::tie(r.taskId, r.code);
}

template <typename T> bool Same(const T& a, const T& b);

template <typename Tuple, std::size_t... I>
bool SameMembers(const Tuple& a, const Tuple& b, std::index_sequence<I...>) {
    return (Same(std::get<I>(a), std::get<I>(b)) && ...);
}

template <typename T> struct IsVector : std::false_type {};
template <typename T> struct IsVector<std::vector<T>> : std::true_type {};
template <typename T> struct IsShared : std::false_type {};
template <typename T> struct IsShared<std::shared_ptr<T>> : std::true_type {};
template <typename T> struct IsArray : std::false_type {};
template <typename T, std::size_t N> struct IsArray<std::array<T, N>> : std::true_type {};

template <typename T> bool Same(const T& a, const T& b) {
    if constexpr (std::is_arithmetic_v<T> || std::is_same_v<T, std::string>) {
        return a == b;
    } else if constexpr (IsShared<T>::value) {
        return a == nullptr ? b == nullptr : b != nullptr && Same(*a, *b);
    } else if constexpr (IsVector<T>::value || IsArray<T>::value) {
        if (a.size() != b.size()) {
            return false;
        }
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (!Same(a[i], b[i])) {
                return false;
            }
        }
        return true;
    } else {
        const auto ma = Members(a);
        return SameMembers(ma, Members(b),
                           std::make_index_sequence<std::tuple_size_v<decltype(ma)>>{});
    }
}

// ---- Outcomes ----

struct LogLine {
    int module;
    int severity;
    std::string function;
    std::string message;
    bool operator==(const LogLine&) const = default;
};

inline std::vector<LogLine>& Captured() {
    static std::vector<LogLine> lines;
    return lines;
}

// Log lines are kept for comparison instead of printed: the source line
// differs between the two implementations by nature, everything else must
// not.
inline void Setup() {
    fuzzsupport::Setup();
    static const bool done = [] {
        Scribo::SetSink([](const Scribo::LogRecord& record) {
            Captured().push_back({record.module, record.severity, record.function, record.message});
        });
        return true;
    }();
    (void)done;
}

struct Outcome {
    bool result = false;
    std::optional<std::string> thrown; // the JSON library's exception text
    std::vector<LogLine> lines;
    bool operator==(const Outcome&) const = default;
};

template <typename Step> Outcome Run(Step step) {
    Captured().clear();
    Outcome outcome;
    try {
        outcome.result = step();
    } catch (const Json::Exception& error) {
        outcome.thrown = error.what();
    }
    outcome.lines = Captured();
    return outcome;
}

// Runs both steps from copies of start and requires the same outcome and the
// same record.
template <typename Record, typename Library, typename Reference>
void Compare(const Record& start, Library library, Reference reference) {
    Record libraryRecord = start;
    Record referenceRecord = start;
    const Outcome fromLibrary = Run([&] { return library(libraryRecord); });
    const Outcome fromReference = Run([&] { return reference(referenceRecord); });
    Require(fromLibrary == fromReference);
    Require(Same(libraryRecord, referenceRecord));
}

// A record the caller used before: lists hold an entry, the envelope a code,
// so that appending and keeping are checked, not only filling.
template <typename Record> Record Used() {
    Record record{};
    if constexpr (std::is_base_of_v<HttpPostRspCode, Record>) {
        record.code = 77;
        record.des = "earlier";
    }
    return record;
}

} // namespace difffuzz
