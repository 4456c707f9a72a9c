// Service benchmarks: each library path against a baseline doing the same
// work by hand, paired in one run. Run from scripts/bench.sh on the release
// build; the figures are ratios, so the machine's speed cancels out.
#include "BenchHarness.h"
#include "PhotoTablePage.h"
#include "ReplyStepAccess.h"

#include "platform/ClientConstants.h"
#include "core/HttpReqZEQ.h"
#include "core/ObjectToJson.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"
#include "services/AlbumModels.h"
#include "support/DeviceHost.h"
#include "support/TestServer.h"

#include <curl/curl.h>
#include <json/reader.h>
#include <json/value.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <malloc.h>

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
        curl_easy_setopt(curl, CURLOPT_URL, m_url.c_str());
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &AppendTo);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
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

// ---- 2. Reply processing ----

bool BarelyParse(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    return reader->parse(text.data(), text.data() + text.size(), &root, nullptr);
}

bool BenchReplyStep() {
    const std::string page = servicesbench::PhotoTablePage(10000);
    std::printf("photo table page: 10000 items, %zu bytes\n", page.size());
    {
        GalleryFilesAllMetadataRsp rsp;
        if (!ReplyStepAccess::ParseAllMetadataRsp(page, rsp) || rsp.data.size() != 10000 ||
            rsp.data.back()->width != 4032 || !BarelyParse(page)) {
            std::fprintf(stderr, "reply step: the page was not read whole\n");
            return false;
        }
    }
    // Each side frees what it made within its own time: the reply step its
    // records, the parse its tree. Freeing is where the allocator does much
    // of its bookkeeping, which would otherwise fall on whichever side ran
    // next.
    const auto result = CompareInChildren(
        9, 3,
        [&] {
            GalleryFilesAllMetadataRsp rsp;
            KeepAlive(ReplyStepAccess::ParseAllMetadataRsp(page, rsp));
        },
        [&] { KeepAlive(BarelyParse(page)); }, [] {});
    Report("photo table reply step", "ParseAllMetadataRsp", "bare jsoncpp parse", result, 1.3);
    return true;
}

// ---- 3. Body serialisation ----

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

int main() {
    // The allocator keeps what is freed instead of handing it back to the
    // system: otherwise a side pays page faults for memory the other side's
    // run (or the allocator's trimming policy) gave back, not for its work.
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    // Log lines would only cost time here; the checks above each run read results.
    Scribo::SetSink([](const Scribo::LogRecord&) {});
    GlobalParamWrapper::GetInstance()->SetReqDeviceId(kDeviceId);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    // Every benchmark runs, even after one has failed its check.
    const bool callOk = BenchDeviceCall();
    const bool stepOk = BenchReplyStep();
    const bool serialisationOk = BenchSerialisation();
    curl_global_cleanup();
    return callOk && stepOk && serialisationOk ? 0 : 1;
}
