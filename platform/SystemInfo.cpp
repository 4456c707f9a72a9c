#include "platform/SystemInfo.h"

#include "platform/TextCodec.h"

#include <cerrno>
#include <cstdint>
#include <sys/random.h>
#include <sys/utsname.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

constexpr wchar_t kUnknownPlatform[] = L"Unknow Platform";

// The kernel renders the link into at most a page, so a path beyond this
// means something is wrong rather than that the buffer is still too small.
constexpr std::size_t kMaxExecutablePath = 64 * 1024;

// Reads the decimal digits at pos. Values wrap modulo 2^32, like the 32-bit
// fields they stand in for, so the low bits stay exact for any length.
bool ReadNumber(std::string_view text, std::size_t& pos, std::uint32_t& value) {
    const std::size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
        ++pos;
    }
    return pos != start;
}

// A part counts only when a "." is followed by digits; otherwise it and every
// later part stay 0.
bool ReadDottedNumber(std::string_view text, std::size_t& pos, std::uint32_t& value) {
    if (pos >= text.size() || text[pos] != '.') {
        return false;
    }
    std::size_t next = pos + 1;
    if (!ReadNumber(text, next, value)) {
        value = 0;
        return false;
    }
    pos = next;
    return true;
}

} // namespace

std::wstring ExecutableDirectory() {
    const std::string path = ExecutablePath();
    const std::size_t slash = path.rfind('/');
    std::wstring directory;
    if (slash == std::string::npos ||
        !Utf8ToWide(std::string_view(path).substr(0, slash + 1), directory)) {
        return {};
    }
    return directory;
}

std::string ExecutablePath() {
    std::vector<char> buffer(256);
    while (buffer.size() <= kMaxExecutablePath) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return {};
        }
        // A result that fills the buffer may have been cut short.
        if (static_cast<std::size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<std::size_t>(n));
        }
        buffer.resize(buffer.size() * 2);
    }
    return {};
}

bool SecureRandom(void* buf, std::size_t len) {
    if (buf == nullptr) {
        return len == 0;
    }
    auto* out = static_cast<unsigned char*>(buf);
    std::size_t filled = 0;
    while (filled < len) {
        const ssize_t n = getrandom(out + filled, len - filled, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // Zero bytes for a non-empty request would otherwise loop forever.
        if (n <= 0) {
            return false;
        }
        filled += static_cast<std::size_t>(n);
    }
    return true;
}

std::wstring FormatOsVersionName(std::string_view sysname, std::string_view release) {
    std::size_t pos = 0;
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    if (!ReadNumber(release, pos, major)) {
        return kUnknownPlatform;
    }
    if (ReadDottedNumber(release, pos, minor)) {
        ReadDottedNumber(release, pos, build);
    }
    std::wstring name;
    if (!Utf8ToWide(sysname, name)) {
        return kUnknownPlatform;
    }
    name += L' ';
    name += std::to_wstring(major) + L'.' + std::to_wstring(minor) + L'.' +
            std::to_wstring(build & 0xFFFFu) + L".0";
    return name;
}

std::wstring OsVersionName() {
    utsname info{};
    if (uname(&info) != 0) {
        return kUnknownPlatform;
    }
    return FormatOsVersionName(info.sysname, info.release);
}

} // namespace platform
