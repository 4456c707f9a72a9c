#include "core/HttpReqZEQ.h"

#include "core/detail/CurlHandles.h"
#include "core/detail/TlsOptions.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/Scribo.h"
#include "platform/SystemInfo.h"
#include "platform/TextCodec.h"

#include <atomic>
#include <limits>
#include <memory>
#include <new>

namespace {

constexpr const wchar_t* kCaFile = L"config/ca.pem";

std::atomic<int> g_stallLimitSeconds{0};

using curlhandles::EasyHandle;
using curlhandles::HeaderList;

void LogError(int line, const char* function, const std::string& message) {
    Scribo::Output(Scribo::subCloudSuite, Scribo::LOG_ERROR, line, function, message, true);
}

// libcurl calls this for every TLS context; the host decides. Without a
// registered hook no handshake may pass, whatever the CA bundle says.
CURLcode SslCtxTrampoline(CURL* curl, void* sslCtx, void* userPtr) {
    if (HttpReqZEQ::sslCtxFunction == nullptr) {
        return CURLE_SSL_ISSUER_ERROR;
    }
    return static_cast<CURLcode>(HttpReqZEQ::sslCtxFunction(curl, sslCtx, userPtr));
}

std::string CaFilePath() {
    std::string path;
    platform::WideToUtf8(platform::ExecutableDirectory() + kCaFile, path);
    return path;
}

// Appends size x count bytes to text; 0, which makes libcurl end the transfer
// with a write error, when there is nothing to write to or the size
// overflows.
std::size_t AppendBytes(const void* data, std::size_t size, std::size_t count, void* text) {
    if (data == nullptr || text == nullptr) {
        return 0;
    }
    if (count != 0 && size > std::numeric_limits<std::size_t>::max() / count) {
        return 0;
    }
    const std::size_t total = size * count;
    static_cast<std::string*>(text)->append(static_cast<const char*>(data), total);
    return total;
}

// A reply announcing more than this is not trusted with memory up front: its
// body grows as it comes.
constexpr curl_off_t kLargestReservation = 64 * 1024 * 1024;

// The body's sink: the caller's string, sized once from the length the reply
// announces before its first bytes go in. Grown by doubling instead, a large
// reply was copied about once more on its way in, through fresh memory.
struct BodySink {
    CURL* curl;
    std::string* body;

    static std::size_t Write(const void* data, std::size_t size, std::size_t count,
                             void* userData) {
        auto* sink = static_cast<BodySink*>(userData);
        if (sink->body->empty()) {
            curl_off_t announced = -1;
            if (curl_easy_getinfo(sink->curl, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced) ==
                    CURLE_OK &&
                announced > 0 && announced <= kLargestReservation) {
                // Only a hint: without the memory, the bytes still go in one by one.
                try {
                    sink->body->reserve(static_cast<std::size_t>(announced));
                } catch (const std::bad_alloc&) {
                }
            }
        }
        return AppendBytes(data, size, count, sink->body);
    }
};

} // namespace

const int HttpReqZEQ::reqClientType = 3;
std::string HttpReqZEQ::reqDeviceId;
std::string HttpReqZEQ::reqUserId;
HttpReqZEQ::ConnInfoFunction HttpReqZEQ::getZeqConnInfo = nullptr;
HttpReqZEQ::ConnInfoFunction HttpReqZEQ::getZeqDataConnInfo = nullptr;
HttpReqZEQ::DevCapFunction HttpReqZEQ::getZeqDevCap = nullptr;
HttpReqZEQ::FarDataServiceFunction HttpReqZEQ::getFarDataService = nullptr;
HttpReqZEQ::SslCtxFunction HttpReqZEQ::sslCtxFunction = nullptr;

HttpReqZEQ::HttpReqZEQ(HttpRequestMethod method) : reqMethod(method), reqAttempts(3) {
    GlobalParamWrapper* params = GlobalParamWrapper::GetInstance();
    if (reqDeviceId.empty()) {
        reqDeviceId = params->GetReqDeviceId();
    }
    if (reqUserId.empty()) {
        // An empty id stays empty, so a later request asks again.
        platform::WideToUtf8(params->GetCurrentUserId(), reqUserId);
    }
}

void HttpReqZEQ::RegHttpReqZeqApi(ConnInfoFunction connInfo, DevCapFunction devCap,
                                  ConnInfoFunction dataConnInfo,
                                  FarDataServiceFunction farDataService) {
    getZeqConnInfo = connInfo;
    getZeqDevCap = devCap;
    getZeqDataConnInfo = dataConnInfo;
    getFarDataService = farDataService;
}

void HttpReqZEQ::RegSslFunction(SslCtxFunction function) {
    sslCtxFunction = function;
}

void HttpReqZEQ::SetStallLimit(int seconds) {
    g_stallLimitSeconds.store(seconds > 0 ? seconds : 0);
}

bool HttpReqZEQ::IsFarDataService() {
    return getFarDataService != nullptr && getFarDataService();
}

bool HttpReqZEQ::CtxInit(const std::string& path, const std::map<std::string, std::string>& query,
                         const std::string& body) {
    if (reqMethod > HTTP_POST) {
        LogError(__LINE__, "HttpReqZEQ::CtxInit",
                 "http method(" + std::to_string(reqMethod) + ") is not support yet!");
        return false;
    }
    BuildHttpUrl(path, query);
    if (getZeqConnInfo == nullptr) {
        LogError(__LINE__, "HttpReqZEQ::CtxInit", "getZeqConnInfo uninitialized error!");
        return false;
    }
    std::string baseUrl;
    std::string cookieId;
    std::string token;
    getZeqConnInfo(baseUrl, cookieId, token);
    constexpr std::size_t kSchemeLength = 8; // "https://"
    // Without a "/" after the host there is no safe place to cut the Host
    // value, so such a base URL is refused like one that is too short.
    const std::size_t slash =
        baseUrl.size() > kSchemeLength ? baseUrl.rfind('/') : std::string::npos;
    if (baseUrl.size() < 9 || slash == std::string::npos || slash < kSchemeLength) {
        LogError(__LINE__, "HttpReqZEQ::CtxInit", "failed to get valid httpsUrl for http req!");
        return false;
    }

    reqHeaders["Host"] = baseUrl.substr(kSchemeLength, slash - kSchemeLength);
    reqHeaders["Cookie"] = "ID=" + cookieId;
    reqHeaders["Token"] = token;
    reqHeaders["Connection"] = "Keep-Alive";
    reqHeaders["User-Agent"] = "okhttp/4.9.3";
    if (reqMethod == HTTP_POST) {
        reqHeaders["Content-Type"] = "application/json; charset=UTF-8";
    }
    reqBody = body;
    return true;
}

void HttpReqZEQ::BuildHttpUrl(const std::string& path,
                              const std::map<std::string, std::string>& query) {
    std::map<std::string, std::string> pairs = query;
    if (reqMethod == HTTP_GET) {
        pairs["clientType"] = std::to_string(reqClientType);
        pairs["deviceId"] = reqDeviceId;
    }
    // The device expects keys and values verbatim: nothing is percent-encoded.
    std::string queryText;
    for (const auto& [key, value] : pairs) {
        queryText.append(queryText.empty() ? "?" : "&").append(key).append("=").append(value);
    }
    if (getZeqConnInfo == nullptr) {
        LogError(__LINE__, "HttpReqZEQ::BuildHttpUrl", "getZeqConnInfo uninitialized error!");
        return;
    }
    std::string baseUrl;
    std::string cookieId;
    std::string token;
    getZeqConnInfo(baseUrl, cookieId, token);
    reqUrl = baseUrl + path + queryText;
}

bool HttpReqZEQ::DoRequest(std::string& response, std::map<std::string, std::string> extraHeaders,
                           int connectTimeoutMs) {
    // Declared first so it is freed after the handle that points at it.
    HeaderList headerList;
    const EasyHandle curl(curl_easy_init());
    if (!curl) {
        return false;
    }
    CURL* const handle = curl.get();
    curl_easy_setopt(handle, CURLOPT_URL, reqUrl.c_str());

    std::string responseHeaders;
    headerList.reset(
        BuildRequestHeader(nullptr, responseHeaders, handle, response, std::move(extraHeaders)));
    // BuildRequestHeader's body sink, swapped for one that also sizes
    // response from the announced length; the same bytes go in.
    BodySink body{handle, &response};
    curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, &BodySink::Write);
    curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);

    const long connectTimeout =
        IsFarDataService() ? static_cast<long>(reqAttempts) * connectTimeoutMs : connectTimeoutMs;
    curl_easy_setopt(handle, CURLOPT_CONNECTTIMEOUT_MS, connectTimeout);
    // "No byte for N seconds" as libcurl can watch it: under one byte a
    // second for N seconds.
    if (const int stall = g_stallLimitSeconds.load(); stall > 0) {
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(handle, CURLOPT_LOW_SPEED_TIME, static_cast<long>(stall));
    }

    curlhandles::SetTlsOptions(handle, CaFilePath(), 0L);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, &SslCtxTrampoline);

    curl_easy_setopt(handle, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BEARER));

    switch (reqMethod) {
    case HTTP_GET:
        break;
    case HTTP_POST:
        curl_easy_setopt(handle, CURLOPT_POST, 1L);
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, reqBody.c_str());
        break;
    case HTTP_DELETE:
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "DELETE");
        break;
    case HTTP_PATCH:
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "PATCH");
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, reqBody.c_str());
        break;
    case HTTP_PUT:
        // The upload flag would make libcurl read the body from stdin and
        // ignore the post fields; a custom PUT sends reqBody itself.
        curl_easy_setopt(handle, CURLOPT_CUSTOMREQUEST, "PUT");
        curl_easy_setopt(handle, CURLOPT_POSTFIELDS, reqBody.c_str());
        break;
    default:
        return false;
    }
    return SendHttpReq(handle, response);
}

curl_slist* HttpReqZEQ::BuildRequestHeader(curl_slist* list, std::string& responseHeaders,
                                           CURL* curl, std::string& response,
                                           std::map<std::string, std::string> extraHeaders) {
    // Standard headers first, then the caller's; a key in both goes out twice.
    for (const auto* headers : {&reqHeaders, &extraHeaders}) {
        for (const auto& [key, value] : *headers) {
            if (curl_slist* next = curl_slist_append(list, (key + ":" + value).c_str())) {
                list = next;
            }
        }
    }
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &ResponseStream);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &response);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &ResponseStream);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &responseHeaders);
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    return list;
}

std::size_t HttpReqZEQ::ResponseStream(const void* data, std::size_t size, std::size_t count,
                                       void* userData) {
    return AppendBytes(data, size, count, userData);
}

bool HttpReqZEQ::SendHttpReq(CURL* curl, std::string& response) {
    int attempts = IsFarDataService() ? 1 : reqAttempts;
    long status = 0;
    for (;;) {
        if (status == 200) {
            return true;
        }
        if (status == 204 || attempts <= 0) {
            if (status >= 200) {
                return true;
            }
            Scribo::Output(Scribo::subUserAuthService, Scribo::LOG_INFO, __LINE__,
                           "HttpReqZEQ::SendHttpReq",
                           "request fail, code:" + std::to_string(status), true);
            return false;
        }
        response.clear();
        if (const CURLcode result = curl_easy_perform(curl); result != CURLE_OK) {
            LogError(__LINE__, "HttpReqZEQ::SendHttpReq",
                     "request fail, result: " + std::to_string(static_cast<int>(result)));
        }
        status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        --attempts;
    }
}
