#pragma once

#include "platform/TextCodec.h"

#include <algorithm>
#include <filesystem>
#include <string>

namespace curlppx::detail {

// CA paths arrive in the host's Windows form as often as not; here "/" is the
// separator, and "." and ".." segments and doubled separators are resolved
// lexically, without asking the file system.
inline std::wstring NormaliseCaPath(const std::wstring& path) {
    std::wstring copy = path;
    std::replace(copy.begin(), copy.end(), L'\\', L'/');
    return std::filesystem::path(copy).lexically_normal().wstring();
}

// libcurl takes file names in the system code page, which is UTF-8 here.
inline std::string ToSystemPath(const std::wstring& path) {
    std::string out;
    if (!platform::WideToUtf8(path, out)) {
        return {};
    }
    return out;
}

} // namespace curlppx::detail
