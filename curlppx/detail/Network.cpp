#include "curlppx/detail/Network.h"

#include <ifaddrs.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

namespace curlppx::detail {

namespace {

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

std::wstring ActiveNetworkKind() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<std::string> names;
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_name != nullptr &&
            std::find(names.begin(), names.end(), it->ifa_name) == names.end()) {
            names.emplace_back(it->ifa_name);
        }
    }
    ::freeifaddrs(list);
    return detail::NetworkKind(names, "/sys/class/net");
}

std::wstring NetworkKind(const std::vector<std::string>& interfaces,
                         const std::string& sysClassNet) {
    constexpr const char* kArphrdEther = "1";
    for (const auto& name : interfaces) {
        const std::string dir = sysClassNet + "/" + name;
        if (ReadFirstLine(dir + "/operstate") != "up") {
            continue;
        }
        if (PathExists(dir + "/wireless")) {
            return L"Wifi";
        }
        if (ReadFirstLine(dir + "/type") == kArphrdEther) {
            return L"wire";
        }
    }
    return {};
}

} // namespace curlppx::detail
