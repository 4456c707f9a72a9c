#pragma once

#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <cstddef>
#include <map>
#include <string>

// One synchronous request to the storage device's REST API. A service creates
// one on its stack per call: CtxInit, then DoRequest. The device's address,
// credentials and capabilities come from callbacks the host registers once,
// before the first device call; they are read without locks. The stall limit
// is the one setting a host may change at any time.
class HTTPLIB_API HttpReqZEQ {
public:
    enum HttpRequestMethod : int {
        HTTP_GET = 0,
        HTTP_POST = 1,
        HTTP_DELETE = 2,
        HTTP_PATCH = 3,
        HTTP_PUT = 4,
    };

    using ConnInfoFunction = void (*)(std::string& baseUrl, std::string& cookieId,
                                      std::string& token);
    using DevCapFunction = int (*)(int category, int capability);
    using FarDataServiceFunction = bool (*)();
    using SslCtxFunction = int (*)(void* curl, void* sslCtx, void* userPtr);

    static const int reqClientType;
    static std::string reqDeviceId;
    static std::string reqUserId;
    static ConnInfoFunction getZeqConnInfo;
    static ConnInfoFunction getZeqDataConnInfo;
    static DevCapFunction getZeqDevCap;
    static FarDataServiceFunction getFarDataService;
    static SslCtxFunction sslCtxFunction;

    explicit HttpReqZEQ(HttpRequestMethod method = HTTP_GET);

    bool CtxInit(const std::string& path, const std::map<std::string, std::string>& query,
                 const std::string& body);
    bool DoRequest(std::string& response, std::map<std::string, std::string> extraHeaders,
                   int connectTimeoutMs);

    static void RegHttpReqZeqApi(ConnInfoFunction connInfo, DevCapFunction devCap,
                                 ConnInfoFunction dataConnInfo,
                                 FarDataServiceFunction farDataService);
    static void RegSslFunction(SslCtxFunction function);
    // An attempt during which the device sends less than one byte a second
    // for this many seconds ends as a failed attempt; 0 (the default) sets no
    // limit. libcurl judges the speed over its last few seconds, so after a
    // burst the limit strikes up to about five seconds later.
    static void SetStallLimit(int seconds);

private:
    void BuildHttpUrl(const std::string& path, const std::map<std::string, std::string>& query);
    bool SendHttpReq(CURL* curl, std::string& response);
    curl_slist* BuildRequestHeader(curl_slist* list, std::string& responseHeaders, CURL* curl,
                                   std::string& response,
                                   std::map<std::string, std::string> extraHeaders);
    static std::size_t ResponseStream(const void* data, std::size_t size, std::size_t count,
                                      void* userData);
    static bool IsFarDataService();

    HttpRequestMethod reqMethod;
    std::string reqUrl;
    std::map<std::string, std::string> reqHeaders;
    std::string reqBody;
    int reqAttempts;
};
