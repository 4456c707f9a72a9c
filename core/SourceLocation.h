#pragma once

#include <cstdint>
#include <version>

#if defined(__cpp_lib_source_location)
#include <source_location>
#endif

// The caller's source line for log lines. It is std::source_location wherever
// the standard library offers it; clang 14 (the fuzz build) cannot compile
// libstdc++'s, which needs a builtin clang 14 lacks, and gets a stand-in that
// carries the line alone, the only part the library reads.
namespace httplib {

#if defined(__cpp_lib_source_location)
using SourceLocation = std::source_location;
#else
class SourceLocation {
public:
    // Like std::source_location::current: as a default argument, the line is
    // the one where the outermost call is written.
    static constexpr SourceLocation current(std::uint_least32_t line = __builtin_LINE()) noexcept {
        SourceLocation where;
        where.m_line = line;
        return where;
    }
    constexpr std::uint_least32_t line() const noexcept { return m_line; }

private:
    std::uint_least32_t m_line = 0;
};
#endif

} // namespace httplib
