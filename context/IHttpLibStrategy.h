#pragma once

#include "context/HttpRequestMethod.h"
#include "platform/HttpLibExport.h"

#include <functional>
#include <map>
#include <string>

// The description of one HTTP request, in wide text. A context holds a pointer
// to one and asks it for everything it sends, so the strategy must outlive the
// context's use of it.
class HTTPLIB_API IHttpLibStrategy {
public:
    using LogFunction = std::function<void(std::wstring)>;

    virtual ~IHttpLibStrategy() = default;

    virtual void SetLogFunction(const std::function<void(const std::wstring&)>& function) = 0;
    virtual void SetErrorLogFunction(const std::function<void(const std::wstring&)>& function) = 0;
    virtual const LogFunction& GetLogFunction() = 0;
    virtual const LogFunction& GetErrorLogFunction() = 0;
    virtual void SetUrl(const std::wstring& url) = 0;
    virtual std::wstring GetUrl() = 0;
    // The client's standard header set; replaces every header set before.
    virtual void SetHeaders(const std::wstring& userId, const std::wstring& clientTag,
                            const std::wstring& token) = 0;
    virtual void SetHeaders(const std::map<std::wstring, std::wstring>& headers) = 0;
    virtual std::map<std::wstring, std::wstring> GetHeaders() = 0;
    virtual void SetHttpRequestMethod(HttpRequestMethod method) = 0;
    virtual HttpRequestMethod GetHttpRequestMethod() = 0;
    virtual void SetPostData(const std::wstring& data) = 0;
    virtual std::wstring GetPostData() = 0;
    virtual void SetCertPath(const std::wstring& path) = 0;
    virtual std::wstring GetCertPath() = 0;

protected:
    IHttpLibStrategy() = default;
    IHttpLibStrategy(const IHttpLibStrategy&) = default;
    IHttpLibStrategy& operator=(const IHttpLibStrategy&) = default;
};
