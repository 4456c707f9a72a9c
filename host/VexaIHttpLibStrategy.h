#pragma once

#include "platform/HttpLibExport.h"
#include "host/VexaHttpRequestMethod.h"

#include <functional>
#include <map>
#include <string>

// The generic HTTP service's description of one request, in UTF-8 text.
class HTTPLIB_API VexaIHttpLibStrategy {
public:
    using LogFunction = std::function<void(const std::string&)>;

    virtual ~VexaIHttpLibStrategy() = default;

    virtual void SetUrl(const std::string& url) = 0;
    virtual std::string GetUrl() const = 0;
    virtual void SetHttpRequestMethod(VexaHttpRequestMethod method) = 0;
    virtual VexaHttpRequestMethod GetHttpRequestMethod() const = 0;
    virtual void SetLogFunction(const LogFunction& function) = 0;
    virtual const LogFunction& GetLogFunction() const = 0;
    virtual void SetHeaders(const std::map<std::string, std::string>& headers) = 0;
    virtual std::map<std::string, std::string> GetHeaders() const = 0;

protected:
    VexaIHttpLibStrategy() = default;
    VexaIHttpLibStrategy(const VexaIHttpLibStrategy&) = default;
    VexaIHttpLibStrategy& operator=(const VexaIHttpLibStrategy&) = default;
};
