// Service benchmarks: each library path against a baseline doing the same
// work by hand, paired in one run. Run from scripts/bench.sh on the release
// build; the figures are ratios, so the machine's speed cancels out.
#include "BenchHarness.h"
#include "ListSteps.h"

#include "core/HttpReqZEQ.h"
#include "core/ObjectToJson.h"
#include "platform/ClientConstants.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"
#include "services/AlbumModels.h"
#include "services/PhotoIntfZEQ.h"
#include "support/DeviceHost.h"
#include "support/TestServer.h"

#include <curl/curl.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using benchharness::Compare;
using benchharness::CompareInChildren;
using benchharness::KeepAlive;
using benchharness::Report;

constexpr const char* kDeviceId = "bench-device";

// ---- 1. Device call ----

std::size_t AppendTo(const void* data, std::size_t size, std::size_t count, void* userData) {
    static_cast<std::string*>(userData)->append(static_cast<const char*>(data), size * count);
    return size * count;
}

// The body sized once from the length the reply announces, as the library
// sizes its own: both sides take their memory the same way.
struct Body {
    CURL* curl;
    std::string* text;

    static std::size_t Write(const void* data, std::size_t size, std::size_t count,
                             void* userData) {
        auto* body = static_cast<Body*>(userData);
        curl_off_t announced = -1;
        if (body->text->empty() &&
            curl_easy_getinfo(body->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                CURLE_OK &&
            announced > 0) {
            body->text->reserve(static_cast<std::size_t>(announced));
        }
        return AppendTo(data, size, count, body->text);
    }
};

CURLcode AcceptTlsContext(CURL*, void*, void*) {
    return CURLE_OK;
}

// What HttpReqZEQ does for one GET, written straight against libcurl: a fresh
// easy handle with the same URL, headers, TLS options and CA file, one
// attempt, then cleanup.
class PlainGet {
public:
    PlainGet(std::string url, const std::string& host)
        : m_url(std::move(url)),
          m_caFile(
              (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "config" / "ca.pem")
                  .string()),
          m_headerLines{"Connection:Keep-Alive",
                        std::string("Cookie:ID=") + testsupport::DeviceHost::kCookieId,
                        "Host:" + host, std::string("Token:") + testsupport::DeviceHost::kToken,
                        "User-Agent:okhttp/4.9.3"} {}

    long operator()(std::string& body) const {
        CURL* curl = curl_easy_init();
        curl_slist* headers = nullptr;
        for (const std::string& line : m_headerLines) {
            headers = curl_slist_append(headers, line.c_str());
        }
        std::string responseHeaders;
        Body sink{curl, &body};
        curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Body::Write);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &sink);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &AppendTo);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, &responseHeaders);
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, 10000L);
        curl_easy_setopt(curl, CURLOPT_SSL_CIPHER_LIST, g_cipherList.c_str());
        curl_easy_setopt(curl, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        curl_easy_setopt(curl, CURLOPT_SSLCERTTYPE, "PEM");
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(curl, CURLOPT_SSL_VERIFYHOST, 0L);
        curl_easy_setopt(curl, CURLOPT_CAINFO, m_caFile.c_str());
        curl_easy_setopt(curl, CURLOPT_SSL_CTX_FUNCTION, &AcceptTlsContext);
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BEARER));
        curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        curl_easy_cleanup(curl);
        curl_slist_free_all(headers);
        return status;
    }

private:
    std::string m_url;
    std::string m_caFile;
    std::vector<std::string> m_headerLines;
};

bool LibraryGet(std::string& body) {
    HttpReqZEQ request(HttpReqZEQ::HTTP_GET);
    return request.CtxInit("bench/ping", {}, {}) && request.DoRequest(body, {}, 10000);
}

bool BenchDeviceCall() {
    testsupport::TestServer server;
    const std::string reply = R"({"code":0,"des":"ok"})";
    server.Script("/bench/ping", {testsupport::Reply::Json(reply)});
    testsupport::DeviceHost host(server.BaseUrl());
    const PlainGet plain(server.BaseUrl() + "bench/ping?clientType=3&deviceId=" + kDeviceId,
                         "127.0.0.1:" + std::to_string(server.Port()));

    std::string libraryBody;
    std::string plainBody;
    if (!LibraryGet(libraryBody) || plain(plainBody) != 200 || libraryBody != reply ||
        plainBody != reply) {
        std::fprintf(stderr, "device call: the two requests do not agree\n");
        return false;
    }
    server.ClearRequests();
    const auto result = Compare(
        21, 10,
        [] {
            std::string body;
            KeepAlive(LibraryGet(body));
        },
        [&plain] {
            std::string body;
            KeepAlive(plain(body));
        });
    Report("device call (GET)", "HttpReqZEQ", "plain handle", result, 1.1);
    return true;
}

// ---- 2. Reply steps ----

// Each list reply step against a RapidJSON DOM parse of the same text. Both
// hand their result to the caller, who frees it outside the clock.
bool BenchReplySteps() {
    bool ok = true;
    for (const servicesbench::ListStep& step : servicesbench::ListSteps()) {
        const std::string page = step.page(step.items);
        if (step.run(page).entries != step.items) {
            std::fprintf(stderr, "%s: the page was not read whole\n", step.name);
            ok = false;
            continue;
        }
        std::shared_ptr<void> records;
        std::unique_ptr<rapidjson::Document> document;
        const auto result = CompareInChildren(
            7, 3, [&] { records = step.run(page).records; },
            [&] {
                document = std::make_unique<rapidjson::Document>();
                document->Parse(page.data(), page.size());
                KeepAlive(document->HasParseError());
            },
            [&] {
                records.reset();
                document.reset();
            });
        const std::string name = std::string(step.name) + " reply step (" +
                                 std::to_string(step.items) + " entries, " +
                                 std::to_string(page.size()) + " bytes)";
        Report(name.c_str(), "reply step", "RapidJSON DOM parse", result, 1.5);
    }
    return ok;
}

// ---- 3. End to end ----

// The full photo table fetched and filled through the service, against a
// plain easy handle fetching the same bytes from the same server. Wall time:
// what a user waits for.
bool BenchEndToEnd() {
    testsupport::TestServer server;
    const std::string page = servicesbench::PhotoTablePage(10000);
    server.Script("/gallery/getFullPhotosInfoTable", {testsupport::Reply::Json(page)});
    testsupport::DeviceHost host(server.BaseUrl());
    const PlainGet plain(server.BaseUrl() +
                             "gallery/getFullPhotosInfoTable?clientType=3&deviceId=" + kDeviceId +
                             "&startFileId=0",
                         "127.0.0.1:" + std::to_string(server.Port()));
    auto fetchAndFill = [] {
        auto rsp = std::make_unique<GalleryFilesAllMetadataRsp>();
        return PhotoIntfZEQ::Instance().GetGalleryFilesAllMetadata(0, *rsp) ? std::move(rsp)
                                                                            : nullptr;
    };
    std::string body;
    const auto filled = fetchAndFill();
    if (!filled || filled->data.size() != 10000 || plain(body) != 200 || body != page) {
        std::fprintf(stderr, "end to end: the two fetches do not agree\n");
        return false;
    }
    server.ClearRequests();
    std::unique_ptr<GalleryFilesAllMetadataRsp> records;
    const auto result = Compare(
        21, 1, [&] { records = fetchAndFill(); },
        [&] {
            body.clear();
            KeepAlive(plain(body));
        },
        [&] {
            records.reset();
            body = std::string();
            server.ClearRequests();
        });
    std::printf("photo table end to end (%zu bytes over HTTPS)\n"
                "  GetGalleryFilesAllMetadata %s/call, plain handle %s/call (wall clock)\n"
                "  ratio %.3f (target <= 2.00) %s; CPU ratio %.3f\n",
                page.size(), benchharness::Milliseconds(result.libraryWallNs).c_str(),
                benchharness::Milliseconds(result.baselineWallNs).c_str(), result.WallRatio(),
                result.WallRatio() <= 2.0 ? "met" : "MISSED", result.Ratio());
    std::fflush(stdout);
    return true;
}

// ---- 4. Body serialisation ----

ChgAlbumMembsReq MembersRequest(std::size_t count) {
    ChgAlbumMembsReq request{3, kDeviceId, 4242, "Summer by the lake", 1, {}, 1700000000000};
    for (std::size_t i = 0; i < count; ++i) {
        request.membs.push_back(AlbumMembFileItem{static_cast<std::int64_t>(100000 + i * 3)});
    }
    return request;
}

// The same text written by hand with RapidJSON's compact writer.
void HandWritten(const ChgAlbumMembsReq& request, std::string& out) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    writer.StartObject();
    writer.Key("clientType");
    writer.Int(request.clientType);
    writer.Key("deviceId");
    writer.String(request.deviceId.data(),
                  static_cast<rapidjson::SizeType>(request.deviceId.size()));
    writer.Key("albumId");
    writer.Int64(request.albumId);
    writer.Key("albumName");
    writer.String(request.albumName.data(),
                  static_cast<rapidjson::SizeType>(request.albumName.size()));
    writer.Key("albumType");
    writer.Int(request.albumType);
    writer.Key("membs");
    writer.StartArray();
    for (const AlbumMembFileItem& item : request.membs) {
        writer.StartObject();
        writer.Key("fileId");
        writer.Int64(item.fileId);
        writer.EndObject();
    }
    writer.EndArray();
    writer.Key("addTime");
    writer.Int64(request.addTime);
    writer.EndObject();
    out.assign(buffer.GetString(), buffer.GetSize());
}

bool BenchSerialisation() {
    const ChgAlbumMembsReq request = MembersRequest(10000);
    std::string library;
    std::string baseline;
    if (!ObjectToJson(request, library) || (HandWritten(request, baseline), library != baseline)) {
        std::fprintf(stderr, "serialisation: the two texts differ\n");
        return false;
    }
    std::printf("album members body: 10000 file ids, %zu bytes\n", library.size());
    const auto result = Compare(
        31, 20,
        [&] {
            std::string out;
            KeepAlive(ObjectToJson(request, out));
            KeepAlive(out);
        },
        [&] {
            std::string out;
            HandWritten(request, out);
            KeepAlive(out);
        });
    Report("album members body", "ObjectToJson", "hand-written Writer", result, 1.2);
    return true;
}

} // namespace

// With arguments, only the named sections run: "device-call", "reply-steps",
// "end-to-end", "serialisation".
int main(int argc, char** argv) {
    // The allocator keeps what is freed instead of handing it back to the
    // system: otherwise a side pays page faults for memory the other side's
    // run (or the allocator's trimming policy) gave back, not for its work.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    // Log lines would only cost time here; the checks above each run read results.
    Scribo::SetSink([](const Scribo::LogRecord&) {});
    GlobalParamWrapper::GetInstance()->SetReqDeviceId(kDeviceId);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const std::vector<std::string> only(argv + 1, argv + argc);
    auto run = [&](const char* section, bool (*bench)()) {
        return (only.empty() || std::find(only.begin(), only.end(), section) != only.end())
                   ? bench()
                   : true;
    };
    // Every benchmark runs, even after one has failed its check.
    const bool callOk = run("device-call", BenchDeviceCall);
    const bool stepsOk = run("reply-steps", BenchReplySteps);
    const bool endToEndOk = run("end-to-end", BenchEndToEnd);
    const bool serialisationOk = run("serialisation", BenchSerialisation);
    curl_global_cleanup();
    return callOk && stepsOk && endToEndOk && serialisationOk ? 0 : 1;
}
