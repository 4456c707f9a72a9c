#include "emulator/ApiRequest.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"

#include <json/reader.h>

#include <charconv>
#include <limits>
#include <memory>
#include <strings.h>

namespace zeqemu {

namespace {

// Deep nesting is the one thing that can exhaust the parser's stack; no body
// of this protocol is more than a few levels deep.
constexpr int kMaxJsonDepth = 32;

ApiError Missing(const std::string& key) {
    return ApiError::BadRequest(code::kMissingField, "missing field \"" + key + "\"");
}

ApiError Mistyped(const std::string& key, const char* expected) {
    return ApiError::BadRequest(code::kBadField,
                                "field \"" + key + "\" must be " + std::string(expected));
}

std::int64_t ParseDecimal(const std::string& text, const std::string& name) {
    std::int64_t value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        throw Mistyped(name, "a decimal integer");
    }
    return value;
}

const Json::Value& Member(const Json::Value& object, const std::string& key) {
    if (!object.isObject()) {
        throw ApiError::BadRequest(code::kBadField,
                                   "expected a JSON object around \"" + key + "\"");
    }
    const auto* found = object.find(key.data(), key.data() + key.size());
    if (found == nullptr) {
        throw Missing(key);
    }
    return *found;
}

bool Has(const Json::Value& object, const std::string& key) {
    return object.isObject() && object.find(key.data(), key.data() + key.size()) != nullptr;
}

} // namespace

ApiRequest::ApiRequest(std::string method, std::string path, Params query, Headers headers,
                       std::string body)
    : m_method(std::move(method)), m_path(std::move(path)), m_query(std::move(query)),
      m_headers(std::move(headers)), m_bodyText(std::move(body)) {}

std::string ApiRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : m_headers) {
        if (key.size() == name.size() && strcasecmp(key.c_str(), name.c_str()) == 0) {
            return value;
        }
    }
    return {};
}

bool ApiRequest::HasQuery(const std::string& name) const {
    return m_query.count(name) > 0;
}

std::string ApiRequest::QueryText(const std::string& name) const {
    const auto found = m_query.find(name);
    if (found == m_query.end()) {
        throw ApiError::BadRequest(code::kMissingField, "missing query parameter \"" + name + "\"");
    }
    return found->second;
}

std::string ApiRequest::QueryText(const std::string& name, const std::string& fallback) const {
    const auto found = m_query.find(name);
    return found == m_query.end() ? fallback : found->second;
}

std::int64_t ApiRequest::QueryInt(const std::string& name) const {
    return ParseDecimal(QueryText(name), name);
}

std::int64_t ApiRequest::QueryInt(const std::string& name, std::int64_t fallback) const {
    return HasQuery(name) ? QueryInt(name) : fallback;
}

std::size_t ApiRequest::ReadBody(char* out, std::size_t size) const {
    return m_bodyStream ? m_bodyStream(out, size) : 0;
}

const Json::Value& ApiRequest::Body() const {
    if (!m_body) {
        // Strict JSON: no comments, trailing commas, duplicate keys or text after it.
        Json::CharReaderBuilder builder;
        Json::CharReaderBuilder::strictMode(&builder.settings_);
        builder["stackLimit"] = kMaxJsonDepth;
        const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        std::string errors;
        bool parsed = false;
        try {
            parsed = reader->parse(m_bodyText.data(), m_bodyText.data() + m_bodyText.size(), &root,
                                   &errors);
        } catch (const std::exception& e) {
            errors = e.what();
        }
        if (!parsed) {
            throw ApiError::BadRequest(code::kBadJson, "malformed JSON body: " + errors);
        }
        if (!root.isObject()) {
            throw ApiError::BadRequest(code::kBadJson, "the body must be a JSON object");
        }
        m_body = std::move(root);
    }
    return *m_body;
}

std::string ApiRequest::Text(const Json::Value& object, const std::string& key) {
    const auto& value = Member(object, key);
    if (!value.isString()) {
        throw Mistyped(key, "a string");
    }
    return value.asString();
}

std::string ApiRequest::Text(const Json::Value& object, const std::string& key,
                             const std::string& fallback) {
    return Has(object, key) ? Text(object, key) : fallback;
}

std::int64_t ApiRequest::Int(const Json::Value& object, const std::string& key) {
    const auto& value = Member(object, key);
    if (!value.isInt64()) {
        throw Mistyped(key, "an integer");
    }
    return value.asInt64();
}

std::int64_t ApiRequest::Int(const Json::Value& object, const std::string& key,
                             std::int64_t fallback) {
    return Has(object, key) ? Int(object, key) : fallback;
}

namespace {

int Narrow(std::int64_t value, const std::string& key) {
    if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
        throw Mistyped(key, "a 32-bit integer");
    }
    return static_cast<int>(value);
}

} // namespace

int ApiRequest::QueryInt32(const std::string& name) const {
    return Narrow(QueryInt(name), name);
}

int ApiRequest::Int32(const Json::Value& object, const std::string& key) {
    return Narrow(Int(object, key), key);
}

int ApiRequest::Int32(const Json::Value& object, const std::string& key, int fallback) {
    return Narrow(Int(object, key, fallback), key);
}

const Json::Value& ApiRequest::Array(const Json::Value& object, const std::string& key) {
    static const Json::Value kEmpty(Json::arrayValue);
    const auto& value = Member(object, key);
    if (value.isNull()) {
        return kEmpty;
    }
    if (!value.isArray()) {
        throw Mistyped(key, "an array");
    }
    return value;
}

Json::Value ApiRequest::OptArray(const Json::Value& object, const std::string& key) {
    return Has(object, key) ? Array(object, key) : Json::Value(Json::arrayValue);
}

const Json::Value& ApiRequest::Object(const Json::Value& object, const std::string& key) {
    const auto& value = Member(object, key);
    if (!value.isObject()) {
        throw Mistyped(key, "an object");
    }
    return value;
}

std::int64_t ApiRequest::IntElement(const Json::Value& element, const std::string& arrayKey) {
    if (!element.isInt64()) {
        throw Mistyped(arrayKey, "an array of integers");
    }
    return element.asInt64();
}

std::string ApiRequest::TextElement(const Json::Value& element, const std::string& arrayKey) {
    if (!element.isString()) {
        throw Mistyped(arrayKey, "an array of strings");
    }
    return element.asString();
}

} // namespace zeqemu
