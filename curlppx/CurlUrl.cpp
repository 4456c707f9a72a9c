#include "curlppx/CurlUrl.h"

#include "curlppx/detail/EngineLog.h"

#include <charconv>
#include <utility>

namespace curlppx {

CurlUrl::CurlUrl() : m_handle(curl_url()) {
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlUrl::CurlUrl", "CURLUE_OUT_OF_MEMORY",
                    detail::kNoPool);
    }
}

CurlUrl::CurlUrl(const std::string& url) : CurlUrl() {
    SetUrlPart(CURLUPART_URL, url, CURLU_GUESS_SCHEME);
}

CurlUrl::CurlUrl(const CurlUrl& other) {
    *this = other;
}

CurlUrl::CurlUrl(CurlUrl&& other) noexcept : m_handle(std::exchange(other.m_handle, nullptr)) {}

CurlUrl& CurlUrl::operator=(const CurlUrl& other) {
    if (this == &other) {
        return *this;
    }
    if (m_handle != nullptr) {
        curl_url_cleanup(m_handle);
    }
    m_handle = other.m_handle != nullptr ? curl_url_dup(other.m_handle) : nullptr;
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlUrl::operator=", "CURLUE_OUT_OF_MEMORY",
                    detail::kNoPool);
    }
    return *this;
}

CurlUrl& CurlUrl::operator=(CurlUrl&& other) noexcept {
    std::swap(m_handle, other.m_handle);
    return *this;
}

CurlUrl::~CurlUrl() {
    if (m_handle != nullptr) {
        curl_url_cleanup(m_handle);
    }
}

CURLUcode CurlUrl::FromStr(const std::string& url) {
    return SetUrlPart(CURLUPART_URL, url, CURLU_GUESS_SCHEME);
}

std::string CurlUrl::GetStr() const {
    return GetUrlPart(CURLUPART_URL, CURLU_NO_DEFAULT_PORT);
}

CURLUcode CurlUrl::SetScheme(const std::string& v) {
    return SetUrlPart(CURLUPART_SCHEME, v, 0);
}
std::string CurlUrl::GetScheme() const {
    return GetUrlPart(CURLUPART_SCHEME, 0);
}
CURLUcode CurlUrl::SetOptions(const std::string& v) {
    return SetUrlPart(CURLUPART_OPTIONS, v, 0);
}
std::string CurlUrl::GetOptions() const {
    return GetUrlPart(CURLUPART_OPTIONS, 0);
}
CURLUcode CurlUrl::SetHost(const std::string& v) {
    return SetUrlPart(CURLUPART_HOST, v, 0);
}
std::string CurlUrl::GetHost() const {
    return GetUrlPart(CURLUPART_HOST, 0);
}
CURLUcode CurlUrl::SetZoneID(const std::string& v) {
    return SetUrlPart(CURLUPART_ZONEID, v, 0);
}
std::string CurlUrl::GetZoneID() const {
    return GetUrlPart(CURLUPART_ZONEID, 0);
}
CURLUcode CurlUrl::SetPath(const std::string& v) {
    return SetUrlPart(CURLUPART_PATH, v, 0);
}
std::string CurlUrl::GetPath() const {
    return GetUrlPart(CURLUPART_PATH, 0);
}
CURLUcode CurlUrl::SetQuery(const std::string& v) {
    return SetUrlPart(CURLUPART_QUERY, v, CURLU_URLENCODE);
}
std::string CurlUrl::GetQuery() const {
    return GetUrlPart(CURLUPART_QUERY, CURLU_URLDECODE);
}
CURLUcode CurlUrl::SetFragment(const std::string& v) {
    return SetUrlPart(CURLUPART_FRAGMENT, v, 0);
}
std::string CurlUrl::GetFragment() const {
    return GetUrlPart(CURLUPART_FRAGMENT, 0);
}

CURLUcode CurlUrl::SetPortW(unsigned short port) {
    return SetUrlPart(CURLUPART_PORT, std::to_string(port), 0);
}

unsigned short CurlUrl::GetPort() const {
    const std::string text = GetUrlPart(CURLUPART_PORT, CURLU_DEFAULT_PORT);
    long value = 0;
    const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (err != std::errc() || text.empty()) {
        return 0;
    }
    return static_cast<unsigned short>(value);
}

CURLUcode CurlUrl::SetUrlPart(CURLUPart part, const std::string& value, unsigned int flags) {
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlUrl::SetUrlPart", "CURLUE_BAD_HANDLE",
                    detail::kNoPool);
        return CURLUE_BAD_HANDLE;
    }
    const CURLUcode code = curl_url_set(m_handle, part, value.c_str(), flags);
    if (code != CURLUE_OK) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlUrl::SetUrlPart", CurlGlobal::GetErrStr(code),
                    detail::kNoPool);
    }
    return code;
}

std::string CurlUrl::GetUrlPart(CURLUPart part, unsigned int flags) const {
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlUrl::GetUrlPart", "CURLUE_BAD_HANDLE",
                    detail::kNoPool);
        return {};
    }
    char* text = nullptr;
    const CURLUcode code = curl_url_get(m_handle, part, &text, flags);
    if (code != CURLUE_OK) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlUrl::GetUrlPart", CurlGlobal::GetErrStr(code),
                    detail::kNoPool);
        return {};
    }
    std::string out = text != nullptr ? text : "";
    curl_free(text);
    return out;
}

std::string CurlUrl::BuildQuery(const std::map<std::string, std::string>& params, bool encode) {
    std::string out;
    for (const auto& [key, value] : params) {
        out += out.empty() ? "?" : "&";
        out += key;
        out += '=';
        out += encode ? CurlGlobal::UrlEncode(value) : value;
    }
    return out;
}

} // namespace curlppx
