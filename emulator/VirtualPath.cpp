#include "emulator/VirtualPath.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"

namespace zeqemu {

namespace {

ApiError BadPath(const std::string& text, const char* why) {
    return ApiError::Device(code::kBadPath, "bad path \"" + text + "\": " + why);
}

} // namespace

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        const unsigned c = *p;
        int extra = 0;
        unsigned min = 0;
        unsigned code = 0;
        if (c < 0x80) {
            ++p;
            continue;
        } else if ((c & 0xe0) == 0xc0) {
            extra = 1, min = 0x80, code = c & 0x1f;
        } else if ((c & 0xf0) == 0xe0) {
            extra = 2, min = 0x800, code = c & 0x0f;
        } else if ((c & 0xf8) == 0xf0) {
            extra = 3, min = 0x10000, code = c & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra) {
            return false;
        }
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xc0) != 0x80) {
                return false;
            }
            code = (code << 6) | (p[i] & 0x3f);
        }
        if (code < min || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) {
            return false;
        }
        p += extra + 1;
    }
    return true;
}

} // namespace

std::string VirtualPath::Normalize(const std::string& text) {
    // A name that is not UTF-8 could never be asked for again by its listed name.
    if (!IsUtf8(text)) {
        throw ApiError::BadRequest(code::kBadPath, "path is not UTF-8");
    }
    if (text.empty() || text.front() != '/') {
        throw BadPath(text, "must start with /");
    }
    if (text.find('\0') != std::string::npos || text.find('\\') != std::string::npos) {
        throw BadPath(text, "holds a forbidden character");
    }
    std::string canonical;
    std::size_t start = 0;
    while (start < text.size()) {
        auto end = text.find('/', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const auto part = text.substr(start, end - start);
        if (part == "." || part == "..") {
            throw BadPath(text, "\".\" and \"..\" are not allowed");
        }
        if (!part.empty()) {
            canonical += "/" + part;
        }
        start = end + 1;
    }
    return canonical.empty() ? "/" : canonical;
}

std::string VirtualPath::Join(const std::string& folder, const std::string& relative) {
    return Normalize(folder + "/" + relative);
}

std::string VirtualPath::Parent(const std::string& canonical) {
    const auto cut = canonical.rfind('/');
    return cut == 0 || cut == std::string::npos ? "/" : canonical.substr(0, cut);
}

std::string VirtualPath::Name(const std::string& canonical) {
    const auto cut = canonical.rfind('/');
    return cut == std::string::npos ? canonical : canonical.substr(cut + 1);
}

std::vector<std::string> VirtualPath::Components(const std::string& canonical) {
    std::vector<std::string> parts;
    std::size_t start = 1;
    while (start < canonical.size()) {
        auto end = canonical.find('/', start);
        if (end == std::string::npos) {
            end = canonical.size();
        }
        parts.push_back(canonical.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool VirtualPath::IsWithin(const std::string& canonical, const std::string& folder) {
    if (folder == "/") {
        return true;
    }
    return canonical == folder ||
           (canonical.size() > folder.size() && canonical.compare(0, folder.size(), folder) == 0 &&
            canonical[folder.size()] == '/');
}

std::string VirtualPath::AsFolder(const std::string& canonical) {
    return canonical == "/" ? canonical : canonical + "/";
}

} // namespace zeqemu
