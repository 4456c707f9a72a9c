#include "context/BasicHttpLibStrategy.h"

#include "context/ClientTexts.h"
#include "context/ClientUtils.h"
#include "curlppx/CurlGlobal.h"

#include <chrono>
#include <cstdint>
#include <cstring>

namespace {

constexpr int kTraceDigits = 8;

IHttpLibStrategy::LogFunction Forwarding(const std::function<void(const std::wstring&)>& function) {
    if (!function) {
        return {};
    }
    return [function](std::wstring text) { function(text); };
}

std::wstring AuthorizationText(const std::wstring& clientTag, const std::wstring& token) {
    const std::wstring plain = g_authorizationScheme + L":" + curlppx::CurlGlobal::GetSystemUUid() +
                               L":" + clientTag + L":st:" + UrlEncode(token);
    const std::string utf8 = UnicodeToUTF8(plain);
    return UTF8ToUnicode(Base64UrlEncode(reinterpret_cast<const unsigned char*>(utf8.data()),
                                         static_cast<unsigned int>(utf8.size())));
}

// Empty when the secure random source fails: a guessable trace id is worse
// than none.
std::wstring TraceId(const std::wstring& clientTag) {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    std::wstring digits;
    for (int i = 0; i < kTraceDigits; ++i) {
        unsigned char bytes[4] = {};
        if (!GenRandomUint32(bytes)) {
            return {};
        }
        std::uint32_t value = 0;
        std::memcpy(&value, bytes, sizeof value);
        digits += static_cast<wchar_t>(L'0' + value % 10);
    }
    return clientTag + L"_11_" + std::to_wstring(static_cast<std::int32_t>(seconds)) + L"_" +
           digits;
}

} // namespace

BasicHttpLibStrategy::BasicHttpLibStrategy()
    : logFunction([](std::wstring) {}), errorLogFunction([](std::wstring) {}), method(HTTP_GET) {}

BasicHttpLibStrategy::~BasicHttpLibStrategy() = default;

void BasicHttpLibStrategy::SetLogFunction(
    const std::function<void(const std::wstring&)>& function) {
    logFunction = Forwarding(function);
}

void BasicHttpLibStrategy::SetErrorLogFunction(
    const std::function<void(const std::wstring&)>& function) {
    errorLogFunction = Forwarding(function);
}

const IHttpLibStrategy::LogFunction& BasicHttpLibStrategy::GetLogFunction() {
    return logFunction;
}

const IHttpLibStrategy::LogFunction& BasicHttpLibStrategy::GetErrorLogFunction() {
    return errorLogFunction;
}

void BasicHttpLibStrategy::SetUrl(const std::wstring& text) {
    url = text;
}

std::wstring BasicHttpLibStrategy::GetUrl() {
    return url;
}

void BasicHttpLibStrategy::SetHeaders(const std::wstring& userId, const std::wstring& clientTag,
                                      const std::wstring& token) {
    const std::wstring authorization = AuthorizationText(clientTag, token);
    std::wstring version;
    if (!GetClientVersion(version)) {
        version.clear();
    }
    headers.clear();
    headers[L"Authorization"] = authorization;
    headers[L"userId"] = userId;
    headers[L"encversion"] = L"0";
    headers[L"x-qx-trace-id"] = TraceId(clientTag);
    headers[L"x-qx-os"] = GetOsVersionName();
    headers[L"x-qx-os-brand"] = g_osBrand;
    headers[L"x-qx-terminal"] = g_terminalKind;
    headers[L"version"] = version;
    headers[L"Accept-Language"] = L"zh-CN";
}

void BasicHttpLibStrategy::SetHeaders(const std::map<std::wstring, std::wstring>& replacement) {
    headers = replacement;
}

std::map<std::wstring, std::wstring> BasicHttpLibStrategy::GetHeaders() {
    return headers;
}

void BasicHttpLibStrategy::SetHttpRequestMethod(HttpRequestMethod value) {
    method = value;
}

HttpRequestMethod BasicHttpLibStrategy::GetHttpRequestMethod() {
    return method;
}

void BasicHttpLibStrategy::SetPostData(const std::wstring& data) {
    postData = data;
}

std::wstring BasicHttpLibStrategy::GetPostData() {
    return postData;
}

void BasicHttpLibStrategy::SetCertPath(const std::wstring& path) {
    certPath = path;
}

std::wstring BasicHttpLibStrategy::GetCertPath() {
    return certPath;
}
