#pragma once

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

namespace zeqemu {

// One request as a handler sees it, with typed, validating accessors: a
// missing or mistyped field throws ApiError, so handlers never work on
// half-read input.
class ApiRequest {
public:
    using Params = std::multimap<std::string, std::string>;
    using Headers = std::multimap<std::string, std::string>;

    ApiRequest(std::string method, std::string path, Params query, Headers headers,
               std::string body);

    const std::string& Method() const { return m_method; }
    const std::string& Path() const { return m_path; }

    // Header value (case-insensitive name), "" when absent.
    std::string Header(const std::string& name) const;

    bool HasQuery(const std::string& name) const;
    std::string QueryText(const std::string& name) const;
    std::string QueryText(const std::string& name, const std::string& fallback) const;
    std::int64_t QueryInt(const std::string& name) const;
    std::int64_t QueryInt(const std::string& name, std::int64_t fallback) const;
    // A 32-bit field; a value it cannot hold is refused, never cut down.
    int QueryInt32(const std::string& name) const;

    // The body as sent, for routes that take bytes.
    const std::string& RawBody() const { return m_bodyText; }
    // Routes that take their body as a stream read it here as it arrives:
    // up to size bytes, 0 at the end (throws ApiError past the body limit).
    using BodyStream = std::function<std::size_t(char* out, std::size_t size)>;
    void SetBodyStream(BodyStream stream) { m_bodyStream = std::move(stream); }
    std::size_t ReadBody(char* out, std::size_t size) const;
    // The body as a JSON object; parsed on first use.
    const Json::Value& Body() const;

    // Field readers over any JSON object (the body or an element of it); what
    // names the object in error texts.
    static std::string Text(const Json::Value& object, const std::string& key);
    static std::string Text(const Json::Value& object, const std::string& key,
                            const std::string& fallback);
    static std::int64_t Int(const Json::Value& object, const std::string& key);
    static std::int64_t Int(const Json::Value& object, const std::string& key,
                            std::int64_t fallback);
    static int Int32(const Json::Value& object, const std::string& key);
    static int Int32(const Json::Value& object, const std::string& key, int fallback);
    // A required array; JSON null counts as an empty array, since the client
    // writes empty lists as null in several bodies.
    static const Json::Value& Array(const Json::Value& object, const std::string& key);
    // An optional array: missing or null give an empty array.
    static Json::Value OptArray(const Json::Value& object, const std::string& key);
    static const Json::Value& Object(const Json::Value& object, const std::string& key);
    // Elements of an array that must all be JSON objects or all integers.
    static std::int64_t IntElement(const Json::Value& element, const std::string& arrayKey);
    static std::string TextElement(const Json::Value& element, const std::string& arrayKey);

private:
    std::string m_method;
    std::string m_path;
    Params m_query;
    Headers m_headers;
    std::string m_bodyText;
    BodyStream m_bodyStream;
    mutable std::optional<Json::Value> m_body;
};

} // namespace zeqemu
