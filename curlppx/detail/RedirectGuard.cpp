#include "curlppx/detail/RedirectGuard.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <memory>

namespace curlppx::detail {

namespace {

struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;

std::string Part(CURLU* url, CURLUPart part, unsigned int flags) {
    char* text = nullptr;
    if (curl_url_get(url, part, &text, flags) != CURLUE_OK || text == nullptr) {
        return {};
    }
    std::string out = text;
    curl_free(text);
    return out;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

bool RedirectGuard::ReadOrigin(const std::string& url, const std::string& relative, Origin& origin,
                               std::string& withoutUser) {
    UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    // Set on top of a URL, a relative reference resolves as a browser would.
    if (!relative.empty() &&
        curl_url_set(handle.get(), CURLUPART_URL, relative.c_str(), 0) != CURLUE_OK) {
        return false;
    }
    origin.scheme = Lower(Part(handle.get(), CURLUPART_SCHEME, 0));
    origin.host = Lower(Part(handle.get(), CURLUPART_HOST, 0));
    origin.port = Part(handle.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
    curl_url_set(handle.get(), CURLUPART_USER, nullptr, 0);
    curl_url_set(handle.get(), CURLUPART_PASSWORD, nullptr, 0);
    withoutUser = Part(handle.get(), CURLUPART_URL, 0);
    return true;
}

void RedirectGuard::Arm(const std::string& requestUrl, bool carriesCredentials) {
    // The URL comes whole from libcurl's own parser, scheme first.
    m_httpsOnly = Lower(requestUrl.substr(0, 6)) == "https:";
    m_sameOriginOnly = carriesCredentials;
    if (m_sameOriginOnly) {
        m_requestUrl = requestUrl;
    }
}

std::string RedirectGuard::Refusal(const std::string& currentUrl,
                                   const std::string& location) const {
    if (!m_httpsOnly && !m_sameOriginOnly) {
        return {};
    }
    Origin target;
    Origin origin;
    std::string absolute;
    std::string ignored;
    if (!ReadOrigin(currentUrl, location, target, absolute) ||
        (m_sameOriginOnly && !ReadOrigin(m_requestUrl, {}, origin, ignored))) {
        return location; // what cannot be read cannot be shown to be safe
    }
    if ((m_httpsOnly && target.scheme != "https") || (m_sameOriginOnly && !(target == origin))) {
        return absolute;
    }
    return {};
}

} // namespace curlppx::detail
