#include "emulator/VirtualPath.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"

namespace zeqemu {

namespace {

ApiError BadPath(const std::string& text, const char* why) {
    return ApiError::Device(code::kBadPath, "bad path \"" + text + "\": " + why);
}

} // namespace

std::string VirtualPath::Normalize(const std::string& text) {
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
