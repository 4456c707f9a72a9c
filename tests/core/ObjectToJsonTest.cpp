#include "core/ObjectToJson.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

struct Attr {
    std::int32_t gender = 0;
    std::string birth;
    static constexpr std::string_view kFieldList = "gender, birth";
    auto Fields() const { return std::tie(gender, birth); }
};

struct Item {
    std::int64_t fileId = 0;
    static constexpr std::string_view kFieldList = "fileId";
    auto Fields() const { return std::tie(fileId); }
};

// Names out of alphabetical order, so a sorted writer would be caught.
struct Request {
    std::int32_t clientType = 3;
    std::string deviceId;
    std::string albumName;
    Attr albumAttr;
    std::vector<Item> membs;
    std::vector<std::int64_t> ids;
    std::uint32_t count = 0;
    static constexpr std::string_view kFieldList =
        "clientType, deviceId, albumName, albumAttr, membs, ids, count";
    auto Fields() const {
        return std::tie(clientType, deviceId, albumName, albumAttr, membs, ids, count);
    }
};

struct Small {
    std::int32_t clientType = 3;
    std::string deviceId = "d1";
    static constexpr std::string_view kFieldList = "clientType, deviceId";
    auto Fields() const { return std::tie(clientType, deviceId); }
};

struct Quoted {
    std::int32_t a = 1;
    std::int32_t b = 2;
    static constexpr std::string_view kFieldList = " \"a\" ,\"b\",";
    auto Fields() const { return std::tie(a, b); }
};

struct Twice {
    std::int32_t first = 1;
    std::int32_t other = 2;
    std::int32_t second = 3;
    static constexpr std::string_view kFieldList = "x, y, x";
    auto Fields() const { return std::tie(first, other, second); }
};

TEST(ObjectToJson, WritesKeysInFieldListOrder) {
    std::string out;
    ASSERT_TRUE(ObjectToJson(Small{}, out));
    EXPECT_EQ(out, R"({"clientType":3,"deviceId":"d1"})");
}

TEST(ObjectToJson, NestsRecordsAndVectors) {
    Request request;
    request.deviceId = "dev";
    request.albumName = "Trip";
    request.albumAttr = {1, "1990-01-01"};
    request.membs = {{5}, {std::numeric_limits<std::int64_t>::min()}};
    request.ids = {9, -1};
    request.count = std::numeric_limits<std::uint32_t>::max();
    std::string out;
    ASSERT_TRUE(ObjectToJson(request, out));
    EXPECT_EQ(out, R"({"clientType":3,"deviceId":"dev","albumName":"Trip",)"
                   R"("albumAttr":{"gender":1,"birth":"1990-01-01"},)"
                   R"("membs":[{"fileId":5},{"fileId":-9223372036854775808}],)"
                   R"("ids":[9,-1],"count":4294967295})");
}

TEST(ObjectToJson, EmptyVectorsBecomeEmptyArrays) {
    std::string out;
    ASSERT_TRUE(ObjectToJson(Request{}, out));
    EXPECT_EQ(out, R"({"clientType":3,"deviceId":"","albumName":"",)"
                   R"("albumAttr":{"gender":0,"birth":""},"membs":[],"ids":[],"count":0})");
}

TEST(ObjectToJson, EscapesControlCharactersAndKeepsUtf8Bytes) {
    Attr attr{0, "a\"b\\c\n\x01 \xC3\xA9"};
    std::string out;
    ASSERT_TRUE(ObjectToJson(attr, out));
    EXPECT_EQ(out, "{\"gender\":0,\"birth\":\"a\\\"b\\\\c\\n\\u0001 \xC3\xA9\"}");
}

TEST(ObjectToJson, ListTextIsTrimmedOfSpacesQuotesAndATrailingComma) {
    std::string out;
    ASSERT_TRUE(ObjectToJson(Quoted{}, out));
    EXPECT_EQ(out, R"({"a":1,"b":2})");
}

TEST(ObjectToJson, ARepeatedNameKeepsItsLastValueAtTheEnd) {
    std::string out;
    ASSERT_TRUE(ObjectToJson(Twice{}, out));
    EXPECT_EQ(out, R"({"y":2,"x":3})");
}

} // namespace
