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

namespace {

// Signed 32-bit decimal with leading blanks and a sign; trailing text is
// ignored. Text with no number, or a number out of range, gives nothing.
std::optional<std::int32_t> Int32FromText(const char* text) {
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (end == text || errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(parsed);
}

std::int64_t Int64FromText(const char* text) {
    return std::strtoll(text, nullptr, 10);
}

std::uint64_t Uint64FromText(const char* text) {
    return std::strtoull(text, nullptr, 10);
}

std::optional<double> DoubleFromText(const char* text) {
    errno = 0;
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end == text || errno == ERANGE) {
        return std::nullopt;
    }
    return parsed;
}

} // namespace

namespace JsonUtil {
namespace {

// The member under key, or null when value is no object or lacks the key.
const Json::Value* Member(const Json::Value& value, const std::string& key) {
    if (!value.isObject()) {
        return nullptr;
    }
    return value.find(key.data(), key.data() + key.size());
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

int GetInt32ValFromJson(const Json::Value& value, const std::string& key, int defaultValue) {
    return jsonmember::Int32(Member(value, key), defaultValue);
}

std::int64_t GetInt64ValFromJson(const Json::Value& value, const std::string& key,
                                 std::int64_t defaultValue) {
    return jsonmember::Int64(Member(value, key), defaultValue);
}

unsigned int GetUint32ValFromJson(const Json::Value& value, const std::string& key,
                                  unsigned int defaultValue) {
    return jsonmember::Uint32(Member(value, key), defaultValue);
}

std::uint64_t GetUint64ValFromJson(const Json::Value& value, const std::string& key,
                                   std::uint64_t defaultValue) {
    return jsonmember::Uint64(Member(value, key), defaultValue);
}

double GetDoubleValFromJson(const Json::Value& value, const std::string& key, double defaultValue) {
    return jsonmember::Double(Member(value, key), defaultValue);
}

bool GetBoolValFromJson(const Json::Value& value, const std::string& key) {
    return jsonmember::Bool(Member(value, key));
}

} // namespace JsonUtil

namespace jsonmember {

// Each rule looks at a member once: text is converted by the getter's text
// rule, anything else passes the getter's type test or gives the default.

std::int32_t Int32(const Json::Value* member, std::int32_t defaultValue) {
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return Int32FromText(member->asCString()).value_or(defaultValue);
    }
    return member->isInt() ? member->asInt() : defaultValue;
}

std::uint32_t Uint32(const Json::Value* member, std::uint32_t defaultValue) {
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        const auto parsed = Int32FromText(member->asCString());
        return parsed ? static_cast<std::uint32_t>(*parsed) : defaultValue;
    }
    return member->isUInt() ? member->asUInt() : defaultValue;
}

std::int64_t Int64(const Json::Value* member, std::int64_t defaultValue) {
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return Int64FromText(member->asCString());
    }
    return member->isInt64() ? member->asInt64() : defaultValue;
}

std::uint64_t Uint64(const Json::Value* member, std::uint64_t defaultValue) {
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return Uint64FromText(member->asCString());
    }
    return member->isUInt64() ? member->asUInt64() : defaultValue;
}

double Double(const Json::Value* member, double defaultValue) {
    if (member == nullptr) {
        return defaultValue;
    }
    if (member->isString()) {
        return DoubleFromText(member->asCString()).value_or(defaultValue);
    }
    // isDouble() holds for integers and reals alike, never for booleans.
    return member->isDouble() ? member->asDouble() : defaultValue;
}

std::string Text(const Json::Value* member) {
    return member != nullptr && member->isString() ? member->asString() : std::string{};
}

bool Bool(const Json::Value* member) {
    return member != nullptr && member->isBool() && member->asBool();
}

} // namespace jsonmember
