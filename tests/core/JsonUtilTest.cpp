#include "core/JsonUtil.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

Json::Value Parse(const std::string& text) {
    Json::Value root;
    EXPECT_TRUE(JsonUtil::StringToCppJsonObj(text, root)) << text;
    return root;
}

// One row per reply shape: the member "v" of the object, read by each getter
// with a default of 7.
struct NumberCase {
    const char* json;
    int int32;
    std::int64_t int64;
    unsigned int uint32;
    std::uint64_t uint64;
    double real;
};

class NumberRule : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberRule, EachGetterFollowsTheTypeTestAndTheTextConversion) {
    const NumberCase& c = GetParam();
    const Json::Value root = Parse(std::string("{\"v\":") + c.json + "}");
    EXPECT_EQ(JsonUtil::GetInt32ValFromJson(root, "v", 7), c.int32);
    EXPECT_EQ(JsonUtil::GetInt64ValFromJson(root, "v", 7), c.int64);
    EXPECT_EQ(JsonUtil::GetUint32ValFromJson(root, "v", 7), c.uint32);
    EXPECT_EQ(JsonUtil::GetUint64ValFromJson(root, "v", 7), c.uint64);
    EXPECT_DOUBLE_EQ(JsonUtil::GetDoubleValFromJson(root, "v", 7), c.real);
}

constexpr auto kU32Max = std::numeric_limits<std::uint32_t>::max();
constexpr auto kU64Max = std::numeric_limits<std::uint64_t>::max();
constexpr auto kI64Max = std::numeric_limits<std::int64_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Replies, NumberRule,
    testing::Values(NumberCase{"12", 12, 12, 12, 12, 12}, NumberCase{"\"12\"", 12, 12, 12, 12, 12},
                    NumberCase{"\"  -5xyz\"", -5, -5, kU32Max - 4, kU64Max - 4, -5},
                    NumberCase{"-5", -5, -5, 7, 7, -5}, NumberCase{"3.5", 7, 7, 7, 7, 3.5},
                    NumberCase{"4.0", 4, 4, 4, 4, 4}, NumberCase{"\"2.5\"", 2, 2, 2, 2, 2.5},
                    NumberCase{"true", 7, 7, 7, 7, 7}, NumberCase{"null", 7, 7, 7, 7, 7},
                    // Text without a number: the 64-bit readers give 0, the others keep
                    // the default.
                    NumberCase{"\"abc\"", 7, 0, 7, 0, 7}, NumberCase{"\"\"", 7, 0, 7, 0, 7},
                    // Out of the 32-bit range as text and as a number.
                    NumberCase{"\"4000000000\"", 7, 4000000000, 7, 4000000000, 4e9},
                    NumberCase{"4000000000", 7, 4000000000, 4000000000u, 4000000000, 4e9},
                    NumberCase{"\"99999999999999999999\"", 7, kI64Max, 7, kU64Max, 1e20},
                    NumberCase{"18446744073709551615", 7, 7, 7, kU64Max, 1.8446744073709552e19},
                    NumberCase{"\"1e999\"", 1, 1, 1, 1, 7}));

TEST(JsonUtilGetters, MissingKeysAndNonObjectsGiveTheDefaults) {
    const Json::Value empty = Parse("{}");
    const Json::Value array = Parse("[1,2]");
    for (const Json::Value* value : {&empty, &array}) {
        EXPECT_EQ(JsonUtil::GetInt32ValFromJson(*value, "code", 9), 9);
        EXPECT_EQ(JsonUtil::GetInt64ValFromJson(*value, "code", -9), -9);
        EXPECT_EQ(JsonUtil::GetStrValFromJson(*value, "code"), "");
        EXPECT_TRUE(JsonUtil::GetJsonArrayValFromJson(*value, "code").isNull());
        EXPECT_FALSE(JsonUtil::GetBoolValFromJson(*value, "code"));
    }
}

TEST(JsonUtilGetters, TextArrayAndBoolReadOnlyTheirOwnType) {
    const Json::Value root = Parse(R"({"s":"x","n":1,"a":[1,"2"],"o":{"k":1},"t":true,"f":false})");
    EXPECT_EQ(JsonUtil::GetStrValFromJson(root, "s"), "x");
    EXPECT_EQ(JsonUtil::GetStrValFromJson(root, "n"), "");
    EXPECT_EQ(JsonUtil::GetJsonArrayValFromJson(root, "a").size(), 2u);
    EXPECT_TRUE(JsonUtil::GetJsonArrayValFromJson(root, "o").isNull());
    EXPECT_TRUE(JsonUtil::GetBoolValFromJson(root, "t"));
    EXPECT_FALSE(JsonUtil::GetBoolValFromJson(root, "f"));
    EXPECT_FALSE(JsonUtil::GetBoolValFromJson(root, "n"));
}

TEST(JsonUtilParse, EmptyTextIsAcceptedWithItsLogLineAndLeavesRootAlone) {
    testsupport::LogCapture log;
    Json::Value root(42);
    EXPECT_TRUE(JsonUtil::StringToCppJsonObj("", root));
    EXPECT_EQ(root.asInt(), 42);
    ASSERT_EQ(log.Records().size(), 1u);
    const auto record = log.Records().front();
    EXPECT_EQ(record.function, "JsonUtil::StringToCppJsonObj");
    EXPECT_EQ(record.message, "body is null");
    EXPECT_EQ(record.module, Scribo::subGallery);
    EXPECT_EQ(record.severity, Scribo::LOG_ERROR);
}

TEST(JsonUtilParse, MalformedTextFailsQuietly) {
    testsupport::LogCapture log;
    for (const char* text : {"{", "{\"a\":}", "[1,2", "nul", "{\"a\" 1}"}) {
        Json::Value root;
        EXPECT_FALSE(JsonUtil::StringToCppJsonObj(text, root)) << text;
    }
    EXPECT_TRUE(log.Records().empty());
}

TEST(JsonUtilParse, NestingBeyondTheReaderLimitIsCaughtAndLogged) {
    testsupport::LogCapture log;
    const std::string deep = std::string(5000, '[') + std::string(5000, ']');
    Json::Value root;
    EXPECT_FALSE(JsonUtil::StringToCppJsonObj(deep, root));
    EXPECT_EQ(log.Count("JsonUtil::StringToCppJsonObj", "parse json err"), 1u);
}

TEST(JsonUtilWrite, CompactTextWithSortedKeys) {
    Json::Value value;
    value["zeta"] = 1;
    value["alpha"]["b"] = "x";
    value["mid"].append(Json::Int64(-3));
    EXPECT_EQ(JsonUtil::CppJsonToString(value), R"({"alpha":{"b":"x"},"mid":[-3],"zeta":1})");
}

} // namespace
