#include "Transfer.h"

#include "DeviceConnection.h"
#include "Progress.h"
#include "Session.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlGlobal.h"

#include <json/reader.h>
#include <openssl/evp.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

namespace zeqctl {

namespace {

namespace fs = std::filesystem;

// An HTTP refusal's body is kept for its message, not written to the file.
constexpr std::size_t kRefusalBodyLimit = 64 * 1024;
constexpr std::string_view kContentRoute = "filesvc/content?";
constexpr std::string_view kContentHashRoute = "filesvc/contentHash?";

std::string OriginOf(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    const auto slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? url + "/" : url.substr(0, slash + 1);
}

std::optional<std::int64_t> Number(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> HeaderValue(const std::map<std::string, std::string>& headers,
                                       const char* name) {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name) == 0) {
            return value;
        }
    }
    return std::nullopt;
}

// The full size in a "Content-Range: bytes N-M/T" or "bytes */T".
std::optional<std::int64_t> RangeTotal(const std::map<std::string, std::string>& headers) {
    const auto range = HeaderValue(headers, "Content-Range");
    const auto slash = range ? range->rfind('/') : std::string::npos;
    if (slash == std::string::npos) {
        return std::nullopt;
    }
    return Number(std::string_view(*range).substr(slash + 1));
}

// What "If-Range" can name the version by: a strong entity tag (a weak one
// never matches there), else the modification date.
std::optional<std::string> VersionOf(const std::map<std::string, std::string>& headers) {
    if (const auto tag = HeaderValue(headers, "ETag"); tag && !tag->starts_with("W/")) {
        return tag;
    }
    return HeaderValue(headers, "Last-Modified");
}

std::optional<Json::Value> JsonObject(const std::string& text) {
    Json::Value doc;
    Json::CharReaderBuilder builder;
    std::string errors;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (text.empty() || !reader->parse(text.data(), text.data() + text.size(), &doc, &errors) ||
        !doc.isObject()) {
        return std::nullopt;
    }
    return doc;
}

// Why a local file cannot be sent, in the system's words.
void RequireReadable(const std::string& what, const fs::path& file) {
    std::error_code ec;
    std::string reason;
    if (fs::is_directory(file, ec)) {
        reason = "it is a folder";
    } else if (const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC); fd < 0) {
        reason = std::strerror(errno);
    } else {
        ::close(fd);
        return;
    }
    throw CommandError::LocalFile(what + ": cannot read " + file.string() + ": " + reason);
}

std::int64_t SizeOf(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : static_cast<std::int64_t>(size);
}

// The version of the device's file that a partial file holds the beginning
// of, kept beside it.
fs::path VersionFile(const fs::path& file) {
    return fs::path(PartialFile(file).string() + ".version");
}

std::optional<std::string> ReadVersion(const fs::path& file) {
    std::ifstream in(VersionFile(file));
    std::string version;
    if (!std::getline(in, version) || version.empty()) {
        return std::nullopt;
    }
    return version;
}

// Written before the first byte goes into the partial file, so that a part
// never lies there without the version it belongs to.
bool WriteVersion(const fs::path& file, const std::optional<std::string>& version) {
    std::error_code ec;
    if (!version) {
        fs::remove(VersionFile(file), ec);
        return !ec;
    }
    std::ofstream out(VersionFile(file), std::ios::trunc);
    out << *version << '\n';
    out.close();
    return static_cast<bool>(out);
}

// SHA-256 of the first length bytes of file, in lowercase hex; empty when it
// cannot be read.
std::string PrefixSha256(const fs::path& file, std::int64_t length) {
    std::ifstream in(file, std::ios::binary);
    const std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                          &EVP_MD_CTX_free);
    if (!in || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return {};
    }
    char buffer[64 * 1024];
    while (length > 0) {
        in.read(buffer, static_cast<std::streamsize>(std::min<std::int64_t>(
                            length, static_cast<std::int64_t>(sizeof buffer))));
        const auto got = in.gcount();
        if (got <= 0 ||
            EVP_DigestUpdate(context.get(), buffer, static_cast<std::size_t>(got)) != 1) {
            return {};
        }
        length -= got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_DigestFinal_ex(context.get(), digest, &size) != 1) {
        return {};
    }
    return Output::Hex(digest, size);
}

ProgressView View(Session& s, const fs::path& file) {
    // With --json the document owns standard output, so progress goes to
    // standard error.
    const bool toStderr = s.Out().Json();
    return ProgressView(toStderr ? std::cerr : s.Out().Stream(),
                        ::isatty(toStderr ? STDERR_FILENO : STDOUT_FILENO) == 1,
                        file.filename().string(), ProgressUnit::Bytes);
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The device's JSON refusal when there is one, else the bare status.
[[noreturn]] void Refused(const TransferTarget& target, long status, const std::string& body) {
    if (target.explainRefusal) {
        target.explainRefusal(status);
    }
    if (const auto doc = JsonObject(body); doc && (*doc)["code"].isIntegral()) {
        const auto text = (*doc)["des"].isString() ? (*doc)["des"].asString() : std::string();
        throw CommandError::Device(target.what + ": the device refused with code " +
                                   std::to_string((*doc)["code"].asInt64()) + " (HTTP " +
                                   std::to_string(status) + ")" +
                                   (text.empty() ? "" : ": " + text));
    }
    throw CommandError::Device(target.what + ": the device answered HTTP " +
                               std::to_string(status));
}

Json::Value Summary(const std::string& direction, const std::string& url, const fs::path& file,
                    long status, std::int64_t resumedFrom, std::int64_t bytes, std::int64_t size,
                    double seconds, const std::string& startedOver) {
    Json::Value doc;
    doc["direction"] = direction;
    doc["url"] = url;
    doc["file"] = file.string();
    doc["status"] = static_cast<Json::Int64>(status);
    doc["resumedFrom"] = static_cast<Json::Int64>(resumedFrom);
    doc["bytes"] = static_cast<Json::Int64>(bytes);
    doc["size"] = static_cast<Json::Int64>(size);
    doc["seconds"] = seconds;
    doc["speed"] = static_cast<Json::Int64>(seconds > 0 ? static_cast<double>(bytes) / seconds : 0);
    if (!startedOver.empty()) {
        doc["startedOver"] = startedOver;
    }
    return doc;
}

// What a download delivered. The engine's loop thread fills it; the counters
// are read while the transfer runs, the rest once it has ended.
struct Sink {
    fs::path file; // the file it becomes; the bytes go to its partial file
    std::int64_t resumeFrom = 0;
    std::ofstream out;
    bool decided = false;
    bool refused = false;
    long status = 0;
    std::string refusal;
    bool writeFailed = false;
    std::atomic<std::int64_t> written{0};
    std::atomic<std::int64_t> startsAt{0}; // where this transfer's bytes go in the file
    std::atomic<std::int64_t> total{0};    // the whole file's size, when the answer tells
    Activity activity;
};

// Runs on the loop thread, where the handle may be asked for its status.
bool Decide(curlppx::CurlConn& conn, Sink& sink) {
    sink.decided = true;
    sink.status = conn.GetResCode();
    if (sink.status != 200 && sink.status != 206) {
        sink.refused = true;
        return true;
    }
    // A 206 continues the version the partial file holds; a 200 is a whole
    // file, the current version, which replaces the part.
    const bool append = sink.status == 206 && sink.resumeFrom > 0;
    sink.startsAt = append ? sink.resumeFrom : 0;
    const auto headers = conn.GetResHeader();
    if (sink.status == 206) {
        sink.total = RangeTotal(headers).value_or(0);
    } else if (const auto length = HeaderValue(headers, "Content-Length")) {
        sink.total = Number(*length).value_or(0);
    }
    if (!append && !WriteVersion(sink.file, VersionOf(headers))) {
        return false;
    }
    sink.out.open(PartialFile(sink.file),
                  std::ios::binary | (append ? std::ios::app : std::ios::trunc));
    return static_cast<bool>(sink.out);
}

std::size_t WriteToSink(curlppx::CurlConn& conn, Sink& sink, const char* data, std::size_t bytes) {
    sink.activity.Touch();
    if (!sink.decided && !Decide(conn, sink)) {
        sink.writeFailed = true;
        return 0; // ends the transfer
    }
    if (sink.refused) {
        const auto room = kRefusalBodyLimit - std::min(kRefusalBodyLimit, sink.refusal.size());
        sink.refusal.append(data, std::min(room, bytes));
        return bytes;
    }
    sink.out.write(data, static_cast<std::streamsize>(bytes));
    if (!sink.out) {
        sink.writeFailed = true;
        return 0;
    }
    sink.written += static_cast<std::int64_t>(bytes);
    return bytes;
}

// One request for the bytes of target from resumeFrom on, into the partial
// file of file.
struct Fetched {
    long status = 0;
    std::int64_t startsAt = 0;
    std::int64_t written = 0;
    std::optional<std::int64_t> unsatisfiableTotal; // a 416: the device's size
    double seconds = 0;
};

Fetched Fetch(Session& s, const TransferTarget& target, const fs::path& file,
              std::int64_t resumeFrom, const std::optional<std::string>& version) {
    Sink sink;
    sink.file = file;
    sink.resumeFrom = resumeFrom;
    // Until the answer says otherwise, so the speed does not count the bytes
    // that were there already.
    sink.startsAt = resumeFrom;
    s.Begin();
    DeviceConnection conn(s, target.url);
    if (resumeFrom > 0 && version) {
        conn->SetRange(resumeFrom, 0);
        // The rest only of the same version; of another, the whole file.
        conn->SetHeader("If-Range", *version);
    }

    auto view = View(s, file);
    const auto started = std::chrono::steady_clock::now();
    auto done = conn->HttpDownload(
        [&conn, &sink](char* data, std::size_t size, std::size_t count, void*) {
            return WriteToSink(*conn, sink, data, size * count);
        },
        nullptr);
    const auto end = conn.Await(done, view, sink.activity, [&] {
        ProgressSample sample;
        sample.done = sink.startsAt + sink.written.load();
        sample.total = sink.total.load();
        if (sample.total > 0) {
            sample.percent = sample.done * 100 / sample.total;
        }
        return sample;
    });
    sink.out.close();

    Fetched fetched;
    fetched.seconds = SecondsSince(started);
    fetched.status = sink.decided ? sink.status : conn->GetResCode();
    fetched.startsAt = sink.startsAt;
    fetched.written = sink.written;
    if (sink.writeFailed) {
        throw CommandError::LocalFile(target.what + ": cannot write " + PartialFile(file).string());
    }
    FailIfCutShort(s, target.what, end);
    if (fetched.status == 416 && resumeFrom > 0) {
        fetched.unsatisfiableTotal = RangeTotal(conn->GetResHeader()).value_or(-1);
        return fetched;
    }
    if (fetched.status >= 300 || (fetched.status != 0 && sink.refused)) {
        Refused(target, fetched.status, sink.refused ? sink.refusal : conn->GetRespones());
    }
    if (end.code != CURLE_OK) {
        s.FailTransport(target.what, end.code);
    }
    if (!sink.decided) {
        // An empty body: the file is whatever the answer says it is.
        std::ofstream(PartialFile(file), std::ios::binary | std::ios::trunc);
    }
    return fetched;
}

// What the device holds at an upload's target, from the content route's
// sibling: the file's size and the SHA-256 of its first bytes.
struct DevicePart {
    std::int64_t size = 0;
    std::string sha256;
};

// Nothing when the device cannot tell: no file there, fewer bytes than
// asked, or no such route.
std::optional<DevicePart> AskDevicePart(Session& s, const TransferTarget& target,
                                        std::int64_t length) {
    const auto at = target.url.find(kContentRoute);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const auto url = target.url.substr(0, at) + std::string(kContentHashRoute) +
                     target.url.substr(at + kContentRoute.size()) +
                     "&length=" + std::to_string(length);
    s.Begin();
    DeviceConnection conn(s, url);
    auto done = conn->HttpGet();
    const auto end = conn.Await(done);
    FailIfCutShort(s, target.what, end);
    if (end.code != CURLE_OK) {
        s.FailTransport(target.what, end.code);
    }
    const auto doc = JsonObject(conn->GetRespones());
    if (conn->GetResCode() != 200 || !doc || (*doc)["code"].asInt64() != 0 ||
        !(*doc)["sha256"].isString() || !(*doc)["size"].isIntegral()) {
        return std::nullopt;
    }
    return DevicePart{(*doc)["size"].asInt64(), (*doc)["sha256"].asString()};
}

// Where an upload of file may start without joining two files: at offset
// when the device's first offset bytes are those of file, else at 0, with
// why in startedOver.
std::int64_t CheckedStart(Session& s, const TransferTarget& target, const fs::path& file,
                          std::int64_t offset, std::string& startedOver) {
    const auto part = AskDevicePart(s, target, offset);
    if (!part) {
        startedOver = "the device cannot show that it holds " + std::to_string(offset) +
                      " bytes of " + file.filename().string();
        return 0;
    }
    if (part->sha256 != PrefixSha256(file, offset)) {
        startedOver = "the device's " + std::to_string(offset) +
                      " bytes are not the beginning of " + file.filename().string();
        return 0;
    }
    return offset;
}

} // namespace

std::string ResolveOnDevice(const std::string& base, const std::string& url) {
    if (url.find("://") != std::string::npos) {
        if (OriginOf(url) != base) {
            throw CommandError::Usage("\"" + url + "\" is not on the device " + base +
                                      "; the device's credentials go only to the device");
        }
        return url;
    }
    std::size_t start = 0;
    while (start < url.size() && url[start] == '/') {
        ++start;
    }
    if (start == url.size()) {
        throw CommandError::Usage("name a file on the device, e.g. "
                                  "\"/filesvc/content?path=/Documents/report.pdf\"");
    }
    return base + url.substr(start);
}

std::string ContentUrl(const std::string& base, const std::string& devicePath,
                       const std::string& category) {
    return base + std::string(kContentRoute) +
           "path=" + curlppx::CurlGlobal::UrlEncode(devicePath) + "&category=" + category;
}

fs::path PartialFile(const fs::path& file) {
    return fs::path(file.string() + ".part");
}

void ShowTransfer(Session& s, const Json::Value& doc) {
    const bool down = doc["direction"].asString() == "download";
    char time[32];
    std::snprintf(time, sizeof(time), "%.2f s", doc["seconds"].asDouble());
    std::string line = std::string(down ? "downloaded " : "uploaded ") +
                       Output::Bytes(doc["bytes"].asInt64()) + (down ? " to " : " from ") +
                       doc["file"].asString() + " in " + time;
    if (doc["speed"].asInt64() > 0) {
        line += " (" + Output::Bytes(doc["speed"].asInt64()) + "/s)";
    }
    if (doc["resumedFrom"].asInt64() > 0) {
        line += ", resumed at " + Output::Bytes(doc["resumedFrom"].asInt64());
    }
    s.Out().Line(line);
    if (doc.isMember("startedOver")) {
        s.Out().Line("started over: " + doc["startedOver"].asString());
    }
}

Json::Value Download(Session& s, const TransferTarget& target, const fs::path& file) {
    const auto partial = PartialFile(file);
    std::error_code ec;
    for (const auto& path : {file, partial}) {
        if (fs::exists(path, ec) && !fs::is_regular_file(path, ec)) {
            throw CommandError::Usage(path.string() + " is in the way: not a regular file");
        }
    }
    const auto held = SizeOf(partial);
    const auto version = ReadVersion(file);
    std::string startedOver;
    if (held > 0 && !version) {
        startedOver =
            "nothing tells which version of the file " + partial.filename().string() + " holds";
    }
    const auto resumeFrom = version ? held : 0;
    auto fetched = Fetch(s, target, file, resumeFrom, version);
    if (resumeFrom > 0 && fetched.status == 200) {
        startedOver =
            "the file changed on the device since " + partial.filename().string() + " was written";
    } else if (fetched.unsatisfiableTotal && *fetched.unsatisfiableTotal != held) {
        startedOver = partial.filename().string() + " is longer than the device's file";
        fetched = Fetch(s, target, file, 0, std::nullopt);
    }
    fs::rename(partial, file, ec);
    if (ec) {
        throw CommandError::LocalFile(target.what + ": cannot rename " + partial.string() + " to " +
                                      file.string() + ": " + ec.message());
    }
    WriteVersion(file, std::nullopt);
    return Summary("download", target.url, file, fetched.status, fetched.startsAt, fetched.written,
                   SizeOf(file), fetched.seconds, startedOver);
}

Json::Value Upload(Session& s, const TransferTarget& target, const fs::path& file,
                   std::optional<std::int64_t> from) {
    RequireReadable(target.what, file);
    const auto size = SizeOf(file);
    if (from && (*from < 0 || *from > size)) {
        throw CommandError::Usage("--offset must be between 0 and the file's " +
                                  std::to_string(size) + " bytes");
    }
    std::string startedOver;
    std::int64_t offset = from.value_or(0);
    if (!from) {
        // Whatever part the device holds may be the beginning of this file.
        const auto part = AskDevicePart(s, target, 0);
        offset = part && part->size > 0 && part->size <= size
                     ? CheckedStart(s, target, file, part->size, startedOver)
                     : 0;
    } else if (offset > 0) {
        offset = CheckedStart(s, target, file, offset, startedOver);
    }
    if (offset == size && size > 0) {
        return Summary("upload", target.url, file, 200, offset, 0, size, 0, startedOver);
    }

    struct Source {
        std::ifstream in;
        std::atomic<std::int64_t> sent{0};
        Activity activity;
    } source;
    source.in.open(file, std::ios::binary);
    if (!source.in.seekg(offset)) {
        throw CommandError::LocalFile(target.what + ": cannot read " + file.string());
    }
    s.Begin();
    DeviceConnection conn(s, target.url);
    if (offset > 0) {
        // Tells the device where the bytes go, so a wrong offset is refused
        // instead of corrupting the file.
        conn->SetHeader("Content-Range", "bytes " + std::to_string(offset) + "-" +
                                             std::to_string(size - 1) + "/" + std::to_string(size));
    }
    auto view = View(s, file);
    const auto sending = size - offset;
    const auto started = std::chrono::steady_clock::now();
    auto done = conn->HttpUpload(
        sending,
        [&source](char* buffer, std::size_t capacity, char*, void*) -> std::size_t {
            source.activity.Touch();
            source.in.read(buffer, static_cast<std::streamsize>(capacity));
            if (source.in.bad()) {
                return CURL_READFUNC_ABORT;
            }
            const auto got = source.in.gcount();
            source.sent += got;
            return static_cast<std::size_t>(got);
        },
        nullptr);
    const auto end = conn.Await(done, view, source.activity, [&] {
        ProgressSample sample;
        sample.total = size;
        sample.done = offset + source.sent.load();
        sample.percent = sample.done * 100 / std::max<std::int64_t>(size, 1);
        return sample;
    });
    const double seconds = SecondsSince(started);
    const long status = conn->GetResCode();
    if (end.code == CURLE_ABORTED_BY_CALLBACK && source.in.bad()) {
        throw CommandError::LocalFile(target.what + ": cannot read " + file.string());
    }
    FailIfCutShort(s, target.what, end);
    if (status >= 300) {
        Refused(target, status, conn->GetRespones());
    }
    if (end.code != CURLE_OK) {
        s.FailTransport(target.what, end.code);
    }
    const auto body = conn->GetRespones();
    if (const auto answer = JsonObject(body); answer && (*answer)["code"].asInt64() != 0) {
        Refused(target, status, body);
    }
    return Summary("upload", target.url, file, status, offset, sending, size, seconds, startedOver);
}

} // namespace zeqctl
