#include "host/VexaBasicHttpLibStrategy.h"

VexaBasicHttpLibStrategy::VexaBasicHttpLibStrategy() : m_method(VEXA_HTTP_GET) {}

VexaBasicHttpLibStrategy::~VexaBasicHttpLibStrategy() = default;

void VexaBasicHttpLibStrategy::SetUrl(const std::string& url) {
    m_url = url;
}

std::string VexaBasicHttpLibStrategy::GetUrl() const {
    return m_url;
}

void VexaBasicHttpLibStrategy::SetHttpRequestMethod(VexaHttpRequestMethod method) {
    m_method = method;
}

VexaHttpRequestMethod VexaBasicHttpLibStrategy::GetHttpRequestMethod() const {
    return m_method;
}

void VexaBasicHttpLibStrategy::SetLogFunction(const LogFunction& function) {
    m_logFunction = function;
}

const VexaIHttpLibStrategy::LogFunction& VexaBasicHttpLibStrategy::GetLogFunction() const {
    return m_logFunction;
}

void VexaBasicHttpLibStrategy::SetHeaders(const std::map<std::string, std::string>& headers) {
    m_headers = headers;
}

std::map<std::string, std::string> VexaBasicHttpLibStrategy::GetHeaders() const {
    return m_headers;
}
