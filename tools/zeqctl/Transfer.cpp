#include "Transfer.h"

#include "Progress.h"
#include "Session.h"
#include "TlsCheck.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlGlobal.h"
#include "platform/TextCodec.h"

#include <json/reader.h>

#include <atomic>
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

// A pool of the tool's own, apart from the library's: the engine keeps one
// multi handle and connection cache per pool.
constexpr std::size_t kTransferPool = 0x7a71;
// How often the bar is redrawn while the engine works; the wait ends at once
// when the transfer does.
constexpr std::chrono::milliseconds kRedraw{100};
// An HTTP refusal's body is kept for its message, not written to the file.
constexpr std::size_t kRefusalBodyLimit = 64 * 1024;

std::wstring Wide(const std::string& text) {
    std::wstring out;
    return platform::Utf8ToWide(text, out) ? out : std::wstring();
}

std::string OriginOf(const std::string& url) {
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) {
        return {};
    }
    const auto slash = url.find('/', scheme + 3);
    return slash == std::string::npos ? url + "/" : url.substr(0, slash + 1);
}

// Query values keep only unreserved characters and "/" as they are.
std::string QueryEncoded(const std::string& text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += c;
        } else {
            out += '%';
            out += kDigits[byte >> 4];
            out += kDigits[byte & 0x0f];
        }
    }
    return out;
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

// When a transfer last moved a byte either way: touched on the engine's loop
// thread, read by the thread that waits for the transfer.
class Activity {
public:
    using Clock = std::chrono::steady_clock;

    Activity() { Touch(); }
    void Touch() { m_last.store(Clock::now().time_since_epoch().count()); }
    Clock::duration Idle() const {
        return Clock::now() - Clock::time_point(Clock::duration(m_last.load()));
    }

private:
    std::atomic<Clock::rep> m_last{0};
};

// What a download delivered. The engine's loop thread fills it; the counters
// are read while the transfer runs, the rest once it has ended.
struct Sink {
    fs::path file;
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

// What an upload has handed to the engine so far.
struct Source {
    std::ifstream in;
    std::atomic<std::int64_t> sent{0};
    Activity activity;
};

// Sets up one engine connection the way the device request is set up: the
// device's credentials as headers, peer verification against the CA beside
// the executable and the tool's TLS checks (pin or host name) on every
// connection it opens. Every connection of the tool's pool comes from here,
// so a TLS session the pool shares was always checked. libcurl checks the
// host name itself as well, pin or not. The engine's progress hook stays off:
// its callback lets libcurl draw its own meter on standard error as well, so
// the byte counts come from the data callbacks and the view works out the
// speed.
std::shared_ptr<curlppx::CurlConn> DeviceConn(Session& s, const std::string& url) {
    auto& engine = curlppx::CurlGlobal::GetInstance();
    const char* why = nullptr;
    if (!engine.HasInit(&why)) {
        throw CommandError::Device(std::string("the transfer engine did not start: ") +
                                   (why != nullptr ? why : "unknown reason"));
    }
    auto conn = engine.GetConn(kTransferPool);
    if (!conn) {
        throw CommandError::Device("the transfer engine has no connection to give");
    }
    const auto& device = s.Device();
    const auto ca = Connection::CaFile();
    if (conn->SetURL(url) != CURLE_OK) {
        throw CommandError::Usage("not a usable URL: " + url);
    }
    if (conn->SetSSLVerify("PEM") != CURLE_OK || conn->SetCA(Wide(ca.string())) != CURLE_OK) {
        throw CommandError(ExitCode::Connection, "no CA file at " + ca.string() +
                                                     ": put the CA that signed the device's "
                                                     "certificate there");
    }
    conn->SetSslCtxFunction([](CURL* easy, void* sslCtx) {
        return static_cast<CURLcode>(TlsCheck::Hook(easy, sslCtx, nullptr));
    });
    conn->SetHeader("Cookie", "ID=" + device.CookieId());
    conn->SetHeader("Token", device.Token());
    // A retried download would append its body a second time, and a retried
    // upload would be refused by the device as a second part.
    conn->SetNeedRetry(false);
    return conn;
}

// Hands the connection back however the command ends.
struct ConnLease {
    std::shared_ptr<curlppx::CurlConn> conn;
    ~ConnLease() {
        if (conn) {
            curlppx::CurlGlobal::GetInstance().FreeConn(kTransferPool, conn);
        }
    }
};

ProgressView View(Session& s, const fs::path& file) {
    // With --json the document owns standard output, so progress goes to
    // standard error.
    const bool toStderr = s.Out().Json();
    return ProgressView(toStderr ? std::cerr : s.Out().Stream(),
                        ::isatty(toStderr ? STDERR_FILENO : STDOUT_FILENO) == 1,
                        file.filename().string(), ProgressUnit::Bytes);
}

struct Ended {
    CURLcode code = CURLE_OK;
    bool stalled = false;        // nothing moved for the stall limit
    std::string refusedRedirect; // where the device sent the request, refused
};

// Waits for the transfer, redrawing the view, and breaks it off once nothing
// has moved for --timeout.
Ended Await(Session& s, curlppx::CurlConn& conn, std::future<CURLcode>& done, ProgressView& view,
            const Activity& activity, const std::function<ProgressSample()>& sample) {
    Ended ended;
    while (done.wait_for(kRedraw) != std::future_status::ready) {
        view.Update(sample());
        if (!ended.stalled && activity.Idle() >= s.Timeout()) {
            ended.stalled = true;
            conn.Break(); // the request completes, with CURLE_ABORTED_BY_CALLBACK
        }
    }
    ended.code = done.get();
    if (ended.code == curlppx::CurlConn::kRedirectRefused) {
        ended.refusedRedirect = conn.GetRefusedRedirect();
    }
    // The engine's own low-speed limit ends a stalled transfer too, once
    // connected; before that, the time-out is the connect time-out.
    if (ended.code == CURLE_OPERATION_TIMEDOUT &&
        (conn.GetReqSSLTime() > 0 || conn.GetResCode() != 0)) {
        ended.stalled = true;
    }
    // A refusal moved nothing worth a last line.
    if (const auto last = sample(); last.done > 0) {
        view.Update(last);
    }
    view.Finish();
    return ended;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Every way a transfer ended before it delivered: broken off for silence, or
// sent off the device.
void FailIfCutShort(Session& s, const TransferTarget& target, const Ended& ended) {
    if (ended.stalled) {
        s.FailStalled(target.what);
    }
    if (!ended.refusedRedirect.empty()) {
        throw CommandError(ExitCode::Connection,
                           target.what + ": the device redirected to " + ended.refusedRedirect +
                               ", which zeqctl refuses: the device's credentials never go over "
                               "plain HTTP or to another origin");
    }
}

// The device's JSON refusal when there is one, else the bare status.
[[noreturn]] void Refused(const TransferTarget& target, long status, const std::string& body) {
    if (target.explainRefusal) {
        target.explainRefusal(status);
    }
    Json::Value doc;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!body.empty() && reader->parse(body.data(), body.data() + body.size(), &doc, &errors) &&
        doc.isObject() && doc["code"].isIntegral()) {
        const auto text = doc["des"].isString() ? doc["des"].asString() : std::string();
        throw CommandError::Device(target.what + ": the device refused with code " +
                                   std::to_string(doc["code"].asInt64()) + " (HTTP " +
                                   std::to_string(status) + ")" +
                                   (text.empty() ? "" : ": " + text));
    }
    throw CommandError::Device(target.what + ": the device answered HTTP " +
                               std::to_string(status));
}

Json::Value Summary(const std::string& direction, const std::string& url, const fs::path& file,
                    long status, std::int64_t resumedFrom, std::int64_t bytes, std::int64_t size,
                    double seconds) {
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
    return doc;
}

std::size_t WriteToSink(curlppx::CurlConn& conn, Sink& sink, const char* data, std::size_t bytes) {
    sink.activity.Touch();
    if (!sink.decided) {
        // Runs on the loop thread, where the handle may be asked for its status.
        sink.decided = true;
        sink.status = conn.GetResCode();
        if (sink.status == 200 || sink.status == 206) {
            // A 200 to a ranged request is the whole file: start over.
            const bool append = sink.status == 206 && sink.resumeFrom > 0;
            sink.startsAt = append ? sink.resumeFrom : 0;
            const auto headers = conn.GetResHeader();
            if (sink.status == 206) {
                sink.total = RangeTotal(headers).value_or(0);
            } else if (const auto length = HeaderValue(headers, "Content-Length")) {
                sink.total = Number(*length).value_or(0);
            }
            sink.out.open(sink.file, std::ios::binary | (append ? std::ios::app : std::ios::trunc));
            if (!sink.out) {
                sink.writeFailed = true;
                return 0;
            }
        } else {
            sink.refused = true;
        }
    }
    if (sink.refused) {
        const auto room = kRefusalBodyLimit - std::min(kRefusalBodyLimit, sink.refusal.size());
        sink.refusal.append(data, std::min(room, bytes));
        return bytes;
    }
    sink.out.write(data, static_cast<std::streamsize>(bytes));
    if (!sink.out) {
        sink.writeFailed = true;
        return 0; // ends the transfer
    }
    sink.written += static_cast<std::int64_t>(bytes);
    return bytes;
}

// One request for the bytes of target from resumeFrom on, into partial.
struct Fetched {
    long status = 0;
    std::int64_t startsAt = 0;
    std::int64_t written = 0;
    std::optional<std::int64_t> unsatisfiableTotal; // a 416: the device's size
    double seconds = 0;
};

Fetched Fetch(Session& s, const TransferTarget& target, const fs::path& file,
              std::int64_t resumeFrom) {
    const auto partial = PartialFile(file);
    Sink sink;
    sink.file = partial;
    sink.resumeFrom = resumeFrom;
    // Until the answer says otherwise, so the speed does not count the bytes
    // that were there already.
    sink.startsAt = resumeFrom;
    s.Begin();
    ConnLease lease{DeviceConn(s, target.url)};
    auto& conn = *lease.conn;
    if (resumeFrom > 0) {
        conn.SetRange(resumeFrom, 0);
    }

    auto view = View(s, file);
    const auto started = std::chrono::steady_clock::now();
    auto done = conn.HttpDownload(
        [&conn, &sink](char* data, std::size_t size, std::size_t count, void*) {
            return WriteToSink(conn, sink, data, size * count);
        },
        nullptr);
    const auto ended = Await(s, conn, done, view, sink.activity, [&] {
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
    fetched.status = sink.decided ? sink.status : conn.GetResCode();
    fetched.startsAt = sink.startsAt;
    fetched.written = sink.written;
    if (sink.writeFailed) {
        throw CommandError::LocalFile(target.what + ": cannot write " + partial.string());
    }
    FailIfCutShort(s, target, ended);
    if (fetched.status == 416 && resumeFrom > 0) {
        fetched.unsatisfiableTotal = RangeTotal(conn.GetResHeader()).value_or(-1);
        return fetched;
    }
    if (fetched.status >= 300 || (fetched.status != 0 && sink.refused)) {
        Refused(target, fetched.status, sink.refused ? sink.refusal : conn.GetRespones());
    }
    if (ended.code != CURLE_OK) {
        s.FailTransport(target.what, ended.code);
    }
    if (!sink.decided) {
        // An empty body: the file is whatever the answer says it is.
        std::ofstream(partial, std::ios::binary | std::ios::app);
    }
    return fetched;
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
    return base + "filesvc/content?path=" + QueryEncoded(devicePath) + "&category=" + category;
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
}

Json::Value Download(Session& s, const TransferTarget& target, const fs::path& file) {
    const auto partial = PartialFile(file);
    std::error_code ec;
    for (const auto& path : {file, partial}) {
        if (fs::exists(path, ec) && !fs::is_regular_file(path, ec)) {
            throw CommandError::Usage(path.string() + " is in the way: not a regular file");
        }
    }
    auto fetched = Fetch(s, target, file, SizeOf(partial));
    if (fetched.unsatisfiableTotal && *fetched.unsatisfiableTotal != SizeOf(partial)) {
        // Longer than the device's file: whatever it holds, it is no part of it.
        fs::remove(partial, ec);
        fetched = Fetch(s, target, file, 0);
    }
    fs::rename(partial, file, ec);
    if (ec) {
        throw CommandError::LocalFile(target.what + ": cannot rename " + partial.string() + " to " +
                                      file.string() + ": " + ec.message());
    }
    return Summary("download", target.url, file, fetched.status, fetched.startsAt, fetched.written,
                   SizeOf(file), fetched.seconds);
}

Json::Value Upload(Session& s, const TransferTarget& target, const fs::path& file,
                   std::int64_t offset) {
    RequireReadable(target.what, file);
    Source source;
    source.in.open(file, std::ios::binary);
    const auto size = SizeOf(file);
    if (offset < 0 || offset > size) {
        throw CommandError::Usage("--offset must be between 0 and the file's " +
                                  std::to_string(size) + " bytes");
    }
    if (!source.in.seekg(offset)) {
        throw CommandError::LocalFile(target.what + ": cannot read " + file.string());
    }
    s.Begin();
    ConnLease lease{DeviceConn(s, target.url)};
    auto& conn = *lease.conn;
    if (offset > 0) {
        // Tells the device where the bytes go, so a wrong offset is refused
        // instead of corrupting the file.
        conn.SetHeader("Content-Range", "bytes " + std::to_string(offset) + "-" +
                                            std::to_string(size - 1) + "/" + std::to_string(size));
    }
    auto view = View(s, file);
    const auto sending = size - offset;
    const auto started = std::chrono::steady_clock::now();
    auto done = conn.HttpUpload(
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
    const auto ended = Await(s, conn, done, view, source.activity, [&] {
        ProgressSample sample;
        sample.total = size;
        sample.done = offset + source.sent.load();
        sample.percent = sample.done * 100 / std::max<std::int64_t>(size, 1);
        return sample;
    });
    const double seconds = SecondsSince(started);
    const long status = conn.GetResCode();
    if (ended.code == CURLE_ABORTED_BY_CALLBACK && source.in.bad()) {
        throw CommandError::LocalFile(target.what + ": cannot read " + file.string());
    }
    FailIfCutShort(s, target, ended);
    if (status >= 300) {
        Refused(target, status, conn.GetRespones());
    }
    if (ended.code != CURLE_OK) {
        s.FailTransport(target.what, ended.code);
    }
    Json::Value answer;
    Json::CharReaderBuilder builder;
    std::string errors;
    const auto body = conn.GetRespones();
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (reader->parse(body.data(), body.data() + body.size(), &answer, &errors) &&
        answer.isObject() && answer["code"].isIntegral() && answer["code"].asInt64() != 0) {
        Refused(target, status, body);
    }
    return Summary("upload", target.url, file, status, offset, sending, size, seconds);
}

} // namespace zeqctl
