#include "platform/TextCodec.h"

#include <cstdint>

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool IsScalarValue(char32_t cp) {
    return cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
}

void AppendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Decodes one scalar value at pos; false on any malformed sequence.
bool DecodeUtf8(std::string_view in, std::size_t& pos, char32_t& cp) {
    const auto lead = static_cast<std::uint8_t>(in[pos]);
    std::size_t extra = 0;
    char32_t min = 0;
    if (lead < 0x80) {
        cp = lead;
        ++pos;
        return true;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        min = 0x80;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        min = 0x800;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        min = 0x10000;
        cp = lead & 0x07;
    } else {
        return false;
    }
    if (in.size() - pos <= extra) {
        return false;
    }
    for (std::size_t i = 1; i <= extra; ++i) {
        const auto next = static_cast<std::uint8_t>(in[pos + i]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        cp = (cp << 6) | (next & 0x3F);
    }
    if (cp < min || !IsScalarValue(cp)) {
        return false;
    }
    pos += extra + 1;
    return true;
}

} // namespace

bool WideToUtf8(std::wstring_view in, std::string& out) {
    std::string text;
    text.reserve(in.size());
    for (wchar_t wc : in) {
        const auto cp = static_cast<char32_t>(wc);
        if (!IsScalarValue(cp)) {
            return false;
        }
        AppendUtf8(cp, text);
    }
    out = std::move(text);
    return true;
}

bool Utf8ToWide(std::string_view in, std::wstring& out) {
    std::wstring text;
    text.reserve(in.size());
    std::size_t pos = 0;
    while (pos < in.size()) {
        char32_t cp = 0;
        if (!DecodeUtf8(in, pos, cp)) {
            return false;
        }
        text.push_back(static_cast<wchar_t>(cp));
    }
    out = std::move(text);
    return true;
}

std::string WideToUtf8Lossy(std::wstring_view in) {
    std::string text;
    text.reserve(in.size());
    for (wchar_t wc : in) {
        const auto cp = static_cast<char32_t>(wc);
        AppendUtf8(IsScalarValue(cp) ? cp : kReplacement, text);
    }
    return text;
}

bool IsKnownCodePage(unsigned int codePage) {
    return codePage == kCodePageAnsi || codePage == kCodePageUtf8;
}

} // namespace platform
