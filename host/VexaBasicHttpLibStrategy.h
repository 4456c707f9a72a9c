#pragma once

#include "platform/HttpLibExport.h"
#include "host/VexaIHttpLibStrategy.h"

#include <map>
#include <string>

// Plain storage for one generic-service request; GET with no headers and no
// log function until set.
class HTTPLIB_API VexaBasicHttpLibStrategy : public VexaIHttpLibStrategy {
public:
    VexaBasicHttpLibStrategy();
    VexaBasicHttpLibStrategy(const VexaBasicHttpLibStrategy&) = default;
    VexaBasicHttpLibStrategy& operator=(const VexaBasicHttpLibStrategy&) = default;
    ~VexaBasicHttpLibStrategy() override;

    void SetUrl(const std::string& url) override;
    std::string GetUrl() const override;
    void SetHttpRequestMethod(VexaHttpRequestMethod method) override;
    VexaHttpRequestMethod GetHttpRequestMethod() const override;
    void SetLogFunction(const LogFunction& function) override;
    const LogFunction& GetLogFunction() const override;
    void SetHeaders(const std::map<std::string, std::string>& headers) override;
    std::map<std::string, std::string> GetHeaders() const override;

private:
    std::string m_url;
    VexaHttpRequestMethod m_method;
    LogFunction m_logFunction;
    std::map<std::string, std::string> m_headers;
};
