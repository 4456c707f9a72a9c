#include "context/ClientUtils.h"

#include "platform/ClientConstants.h"
#include "platform/Scribo.h"
#include "platform/SystemInfo.h"
#include "platform/TextCodec.h"

#include <cstdint>
#include <string_view>

namespace {

// Callers hand over buffers filled by C-style APIs; whatever follows a NUL is
// leftover, not text.
template <typename Char> std::basic_string_view<Char> UpToNul(const std::basic_string<Char>& text) {
    const std::basic_string_view<Char> view(text);
    return view.substr(0, view.find(Char{}));
}

bool IsUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The text up to its first NUL, converted; a failure is logged under the
// name of the utility and gives an empty text.
template <typename To, typename From, typename Convert>
To ConvertUpToNul(const From& text, Convert convert, int line, const char* function,
                  const char* failure) {
    const auto head = UpToNul(text);
    To out;
    if (head.empty()) {
        return out;
    }
    if (!convert(head, out)) {
        Scribo::Output(Scribo::subBase, Scribo::LOG_ERROR, line, function, failure, true);
        return {};
    }
    return out;
}

} // namespace

std::string UnicodeToUTF8(const std::wstring& text) {
    return ConvertUpToNul<std::string>(text, platform::WideToUtf8, __LINE__, "UnicodeToUTF8",
                                       "WideCharToMultiByte failed");
}

std::wstring UTF8ToUnicode(const std::string& text) {
    return ConvertUpToNul<std::wstring>(text, platform::Utf8ToWide, __LINE__, "UTF8ToUnicode",
                                        "MultiByteToWideChar failed");
}

bool UnicodeToMultiByte(const std::wstring& text, std::string& out, unsigned int codePage) {
    if (text.empty() || !platform::IsKnownCodePage(codePage)) {
        return false;
    }
    // The whole text converts, embedded NULs included; callers that want C
    // text cut it themselves.
    std::string converted;
    if (!platform::WideToUtf8(text, converted)) {
        return false;
    }
    out = std::move(converted);
    return !out.empty();
}

std::wstring AnsiToUnicode(const std::string& text) {
    std::wstring out;
    if (text.empty() || !platform::Utf8ToWide(text, out)) {
        return {};
    }
    out.resize(UpToNul(out).size());
    return out;
}

std::string UnicodeToAnsi(const std::wstring& text) {
    std::string out;
    if (platform::WideToUtf8(text, out)) {
        return out;
    }
    // Keep what converts and make the rest visible, so one bad character
    // (typically a lone surrogate from a file name) does not blank the text.
    for (const wchar_t c : text) {
        std::string one;
        if (platform::WideToUtf8(std::wstring_view(&c, 1), one)) {
            out += one;
        } else {
            out += "\\x" + std::to_string(static_cast<std::uint32_t>(c));
        }
    }
    return out;
}

std::wstring UrlEncode(const std::wstring& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char ch : UnicodeToAnsi(text)) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            encoded += ch;
        } else if (c == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return AnsiToUnicode(encoded);
}

std::string PercentEncode(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (IsUnreserved(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

std::string Base64UrlEncode(const unsigned char* data, unsigned int length) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    if (data == nullptr || length == 0) {
        return out;
    }
    out.reserve((static_cast<std::size_t>(length) + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const std::uint32_t group =
            (std::uint32_t{data[i]} << 16) | (std::uint32_t{data[i + 1]} << 8) | data[i + 2];
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += kAlphabet[(group >> 6) & 0x3F];
        out += kAlphabet[group & 0x3F];
    }
    const std::size_t rest = length - i;
    if (rest > 0) {
        std::uint32_t group = std::uint32_t{data[i]} << 16;
        if (rest == 2) {
            group |= std::uint32_t{data[i + 1]} << 8;
        }
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += rest == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        out += '=';
    }
    return out;
}

bool GenRandomUint32(unsigned char out[4]) {
    return platform::SecureRandom(out, 4);
}

std::wstring GetExeDirectory() {
    return platform::ExecutableDirectory();
}

std::wstring GetOsVersionName() {
    return platform::OsVersionName();
}

bool GetClientVersion(std::wstring& out) {
    std::wstring version;
    if (g_clientVersion.empty() || !platform::Utf8ToWide(g_clientVersion, version)) {
        return false;
    }
    out = std::move(version);
    return true;
}
