#include "core/JsonUtil.h"

#include "core/detail/JsonMember.h"
#include "platform/Scribo.h"

#include <json/reader.h>
#include <json/writer.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>

namespace JsonUtil {
namespace {

// The member under key, or null when value is no object or lacks the key.
const Json::Value* Member(const Json::Value& value, const std::string& key) {
    if (!value.isObject()) {
        return nullptr;
    }
    return value.find(key.data(), key.data() + key.size());
}

// Signed 32-bit decimal with leading blanks and a sign; trailing text is
// ignored. Text with no number, or a number out of range, gives nothing.
std::optional<std::int32_t> ParseInt32(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (end == text.c_str() || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(parsed);
}

std::optional<double> ParseDouble(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || errno == ERANGE) {
        return std::nullopt;
    }
    return parsed;
}

} // namespace

bool StringToCppJsonObj(const std::string& text, Json::Value& root) {
    if (text.empty()) {
        Scribo::Output(Scribo::subGallery, Scribo::LOG_ERROR, __LINE__,
                       "JsonUtil::StringToCppJsonObj", "body is null", true);
        return true;
    }
    try {
        Json::CharReaderBuilder builder;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        return reader->parse(text.data(), text.data() + text.size(), &root, nullptr);
    } catch (const std::exception&) {
        // The reader throws on input it refuses to walk, such as nesting
        // deeper than its stack limit.
        Scribo::Output(Scribo::subGallery, Scribo::LOG_ERROR, __LINE__,
                       "JsonUtil::StringToCppJsonObj", "parse json err", true);
        return false;
    } catch (...) {
        return false;
    }
}

std::string CppJsonToString(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

std::string GetStrValFromJson(const Json::Value& value, const std::string& key) {
    return jsonmember::Text(Member(value, key));
}

Json::Value GetJsonArrayValFromJson(const Json::Value& value, const std::string& key) {
    const Json::Value* member = Member(value, key);
    return member != nullptr && member->isArray() ? *member : Json::Value{};
}

// Each numeric getter looks its key up once: a member is either a string,
// converted by the getter's text rule, or passes the getter's type test, or
// gives the default.

int GetInt32ValFromJson(const Json::Value& value, const std::string& key, int defaultValue) {
    const Json::Value* member = Member(value, key);
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return ParseInt32(member->asString()).value_or(defaultValue);
    }
    return member->isInt() ? member->asInt() : defaultValue;
}

std::int64_t GetInt64ValFromJson(const Json::Value& value, const std::string& key,
                                 std::int64_t defaultValue) {
    return jsonmember::Int64(Member(value, key), defaultValue);
}

unsigned int GetUint32ValFromJson(const Json::Value& value, const std::string& key,
                                  unsigned int defaultValue) {
    const Json::Value* member = Member(value, key);
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        const auto parsed = ParseInt32(member->asString());
        return parsed ? static_cast<unsigned int>(*parsed) : defaultValue;
    }
    return member->isUInt() ? member->asUInt() : defaultValue;
}

std::uint64_t GetUint64ValFromJson(const Json::Value& value, const std::string& key,
                                   std::uint64_t defaultValue) {
    const Json::Value* member = Member(value, key);
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return std::strtoull(member->asCString(), nullptr, 10);
    }
    return member->isUInt64() ? member->asUInt64() : defaultValue;
}

double GetDoubleValFromJson(const Json::Value& value, const std::string& key, double defaultValue) {
    const Json::Value* member = Member(value, key);
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return ParseDouble(member->asString()).value_or(defaultValue);
    }
    // isDouble() holds for integers and reals alike, never for booleans.
    return member->isDouble() ? member->asDouble() : defaultValue;
}

bool GetBoolValFromJson(const Json::Value& value, const std::string& key) {
    const Json::Value* member = Member(value, key);
    return member != nullptr && member->isBool() && member->asBool();
}

} // namespace JsonUtil

namespace jsonmember {

std::int64_t Int64(const Json::Value* member, std::int64_t defaultValue) {
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return std::strtoll(member->asCString(), nullptr, 10);
    }
    return member->isInt64() ? member->asInt64() : defaultValue;
}

std::string Text(const Json::Value* member) {
    return member != nullptr && member->isString() ? member->asString() : std::string{};
}

} // namespace jsonmember
