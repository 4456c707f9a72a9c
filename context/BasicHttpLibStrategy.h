#pragma once

#include "context/IHttpLibStrategy.h"
#include "platform/HttpLibExport.h"

#include <map>
#include <string>

// The one strategy: plain storage plus the client's standard header set. A
// value object; copies share nothing.
class HTTPLIB_API BasicHttpLibStrategy : public IHttpLibStrategy {
public:
    BasicHttpLibStrategy();
    BasicHttpLibStrategy(const BasicHttpLibStrategy&) = default;
    BasicHttpLibStrategy& operator=(const BasicHttpLibStrategy&) = default;
    ~BasicHttpLibStrategy() override;

    // An empty callable is stored empty: calling it is then the caller's risk.
    void SetLogFunction(const std::function<void(const std::wstring&)>& function) override;
    void SetErrorLogFunction(const std::function<void(const std::wstring&)>& function) override;
    const LogFunction& GetLogFunction() override;
    const LogFunction& GetErrorLogFunction() override;
    void SetUrl(const std::wstring& url) override;
    std::wstring GetUrl() override;
    // userId goes out as "userId"; clientTag prefixes the trace id and names
    // the client in the authorization text; token ends the authorization text.
    void SetHeaders(const std::wstring& userId, const std::wstring& clientTag,
                    const std::wstring& token) override;
    void SetHeaders(const std::map<std::wstring, std::wstring>& headers) override;
    std::map<std::wstring, std::wstring> GetHeaders() override;
    void SetHttpRequestMethod(HttpRequestMethod method) override;
    HttpRequestMethod GetHttpRequestMethod() override;
    void SetPostData(const std::wstring& data) override;
    std::wstring GetPostData() override;
    // Kept for callers; the request context verifies against its own CA file.
    void SetCertPath(const std::wstring& path) override;
    std::wstring GetCertPath() override;

private:
    LogFunction logFunction;
    LogFunction errorLogFunction;
    std::wstring url;
    std::map<std::wstring, std::wstring> headers;
    HttpRequestMethod method;
    std::wstring postData;
    std::wstring certPath;
};
