#include "context/ClientUtils.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <set>
#include <string>

namespace {

using namespace std::string_literals;

TEST(ClientUtilsEncoding, PercentEncodeKeepsOnlyItsSafeSetAndUsesLowerHex) {
    const std::pair<std::string, std::string> cases[] = {
        {"/a b", "%2fa%20b"},   {"AZaz09*-._", "AZaz09*-._"}, {"~+", "%7e%2b"},
        {"\xC3\xA9", "%c3%a9"}, {"a\0b"s, "a%00b"},
    };
    for (const auto& [in, expected] : cases) {
        EXPECT_EQ(PercentEncode(in), expected) << in;
    }
}

TEST(ClientUtilsEncoding, UrlEncodeWorksOnUtf8BytesAndUsesUpperHex) {
    // The lone surrogate goes through UnicodeToAnsi's "\x" fallback.
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"a b/c~", L"a+b%2Fc~"},
        {L"AZaz09-_.", L"AZaz09-_."},
        {L"\u00E9*", L"%C3%A9%2A"},
        {L"\xD800", L"%5Cx55296"},
    };
    for (const auto& [in, expected] : cases) {
        EXPECT_EQ(UrlEncode(in), expected);
    }
}

TEST(ClientUtilsEncoding, Base64UrlEncodePadsAndUsesTheUrlAlphabet) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"a", "YQ=="},
        {"ab", "YWI="},
        {"abc", "YWJj"},
        {"abcd", "YWJjZA=="},
        {"\xFB\xFF", "-_8="},
        {"\xFB\xEF\xBE", "----"},
    };
    for (const auto& [in, expected] : cases) {
        const auto* data = reinterpret_cast<const unsigned char*>(in.data());
        EXPECT_EQ(Base64UrlEncode(data, static_cast<unsigned int>(in.size())), expected) << in;
    }
    EXPECT_EQ(Base64UrlEncode(nullptr, 5), "");
}

TEST(ClientUtilsConversion, OnlyTheUtf8ConversionsStopAtTheFirstNul) {
    EXPECT_EQ(UnicodeToUTF8(L"\u00E9\0\xD800"s), "\xC3\xA9");
    EXPECT_EQ(UTF8ToUnicode("\xF0\x9F\x98\x80\0\xFF"s), L"\U0001F600");
    EXPECT_EQ(AnsiToUnicode("ab\0cd"s), L"ab");
    EXPECT_EQ(UnicodeToAnsi(L"a\u00E9\0b"s), "a\xC3\xA9\0b"s);
}

TEST(ClientUtilsConversion, InvalidInputGivesEmptyTextAndOneErrorLine) {
    testsupport::LogCapture log;
    EXPECT_EQ(UnicodeToUTF8(L"a\xD800"), "");
    EXPECT_EQ(UTF8ToUnicode("a\xC3"), L"");
    EXPECT_EQ(log.Count("UnicodeToUTF8", "WideCharToMultiByte failed"), 1u);
    EXPECT_EQ(log.Count("UTF8ToUnicode", "MultiByteToWideChar failed"), 1u);
    const auto records = log.Records();
    ASSERT_EQ(records.size(), 2u);
    for (const auto& r : records) {
        EXPECT_EQ(r.module, Scribo::subBase);
        EXPECT_EQ(r.severity, Scribo::LOG_ERROR);
        EXPECT_TRUE(r.flag);
    }

    log.Clear();
    EXPECT_EQ(UnicodeToUTF8(L""), "");
    EXPECT_EQ(UTF8ToUnicode("\0\xC3"s), L"");
    EXPECT_EQ(AnsiToUnicode("\xC3"), L"");
    EXPECT_TRUE(log.Records().empty());
}

TEST(ClientUtilsConversion, UnicodeToMultiByteLeavesOutAloneOnFailure) {
    const std::pair<std::wstring, unsigned int> failures[] = {
        {L"", 65001}, {L"abc", 1252}, {L"a\xD800", 65001}};
    for (const auto& [in, codePage] : failures) {
        std::string out = "keep";
        EXPECT_FALSE(UnicodeToMultiByte(in, out, codePage)) << codePage;
        EXPECT_EQ(out, "keep");
    }
    for (const unsigned int codePage : {0u, 65001u}) {
        std::string out = "old";
        EXPECT_TRUE(UnicodeToMultiByte(L"\u00E9\0x"s, out, codePage));
        EXPECT_EQ(out, "\xC3\xA9\0x"s);
    }
}

TEST(ClientUtilsConversion, UnicodeToAnsiWritesUnconvertibleCharactersAsDecimalCodes) {
    EXPECT_EQ(UnicodeToAnsi(L"a\xD800\u00E9\x110000"), "a\\x55296\xC3\xA9\\x1114112");
}

TEST(ClientUtilsEnvironment, GenRandomUint32Varies) {
    std::set<std::array<unsigned char, 4>> draws;
    for (int i = 0; i < 8; ++i) {
        std::array<unsigned char, 4> value{};
        ASSERT_TRUE(GenRandomUint32(value.data()));
        draws.insert(value);
    }
    EXPECT_GT(draws.size(), 1u);
}

TEST(ClientUtilsEnvironment, GetExeDirectoryHoldsThisExecutable) {
    const std::wstring dir = GetExeDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), L'/');
    EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::path(dir) / "context_tests",
                                            "/proc/self/exe"));
}

TEST(ClientUtilsEnvironment, GetClientVersionIsTheSharedConstant) {
    std::wstring version;
    ASSERT_TRUE(GetClientVersion(version));
    EXPECT_EQ(version, L"3.0.3.386");
}

} // namespace
