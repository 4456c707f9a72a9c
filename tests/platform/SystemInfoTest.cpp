#include "platform/SystemInfo.h"
#include "platform/TextCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/utsname.h>
#include <utility>

namespace {

TEST(SystemInfo, FormatOsVersionNameTakesTheLeadingNumbers) {
    const std::pair<const char*, const wchar_t*> cases[] = {
        {"6.1.0-18-amd64", L"Linux 6.1.0.0"},
        {"5.15.153.1-microsoft-standard", L"Linux 5.15.153.0"},
        {"4.19.70000", L"Linux 4.19.4464.0"},
        {"4.19.4294967297", L"Linux 4.19.1.0"},
        {"6-custom", L"Linux 6.0.0.0"},
        {"6..3", L"Linux 6.0.0.0"},
        {"custom-6.1", L"Unknow Platform"},
    };
    for (const auto& [release, expected] : cases) {
        EXPECT_EQ(platform::FormatOsVersionName("Linux", release), expected) << release;
    }
    EXPECT_EQ(platform::FormatOsVersionName("\xFF", "6.1.0"), L"Unknow Platform");
}

TEST(SystemInfo, OsVersionNameStartsWithTheSysname) {
    utsname info{};
    ASSERT_EQ(uname(&info), 0);
    const std::wstring name = platform::OsVersionName();
    const std::string sysname = info.sysname;
    const std::wstring prefix = std::wstring(sysname.begin(), sysname.end()) + L' ';
    EXPECT_EQ(name.rfind(prefix, 0), 0u) << platform::WideToUtf8Lossy(name);
}

} // namespace
