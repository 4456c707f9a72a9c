#include "context/BasicHttpLibStrategy.h"
#include "context/ClientUtils.h"
#include "curlppx/CurlGlobal.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

namespace {

// Strict URL-safe Base64 decoding with "=" fill: an encoder that drops or adds
// fill characters, or uses the standard alphabet, fails here.
bool DecodeBase64Url(const std::string& text, std::string& out) {
    static const std::string kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    if (text.size() % 4 != 0) {
        return false;
    }
    out.clear();
    for (std::size_t i = 0; i < text.size(); i += 4) {
        unsigned group = 0;
        int fill = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=' && i + 4 == text.size() && j >= 2) {
                ++fill;
                group <<= 6;
                continue;
            }
            const auto pos = kAlphabet.find(c);
            if (pos == std::string::npos || fill > 0) {
                return false;
            }
            group = (group << 6) | static_cast<unsigned>(pos);
        }
        out += static_cast<char>((group >> 16) & 0xFF);
        if (fill < 2) {
            out += static_cast<char>((group >> 8) & 0xFF);
        }
        if (fill < 1) {
            out += static_cast<char>(group & 0xFF);
        }
    }
    return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts(1);
    for (const char c : text) {
        if (c == separator) {
            parts.emplace_back();
        } else {
            parts.back() += c;
        }
    }
    return parts;
}

class StandardHeaders : public testing::Test {
protected:
    void SetUp() override { curlppx::CurlGlobal::SetSystemUUid(L"uuid-1"); }
    void TearDown() override { curlppx::CurlGlobal::SetSystemUUid(L""); }

    // The authorization text, un-Base64'd.
    std::string Authorization() {
        std::string plain;
        EXPECT_TRUE(DecodeBase64Url(UnicodeToUTF8(strategy.GetHeaders()[L"Authorization"]), plain))
            << UnicodeToUTF8(strategy.GetHeaders()[L"Authorization"]);
        return plain;
    }

    BasicHttpLibStrategy strategy;
};

TEST_F(StandardHeaders, ReplaceEveryHeaderWithTheNineStandardOnes) {
    strategy.SetHeaders({{L"Old", L"x"}, {L"userId", L"old"}});
    strategy.SetHeaders(L"u1", L"app", L"tok");
    const auto headers = strategy.GetHeaders();
    std::vector<std::wstring> keys;
    for (const auto& [key, value] : headers) {
        keys.push_back(key);
    }
    EXPECT_EQ(keys, (std::vector<std::wstring>{L"Accept-Language", L"Authorization", L"encversion",
                                               L"userId", L"version", L"x-qx-os", L"x-qx-os-brand",
                                               L"x-qx-terminal", L"x-qx-trace-id"}));
    EXPECT_EQ(headers.at(L"userId"), L"u1");
    EXPECT_EQ(headers.at(L"encversion"), L"0");
    EXPECT_EQ(headers.at(L"x-qx-os"), GetOsVersionName());
    EXPECT_EQ(headers.at(L"x-qx-os-brand"), L"Windows");
    EXPECT_EQ(headers.at(L"x-qx-terminal"), L"PC");
    EXPECT_EQ(headers.at(L"version"), L"3.0.3.386");
    EXPECT_EQ(headers.at(L"Accept-Language"), L"zh-CN");
}

TEST_F(StandardHeaders, AuthorizationCarriesSchemeUuidTagAndTheEncodedToken) {
    strategy.SetHeaders(L"u1", L"app", L"a b/c~");
    const auto fields = Split(Authorization(), ':');
    EXPECT_EQ(fields, (std::vector<std::string>{"6", "uuid-1", "app", "st", "a+b%2Fc~"}));
}

TEST_F(StandardHeaders, AnEmptySystemUuidLeavesAnEmptyField) {
    curlppx::CurlGlobal::SetSystemUUid(L"");
    strategy.SetHeaders(L"u1", L"app", L"t");
    EXPECT_EQ(Authorization(), "6::app:st:t");
}

TEST_F(StandardHeaders, AuthorizationIsFilledToWholeGroups) {
    // "6:uuid-1:a:st:" is 14 bytes: tokens of 1, 2 and 3 bytes give
    // lengths 15, 16 and 17, so no fill, two "=" and one "=".
    const std::vector<std::pair<std::wstring, std::string>> cases = {
        {L"t", ""}, {L"tt", "=="}, {L"ttt", "="}};
    for (const auto& [token, fill] : cases) {
        strategy.SetHeaders(L"u1", L"a", token);
        const std::string text = UnicodeToUTF8(strategy.GetHeaders()[L"Authorization"]);
        const auto end = text.find('=');
        EXPECT_EQ(end == std::string::npos ? "" : text.substr(end), fill) << text;
        EXPECT_EQ(Authorization(), "6:uuid-1:a:st:" + UnicodeToUTF8(token));
    }
}

TEST_F(StandardHeaders, TraceIdIsTagTimeAndEightRandomDigits) {
    const auto before = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    strategy.SetHeaders(L"u1", L"app", L"t");
    const auto after = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
    const std::string trace = UnicodeToUTF8(strategy.GetHeaders()[L"x-qx-trace-id"]);
    std::smatch match;
    ASSERT_TRUE(std::regex_match(trace, match, std::regex("app_11_([0-9]+)_[0-9]{8}"))) << trace;
    const long long seconds = std::stoll(match[1]);
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}

TEST(BasicHttpLibStrategy, LogSettersForwardAndAnEmptyCallableStaysEmpty) {
    BasicHttpLibStrategy strategy;
    // The defaults are callables that do nothing, safe to call unchecked.
    strategy.GetLogFunction()(L"x");
    strategy.GetErrorLogFunction()(L"x");
    std::wstring seen;
    strategy.SetLogFunction([&seen](const std::wstring& text) { seen = text; });
    strategy.GetLogFunction()(L"hello");
    EXPECT_EQ(seen, L"hello");
    strategy.SetErrorLogFunction({});
    EXPECT_FALSE(strategy.GetErrorLogFunction());
}

} // namespace
