#include "curlppx/detail/UrlCoding.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlGlobal.h"

#include <algorithm>
#include <cstring>

namespace curlppx::detail {

std::string Escape(CURL* handle, const std::string& text, size_t chunk) {
    if (handle == nullptr || text.empty() || chunk == 0) {
        return text;
    }
    std::string out;
    for (size_t at = 0; at < text.size(); at += chunk) {
        const size_t length = std::min(chunk, text.size() - at);
        char* escaped = curl_easy_escape(handle, text.data() + at, static_cast<int>(length));
        if (escaped == nullptr) {
            return text;
        }
        out += escaped;
        curl_free(escaped);
    }
    return out.empty() ? text : out;
}

std::string Unescape(CURL* handle, const std::string& text, size_t chunk) {
    if (handle == nullptr || text.empty() || chunk < 3) {
        return text;
    }
    std::string out;
    for (size_t at = 0; at < text.size();) {
        size_t length = std::min(chunk, text.size() - at);
        if (at + length < text.size()) {
            // Pull the cut back before a "%" whose two digits it would split.
            const size_t percent = text.rfind('%', at + length - 1);
            if (percent != std::string::npos && percent >= at && percent + 2 >= at + length) {
                length = percent - at;
            }
        }
        int decodedLength = 0;
        char* decoded =
            curl_easy_unescape(handle, text.data() + at, static_cast<int>(length), &decodedLength);
        if (decoded == nullptr) {
            return text;
        }
        const size_t kept = std::strlen(decoded);
        out.append(decoded, kept);
        curl_free(decoded);
        at += length;
        if (kept < static_cast<size_t>(decodedLength)) {
            break; // a zero byte ends the text
        }
    }
    return out.empty() ? text : out;
}

std::string CodeWithSharedConn(const std::string& text,
                               std::string (CurlConn::*code)(const std::string&)) {
    std::lock_guard lock(CurlGlobal::g_coderMtx);
    auto& coder = CurlGlobal::g_coder;
    if (!coder) {
        coder = CurlGlobal::GetInstance().GetConn(0);
    }
    return coder ? ((*coder).*code)(text) : text;
}

} // namespace curlppx::detail
