#include "TransferCommands.h"

#include "Commands.h"
#include "Progress.h"
#include "Session.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlGlobal.h"
#include "platform/TextCodec.h"
#include "services/DeviceIntfZEQ.h"

#include <json/reader.h>

#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

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

// The device's credentials go with every transfer, so an absolute URL must
// name the device itself; anything else is a path on it.
std::string Resolve(const std::string& base, const std::string& url) {
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
};

// What an upload has handed to the engine so far.
struct Source {
    std::ifstream in;
    std::atomic<std::int64_t> sent{0};
};

// Sets up one engine connection the way the device request is set up: the
// device's credentials as headers and peer verification against the CA
// beside the executable. The engine's progress hook stays off: its callback
// lets libcurl draw its own meter on standard error as well, so the byte
// counts come from the data callbacks and the view works out the speed.
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

// The engine's connections take no TLS hook, so the pin is checked on a
// device request just before; the transfer itself still verifies the chain.
void VerifyPin(Session& s, const std::string& what) {
    if (s.Options().connection.pin.empty()) {
        return;
    }
    DeviceInfo info;
    s.Require(what + " (checking the certificate pin)",
              [&] { return DeviceIntfZEQ::Instance().GetDeviceInfo(info); });
}

struct Watch {
    bool live = false;
    std::ostream* stream = nullptr;
};

Watch ProgressStream(Session& s) {
    // With --json the document owns standard output, so progress goes to
    // standard error.
    const bool toStderr = s.Out().Json();
    return {::isatty(toStderr ? STDERR_FILENO : STDOUT_FILENO) == 1,
            toStderr ? &std::cerr : &s.Out().Stream()};
}

CURLcode Await(std::future<CURLcode>& done, ProgressView& view,
               const std::function<ProgressSample()>& sample) {
    while (done.wait_for(kRedraw) != std::future_status::ready) {
        view.Update(sample());
    }
    const auto code = done.get();
    // A refusal moved nothing worth a last line.
    if (const auto last = sample(); last.done > 0) {
        view.Update(last);
    }
    view.Finish();
    return code;
}

// The device's JSON refusal when there is one, else the bare status.
[[noreturn]] void Refused(const std::string& what, long status, const std::string& body) {
    Json::Value doc;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (!body.empty() && reader->parse(body.data(), body.data() + body.size(), &doc, &errors) &&
        doc.isObject() && doc["code"].isIntegral()) {
        const auto text = doc["des"].isString() ? doc["des"].asString() : std::string();
        throw CommandError::Device(
            what + ": the device refused with code " + std::to_string(doc["code"].asInt64()) +
            " (HTTP " + std::to_string(status) + ")" + (text.empty() ? "" : ": " + text));
    }
    throw CommandError::Device(what + ": the device answered HTTP " + std::to_string(status));
}

Json::Value Summary(const std::string& direction, const std::string& url, const std::string& file,
                    long status, std::int64_t resumedFrom, std::int64_t bytes, std::int64_t size,
                    double seconds) {
    Json::Value doc;
    doc["direction"] = direction;
    doc["url"] = url;
    doc["file"] = file;
    doc["status"] = static_cast<Json::Int64>(status);
    doc["resumedFrom"] = static_cast<Json::Int64>(resumedFrom);
    doc["bytes"] = static_cast<Json::Int64>(bytes);
    doc["size"] = static_cast<Json::Int64>(size);
    doc["seconds"] = seconds;
    doc["speed"] = static_cast<Json::Int64>(seconds > 0 ? static_cast<double>(bytes) / seconds : 0);
    return doc;
}

std::size_t WriteToSink(curlppx::CurlConn& conn, Sink& sink, const char* data, std::size_t bytes) {
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

struct GetArgs {
    std::string url;
    std::string file;
};

} // namespace

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

Json::Value Download(Session& s, const std::string& deviceUrl, const std::string& file) {
    const GetArgs args{deviceUrl, file};
    const auto url = Resolve(s.Device().BaseUrl(), args.url);
    const std::string what = "get " + args.url;
    VerifyPin(s, what);

    Sink sink;
    sink.file = args.file;
    std::error_code ec;
    if (fs::is_regular_file(sink.file, ec)) {
        sink.resumeFrom = static_cast<std::int64_t>(fs::file_size(sink.file, ec));
        // Until the answer says otherwise, so the speed does not count the
        // bytes that were there already.
        sink.startsAt = sink.resumeFrom;
    } else if (fs::exists(sink.file, ec)) {
        throw CommandError::Usage(args.file + " is not a regular file");
    }
    ConnLease lease{DeviceConn(s, url)};
    auto& conn = *lease.conn;
    if (sink.resumeFrom > 0) {
        conn.SetRange(sink.resumeFrom, 0);
    }

    const auto watch = ProgressStream(s);
    ProgressView view(*watch.stream, watch.live, fs::path(args.file).filename().string(),
                      ProgressUnit::Bytes);
    const auto started = std::chrono::steady_clock::now();
    auto done = conn.HttpDownload(
        [&conn, &sink](char* data, std::size_t size, std::size_t count, void*) {
            return WriteToSink(conn, sink, data, size * count);
        },
        nullptr);
    const auto code = Await(done, view, [&] {
        ProgressSample sample;
        sample.done = sink.startsAt + sink.written.load();
        sample.total = sink.total.load();
        if (sample.total > 0) {
            sample.percent = sample.done * 100 / sample.total;
        }
        return sample;
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    sink.out.close();
    const long status = sink.decided ? sink.status : conn.GetResCode();

    if (sink.writeFailed) {
        throw CommandError::Device(what + ": cannot write " + args.file);
    }
    if (status == 416 && sink.resumeFrom > 0) {
        // Nothing past the end: either the file is complete or it is not this file.
        const auto total = RangeTotal(conn.GetResHeader());
        if (!total || *total != sink.resumeFrom) {
            throw CommandError::Device(
                what + ": " + args.file + " holds " + std::to_string(sink.resumeFrom) +
                " bytes, more than the device's " +
                (total ? std::to_string(*total) + " bytes" : std::string("file")) +
                "; remove it to download again");
        }
    } else if (status >= 300 || (status != 0 && sink.refused)) {
        Refused(what, status, sink.refused ? sink.refusal : conn.GetRespones());
    } else if (code != CURLE_OK) {
        s.FailTransport(what, code);
    } else if (!sink.decided) {
        // An empty body: the file is whatever the answer says it is.
        std::ofstream(sink.file, std::ios::binary | std::ios::app);
    }

    const auto size = static_cast<std::int64_t>(fs::file_size(sink.file, ec));
    return Summary("download", url, args.file, status, sink.startsAt.load(), sink.written.load(),
                   size, seconds);
}

namespace {

struct PutArgs {
    std::string file;
    std::string url;
    std::int64_t offset = 0;
};

void Put(Session& s, const PutArgs& args) {
    const auto url = Resolve(s.Device().BaseUrl(), args.url);
    const std::string what = "put " + args.file;
    std::error_code ec;
    if (!fs::is_regular_file(args.file, ec)) {
        throw CommandError::Usage(args.file + " is not a readable file");
    }
    const auto size = static_cast<std::int64_t>(fs::file_size(args.file, ec));
    if (args.offset < 0 || args.offset > size) {
        throw CommandError::Usage("--offset must be between 0 and the file's " +
                                  std::to_string(size) + " bytes");
    }
    VerifyPin(s, what);

    Source source;
    source.in.open(args.file, std::ios::binary);
    if (!source.in || !source.in.seekg(args.offset)) {
        throw CommandError::Usage("cannot read " + args.file);
    }
    ConnLease lease{DeviceConn(s, url)};
    auto& conn = *lease.conn;
    if (args.offset > 0) {
        // Tells the device where the bytes go, so a wrong offset is refused
        // instead of corrupting the file.
        conn.SetHeader("Content-Range", "bytes " + std::to_string(args.offset) + "-" +
                                            std::to_string(size - 1) + "/" + std::to_string(size));
    }
    const auto watch = ProgressStream(s);
    ProgressView view(*watch.stream, watch.live, fs::path(args.file).filename().string(),
                      ProgressUnit::Bytes);
    const auto sending = size - args.offset;
    const auto started = std::chrono::steady_clock::now();
    auto done = conn.HttpUpload(
        sending,
        [&source](char* buffer, std::size_t capacity, char*, void*) -> std::size_t {
            source.in.read(buffer, static_cast<std::streamsize>(capacity));
            if (source.in.bad()) {
                return CURL_READFUNC_ABORT;
            }
            const auto got = source.in.gcount();
            source.sent += got;
            return static_cast<std::size_t>(got);
        },
        nullptr);
    const auto code = Await(done, view, [&] {
        ProgressSample sample;
        sample.total = size;
        sample.done = args.offset + source.sent.load();
        sample.percent = sample.done * 100 / std::max<std::int64_t>(size, 1);
        return sample;
    });
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    const long status = conn.GetResCode();
    if (code == CURLE_ABORTED_BY_CALLBACK && source.in.bad()) {
        throw CommandError::Usage("cannot read " + args.file);
    }
    if (status >= 300) {
        Refused(what, status, conn.GetRespones());
    }
    if (code != CURLE_OK) {
        s.FailTransport(what, code);
    }
    Json::Value answer;
    Json::CharReaderBuilder builder;
    std::string errors;
    const auto body = conn.GetRespones();
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    if (reader->parse(body.data(), body.data() + body.size(), &answer, &errors) &&
        answer.isObject() && answer["code"].isIntegral() && answer["code"].asInt64() != 0) {
        Refused(what, status, body);
    }

    const auto doc = Summary("upload", url, args.file, status, args.offset, sending, size, seconds);
    s.Out().Emit(doc, [&] { ShowTransfer(s, doc); });
}

} // namespace

void AddTransferCommands(CLI::App& app, Action& chosen) {
    static GetArgs get;
    auto* g = app.add_subcommand(
        "get", "Download a file from the device through the transfer engine; an existing FILE "
               "is resumed from its size");
    g->add_option("url", get.url, "URL or path on the device, e.g. /filesvc/content?path=/a.pdf")
        ->required();
    g->add_option("-o,--output", get.file, "Local file to write")->required();
    OnRun(g, chosen, [](Session& s) {
        const auto doc = Download(s, get.url, get.file);
        s.Out().Emit(doc, [&] { ShowTransfer(s, doc); });
    });

    static PutArgs put;
    auto* p = app.add_subcommand("put", "Upload a file to the device through the transfer engine");
    p->add_option("file", put.file, "Local file to send")->required();
    p->add_option("url", put.url, "URL or path on the device, e.g. /filesvc/content?path=/a.pdf")
        ->required();
    p->add_option("--offset", put.offset,
                  "Resume: send from this byte on, after the device already holds the bytes "
                  "before it")
        ->check(CLI::NonNegativeNumber);
    OnRun(p, chosen, [](Session& s) { Put(s, put); });
}

} // namespace zeqctl
