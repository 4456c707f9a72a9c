#include "emulator/FileRoutes.h"

#include "emulator/ApiError.h"
#include "emulator/DeviceState.h"
#include "emulator/ErrorCodes.h"
#include "emulator/FileArea.h"
#include "emulator/FileTasks.h"
#include "emulator/RequestHead.h"
#include "emulator/Sha256.h"
#include "emulator/TaskCenter.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace zeqemu {

namespace {

using Q = ApiRequest;

constexpr const char* kVersion = "zeq-emulator-1";

Json::Int64 J(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

std::string Category(const ApiRequest& q) {
    return q.QueryText("category", "user");
}

// The folder the client names, percent-encoded, in the "Dest-File" header.
std::string DestFile(const ApiRequest& q) {
    const auto header = q.Header("Dest-File");
    if (header.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "missing header \"Dest-File\"");
    }
    const auto folder = RequestHead::Decode(header, false);
    if (!folder) {
        throw ApiError::BadRequest(code::kBadField, "bad percent-encoding in \"Dest-File\"");
    }
    return *folder;
}

// The reply of the simple file operations: code, desc, version, data.fid.
ApiReply BaseData(std::int64_t fid) {
    Json::Value out;
    out["desc"] = "";
    out["version"] = kVersion;
    out["data"]["fid"] = J(fid);
    return ApiReply::Ok(out);
}

std::vector<std::string> TextList(const Json::Value& body, const char* key) {
    std::vector<std::string> list;
    for (const auto& element : Q::Array(body, key)) {
        list.push_back(Q::TextElement(element, key));
    }
    return list;
}

std::vector<std::int64_t> IntList(const Json::Value& body, const char* key) {
    std::vector<std::int64_t> list;
    for (const auto& element : Q::Array(body, key)) {
        list.push_back(Q::IntElement(element, key));
    }
    return list;
}

// A decimal number filling text entirely.
std::optional<std::int64_t> Number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

struct ByteRange {
    std::int64_t first = 0;
    std::optional<std::int64_t> last;
};

// "bytes=N-" or "bytes=N-M"; several ranges or suffix ranges are not served.
std::optional<ByteRange> ParseRange(const std::string& header) {
    constexpr std::string_view kUnit = "bytes=";
    if (header.rfind(kUnit, 0) != 0) {
        return std::nullopt;
    }
    const std::string_view bounds = std::string_view(header).substr(kUnit.size());
    const auto dash = bounds.find('-');
    if (dash == std::string_view::npos) {
        return std::nullopt;
    }
    const auto first = Number(bounds.substr(0, dash));
    if (!first) {
        return std::nullopt;
    }
    ByteRange range{*first, std::nullopt};
    if (dash + 1 < bounds.size()) {
        range.last = Number(bounds.substr(dash + 1));
        if (!range.last || *range.last < *first) {
            return std::nullopt;
        }
    }
    return range;
}

// Where a "Content-Range: bytes N-M/T" (T may be "*") puts the body, and how
// long the body must then be; none: a whole new file of any length.
struct UploadRange {
    std::int64_t offset = 0;
    std::optional<std::uint64_t> length;
};

UploadRange RangeOfUpload(const ApiRequest& q) {
    const auto header = q.Header("Content-Range");
    if (header.empty()) {
        return {};
    }
    const auto bad = [&] {
        return ApiError::BadRequest(code::kBadField, "bad Content-Range \"" + header + "\"");
    };
    constexpr std::string_view kUnit = "bytes ";
    const auto dash = header.find('-');
    const auto slash = header.find('/');
    if (header.rfind(kUnit, 0) != 0 || dash == std::string::npos || slash == std::string::npos ||
        slash < dash) {
        throw bad();
    }
    const std::string_view text(header);
    const auto first = Number(text.substr(kUnit.size(), dash - kUnit.size()));
    const auto last = Number(text.substr(dash + 1, slash - dash - 1));
    if (!first || !last || *last < *first) {
        throw bad();
    }
    // Unsigned: "bytes 0-9223372036854775807" spans one more than int64 holds.
    return {*first, static_cast<std::uint64_t>(*last - *first) + 1};
}

} // namespace

void FileRoutes::Register(Router& r) {
    const auto bind = [this](ApiReply (FileRoutes::*fn)(const ApiRequest&)) {
        return [this, fn](const ApiRequest& q) { return (this->*fn)(q); };
    };
    r.Get("filesvc/files", bind(&FileRoutes::ListFiles));
    r.Post("filesvc/detail", bind(&FileRoutes::FolderDetail));
    r.Get("filesvc/recycleFiles", bind(&FileRoutes::RecycleFiles));
    r.Get("filesvc/usbStatus", bind(&FileRoutes::UsbStatus));
    r.Get("api/app/usersamba", bind(&FileRoutes::ShareFolder));
    r.Get("filesvc/allFiles", bind(&FileRoutes::AllFiles));
    r.Get("filesvc/recoverProgress", bind(&FileRoutes::RecoverProgress));
    r.Post("filesvc/mkdir", bind(&FileRoutes::MakeDir));
    r.Post("filesvc/rename", bind(&FileRoutes::Rename));
    r.Post("filesvc/remove", bind(&FileRoutes::Remove));
    r.Post("filesvc/recycleDelFiles", bind(&FileRoutes::RecycleAction));
    r.Post("filesvc/redundancy", bind(&FileRoutes::Redundancy));
    r.Post("filesvc/visibility", bind(&FileRoutes::Visibility));
    r.Post("filesvc/createDirs", bind(&FileRoutes::CreateDirs));
    r.Post("filesvc/batchOperation", bind(&FileRoutes::BatchOperation), Capabilities::kFileBatch);
    // Read by plain downloaders, which add no client ids.
    r.Page("filesvc/content", bind(&FileRoutes::ReadContent));
    r.Page("filesvc/contentHash", bind(&FileRoutes::ContentHash));
    r.Stream("POST", "filesvc/content", bind(&FileRoutes::WriteContent));
    r.Stream("PUT", "filesvc/content", bind(&FileRoutes::WriteContent));
}

ApiReply FileRoutes::ListFiles(const ApiRequest& q) {
    FileArea::ListQuery query;
    query.category = Category(q);
    query.folder = DestFile(q);
    query.offset = q.QueryInt("offset");
    query.limit = q.QueryInt("limit");
    query.sortType = q.QueryText("sortType", "");
    query.filter = q.QueryText("filter", "");
    const auto page = m_s.files.List(query);
    Json::Value data;
    data["hasMore"] = page.hasMore;
    data["parentPath"] = page.parentPath;
    data["offset"] = J(page.nextOffset);
    data["files"] = Json::Value(Json::arrayValue);
    for (const auto& e : page.entries) {
        Json::Value v;
        v["id"] = J(e.id);
        v["fid"] = J(e.id);
        v["attr"] = e.attr;
        v["count"] = J(e.count);
        v["mtime"] = J(e.mtime);
        v["time"] = J(e.mtime);
        v["name"] = e.name;
        v["type"] = e.type;
        v["version"] = e.version;
        v["mime"] = e.mime;
        v["thumb"] = e.mime.rfind("image/", 0) == 0 ? "/thumb" + e.path : "";
        v["orientation"] = 0;
        v["size"] = J(e.size);
        v["freeSize"] = J(e.freeSize);
        v["path"] = e.path;
        v["action"] = 0;
        v["desc"] = "";
        v["category"] = e.category;
        v["visibility"] = e.visibility;
        data["files"].append(v);
    }
    Json::Value out;
    out["data"] = data;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::FolderDetail(const ApiRequest& q) {
    const auto& b = q.Body();
    Q::Text(b, "entryId", ""); // carried by the client, not needed to find the folder
    const auto detail = m_s.files.GetDetail(Category(q), Q::Text(b, "path"));
    Json::Value out;
    out["version"] = detail.version;
    out["data"]["name"] = detail.name;
    out["data"]["size"] = J(detail.size);
    out["data"]["mtime"] = J(detail.mtime);
    out["data"]["dirCount"] = J(detail.dirCount);
    out["data"]["fileCount"] = J(detail.fileCount);
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::RecycleFiles(const ApiRequest& q) {
    const auto category = q.QueryText("category", "");
    const auto page = m_s.files.ListBin(category == "all" ? "" : category, q.QueryInt("offset"),
                                        q.QueryInt("limit"));
    Json::Value data;
    data["hasMore"] = page.hasMore;
    data["count"] = J(page.total);
    data["offset"] = J(page.nextOffset);
    data["files"] = Json::Value(Json::arrayValue);
    for (const auto& e : page.entries) {
        Json::Value v;
        v["name"] = e.name;
        v["type"] = e.type;
        v["rid"] = J(e.rid);
        v["size"] = J(e.size);
        v["count"] = J(e.count);
        v["dtime"] = J(e.dtime);
        v["orientation"] = 0;
        v["mime"] = e.mime;
        v["path"] = e.origin;
        v["thumb"] = "";
        data["files"].append(v);
    }
    Json::Value out;
    out["data"] = data;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::UsbStatus(const ApiRequest&) {
    const auto disks = m_s.files.UsbDisks();
    Json::Value data;
    data["version"] = kVersion;
    data["status"] = !disks.empty();
    data["mountPath"] = std::string(FileArea::kUsbMount) + "/";
    data["info"] = Json::Value(Json::arrayValue);
    for (const auto& disk : disks) {
        Json::Value v;
        v["name"] = disk.name;
        v["freeSize"] = J(disk.freeSize);
        v["totalSize"] = J(disk.totalSize);
        data["info"].append(v);
    }
    Json::Value out;
    out["version"] = kVersion;
    out["data"] = data;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::ShareFolder(const ApiRequest&) {
    Json::Value out;
    out["Path"] = "\\\\127.0.0.1\\" + m_s.device.Owner().name;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::AllFiles(const ApiRequest& q) {
    const auto page =
        m_s.files.AllFiles(Category(q), DestFile(q), q.QueryInt("offset"), q.QueryInt("limit"));
    Json::Value data;
    data["parentDir"] = page.parentDir;
    data["hasMore"] = page.hasMore;
    data["offset"] = J(page.nextOffset);
    data["files"] = Json::Value(Json::arrayValue);
    for (const auto& e : page.entries) {
        Json::Value v;
        v["type"] = e.type;
        v["fid"] = J(e.fid);
        v["mtime"] = J(e.mtime);
        v["size"] = J(e.size);
        v["hash"] = e.hash;
        v["mimeType"] = e.mime;
        v["relativePath"] = e.relativePath;
        v["thumbPath"] = "";
        data["files"].append(v);
    }
    Json::Value out;
    out["data"] = data;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::RecoverProgress(const ApiRequest& q) {
    const auto text = q.QueryText("progerssId");
    std::int64_t id = 0;
    try {
        std::size_t used = 0;
        id = std::stoll(text, &used);
        if (used != text.size()) {
            throw std::invalid_argument(text);
        }
    } catch (const std::exception&) {
        throw ApiError::BadRequest(code::kBadField, "progerssId must be a progress id");
    }
    const auto task = m_s.tasks.Get(id, TaskFamily::FileService);
    const bool failed =
        task.state == TaskCenter::State::Failed || task.state == TaskCenter::State::Cancelled;
    Json::Value data;
    data["total"] = static_cast<Json::Int>(task.sumNum);
    data["proSuccess"] = static_cast<Json::Int>(task.finishedNum);
    data["proFailure"] = failed ? static_cast<Json::Int>(task.sumNum - task.finishedNum) : 0;
    data["status"] = task.state == TaskCenter::State::Done || failed;
    data["errorInfos"] = Json::Value(Json::arrayValue);
    if (failed) {
        const auto record = m_s.tasks.Record(id);
        for (const auto& detail : record["errorInfo"]["detail"]) {
            Json::Value v;
            v["path"] = detail["name"];
            v["id"] = detail["id"];
            v["status"] = std::to_string(detail["err"].asInt64());
            data["errorInfos"].append(v);
        }
    }
    Json::Value out;
    out["data"] = data;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::MakeDir(const ApiRequest& q) {
    const auto& b = q.Body();
    return BaseData(
        m_s.files.MakeDir(Category(q), Q::Text(b, "path"), Q::Int32(b, "redundancy", 0)));
}

ApiReply FileRoutes::Rename(const ApiRequest& q) {
    const auto& b = q.Body();
    return BaseData(m_s.files.Rename(Category(q), Q::Text(b, "oldpath"), Q::Text(b, "newpath"),
                                     q.QueryInt("id", 0)));
}

ApiReply FileRoutes::Remove(const ApiRequest& q) {
    const auto paths = TextList(q.Body(), "srcPath");
    const auto id = FileTasks(m_s).Delete(Category(q), paths, q.QueryText("type", "recycle"));
    Json::Value out;
    out["data"]["progressId"] = std::to_string(id);
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::RecycleAction(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto id = FileTasks(m_s).BinAction(Q::Text(b, "action"), IntList(b, "files"),
                                             q.QueryText("category", ""));
    Json::Value out;
    out["desc"] = "";
    out["version"] = kVersion;
    out["data"]["fid"] = J(id);
    out["data"]["progressId"] = std::to_string(id);
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::Redundancy(const ApiRequest& q) {
    const auto& b = q.Body();
    m_s.files.SetRedundancy(Category(q), TextList(b, "path"), Q::Int32(b, "attr"));
    return BaseData(0);
}

ApiReply FileRoutes::Visibility(const ApiRequest& q) {
    const auto& b = q.Body();
    m_s.files.SetVisibility(Category(q), Q::Text(b, "path"), Q::Int32(b, "attr"));
    return BaseData(0);
}

ApiReply FileRoutes::CreateDirs(const ApiRequest& q) {
    const auto& b = q.Body();
    const auto errors =
        m_s.files.CreateDirs(Category(q), Q::Text(b, "parentDir"), TextList(b, "dirs"));
    Json::Value list(Json::arrayValue);
    for (const auto& e : errors) {
        Json::Value v;
        v["path"] = e.path;
        v["err"] = J(e.err);
        list.append(v);
    }
    Json::Value out;
    out["data"]["data"]["errorInfos"] = list;
    return ApiReply::Ok(out);
}

ApiReply FileRoutes::BatchOperation(const ApiRequest& q) {
    const auto& tasks = Q::Array(q.Body(), "tasks");
    if (tasks.empty()) {
        throw ApiError::BadRequest(code::kMissingField, "tasks must hold one task");
    }
    const auto operation = q.QueryText("operation");
    Json::Value list(Json::arrayValue);
    for (const auto& t : tasks) {
        FileTasks::Batch batch;
        batch.category = Category(q);
        batch.operation = operation;
        batch.name = Q::Text(t, "name", "");
        for (const auto& path : Q::OptArray(t, "srcPath")) {
            batch.srcPaths.push_back(Q::TextElement(path, "srcPath"));
        }
        for (const auto& rid : Q::OptArray(t, "rid")) {
            const auto text = Q::TextElement(rid, "rid");
            try {
                batch.rids.push_back(std::stoll(text));
            } catch (const std::exception&) {
                throw ApiError::BadRequest(code::kBadField, "rid must hold recycle bin ids");
            }
        }
        batch.transId = Q::Text(t, "transId", "");
        batch.subTaskId = Q::Int(t, "subTaskId", 0);
        const auto id = FileTasks(m_s).StartBatch(batch);
        Json::Value v;
        v["taskId"] = J(id);
        v["transId"] = m_s.tasks.Get(id).transId;
        list.append(v);
    }
    Json::Value out;
    out["data"]["tasks"] = list;
    return ApiReply::Ok(out);
}

namespace {

// Plain downloaders and uploaders judge by the HTTP status alone, so a
// refusal on the content route carries one.
template <typename F> ApiReply WithHttpStatus(F&& run) {
    try {
        return run();
    } catch (const ApiError& e) {
        if (e.HttpStatus() != 200) {
            throw;
        }
        throw ApiError(e.Code() == code::kNoSuchFile ? 404 : 400, e.Code(), e.what());
    }
}

// What identifies one version of a file: a rewrite changes the modification
// time or the inode (a replacement is a new file renamed over the old).
struct FileVersion {
    std::int64_t size = 0;
    std::string etag;
    std::string lastModified;

    // An "If-Range" value: a strong entity tag or the HTTP date of the version.
    bool Matches(const std::string& ifRange) const {
        return ifRange.empty() || ifRange == etag || ifRange == lastModified;
    }
};

std::string HttpDate(std::time_t time) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    ::gmtime_r(&time, &tm);
    char text[40];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", kDays[tm.tm_wday],
                  tm.tm_mday, kMonths[tm.tm_mon], tm.tm_year + 1900, tm.tm_hour, tm.tm_min,
                  tm.tm_sec);
    return text;
}

FileVersion VersionOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        throw ApiError(500, code::kIoError, "cannot read the file's state");
    }
    FileVersion version;
    version.size = static_cast<std::int64_t>(st.st_size);
    const auto ns = static_cast<std::uint64_t>(st.st_mtim.tv_sec) * 1000000000ULL +
                    static_cast<std::uint64_t>(st.st_mtim.tv_nsec);
    std::ostringstream tag;
    tag << '"' << std::hex << version.size << '-' << ns << '-' << st.st_ino << '"';
    version.etag = tag.str();
    version.lastModified = HttpDate(st.st_mtim.tv_sec);
    return version;
}

} // namespace

ApiReply FileRoutes::ReadContent(const ApiRequest& q) {
    return WithHttpStatus([&] { return Read(q); });
}

ApiReply FileRoutes::WriteContent(const ApiRequest& q) {
    return WithHttpStatus([&] { return Write(q); });
}

ApiReply FileRoutes::Read(const ApiRequest& q) {
    const std::shared_ptr<const UniqueFd> file =
        std::make_shared<UniqueFd>(m_s.files.OpenFile(Category(q), q.QueryText("path")));
    const auto version = VersionOf(file->Get());
    ApiReply reply;
    reply.contentType = "application/octet-stream";
    reply.headers["Accept-Ranges"] = "bytes";
    reply.headers["ETag"] = version.etag;
    reply.headers["Last-Modified"] = version.lastModified;
    const auto size = version.size;
    const auto header = q.Header("Range");
    // A range of another version would splice two files together: the client
    // gets the whole current one instead.
    if (header.empty() || !version.Matches(q.Header("If-Range"))) {
        reply.file = ApiReply::FileSpan{file, 0, size};
        return reply;
    }
    const auto range = ParseRange(header);
    if (!range || range->first >= size) {
        reply = ApiReply::Error(416, code::kBadField,
                                "range \"" + header + "\" is not within the " +
                                    std::to_string(size) + " bytes of the file");
        reply.headers["Content-Range"] = "bytes */" + std::to_string(size);
        return reply;
    }
    const auto last = std::min(range->last.value_or(size - 1), size - 1);
    reply.status = 206;
    reply.headers["Content-Range"] = "bytes " + std::to_string(range->first) + "-" +
                                     std::to_string(last) + "/" + std::to_string(size);
    reply.file = ApiReply::FileSpan{file, range->first, last - range->first + 1};
    return reply;
}

ApiReply FileRoutes::ContentHash(const ApiRequest& q) {
    return WithHttpStatus([&] {
        const auto file = m_s.files.OpenFile(Category(q), q.QueryText("path"));
        const auto version = VersionOf(file.Get());
        const auto length = q.QueryInt("length");
        if (length < 0) {
            throw ApiError::BadRequest(code::kBadField, "length must be 0 or more");
        }
        if (length > version.size) {
            throw ApiError(416, code::kBadField,
                           "length " + std::to_string(length) + " is beyond the " +
                               std::to_string(version.size) + " bytes of the file");
        }
        const auto digest = Sha256Prefix(file.Get(), length);
        if (digest.empty()) {
            throw ApiError(500, code::kIoError, "cannot read " + q.QueryText("path"));
        }
        Json::Value out;
        out["sha256"] = digest;
        out["size"] = J(version.size);
        out["etag"] = version.etag;
        return ApiReply::Ok(out);
    });
}

ApiReply FileRoutes::Write(const ApiRequest& q) {
    const auto range = RangeOfUpload(q);
    const auto size =
        m_s.files.WriteContent(Category(q), q.QueryText("path"), range.offset, range.length,
                               [&q](char* out, std::size_t n) { return q.ReadBody(out, n); });
    Json::Value out;
    out["data"]["size"] = J(size);
    return ApiReply::Ok(out);
}

} // namespace zeqemu
