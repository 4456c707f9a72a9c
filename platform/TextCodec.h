#pragma once

#include "platform/HttpLibExport.h"

#include <string>
#include <string_view>

// Text conversions between the library's wide text (UTF-32 in wchar_t here)
// and narrow text. This platform's "ANSI code page" is UTF-8, so both code
// pages the library names convert the same way.
namespace platform {

inline constexpr unsigned int kCodePageAnsi = 0;
inline constexpr unsigned int kCodePageUtf8 = 65001;

// Strict: false, with out untouched, on a code point that has no UTF-8 form
// (a surrogate or a value above U+10FFFF).
HTTPLIB_API bool WideToUtf8(std::wstring_view in, std::string& out);

// Strict: false, with out untouched, on a malformed, overlong or surrogate
// sequence.
HTTPLIB_API bool Utf8ToWide(std::string_view in, std::wstring& out);

// For diagnostics only: never fails, writes U+FFFD for what cannot convert.
HTTPLIB_API std::string WideToUtf8Lossy(std::wstring_view in);

// Whether the code page is one this platform can convert.
HTTPLIB_API bool IsKnownCodePage(unsigned int codePage);

} // namespace platform
