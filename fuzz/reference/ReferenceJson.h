#pragma once

#include "core/JsonUtil.h"

#include <json/value.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The jsoncpp helpers the services' reply steps read with before they moved
// to RapidJSON, kept here as the differential fuzz targets' reference.
namespace referencejson {

// The member under key, or a null value. Unlike operator[], it never adds
// the key and is safe on any kind of value.
inline const Json::Value& Member(const Json::Value& value, const char* key) {
    return value.isObject() ? value[key] : Json::Value::nullSingleton();
}

// Readers with the services' defaults: 0, "" and false.
inline std::int32_t Int32(const Json::Value& value, const char* key) {
    return JsonUtil::GetInt32ValFromJson(value, key, 0);
}
inline std::int64_t Int64(const Json::Value& value, const char* key) {
    return JsonUtil::GetInt64ValFromJson(value, key, 0);
}
inline std::uint32_t Uint32(const Json::Value& value, const char* key) {
    return JsonUtil::GetUint32ValFromJson(value, key, 0);
}
inline std::uint64_t Uint64(const Json::Value& value, const char* key) {
    return JsonUtil::GetUint64ValFromJson(value, key, 0);
}
inline double Double(const Json::Value& value, const char* key) {
    return JsonUtil::GetDoubleValFromJson(value, key, 0.0);
}
inline std::string Text(const Json::Value& value, const char* key) {
    return JsonUtil::GetStrValFromJson(value, key);
}
inline bool Bool(const Json::Value& value, const char* key) {
    return JsonUtil::GetBoolValFromJson(value, key);
}

// Reads the members of one object for a record filler that asks for its keys
// roughly in the object's own (sorted) order, as the fillers of big pages do.
// A cursor walks the members once; a key that is not among the next few
// members, because it is asked out of order or is absent, is looked up
// instead. A lookup per key was most of a photo table page's reply step
// beyond the parse. Results are those of Int64 and Text above.
class ObjectFields {
public:
    explicit ObjectFields(const Json::Value& value)
        : m_value(value), m_next(value.isObject() ? value.begin() : value.end()),
          m_end(value.end()) {}

    std::int64_t Int64(const char* key) {
        const Json::Value* member = Find(key);
        if (member == nullptr) {
            return 0;
        }
        if (member->isString()) {
            return std::strtoll(member->asCString(), nullptr, 10);
        }
        return member->isInt64() ? member->asInt64() : 0;
    }
    std::string Text(const char* key) {
        const Json::Value* member = Find(key);
        return member != nullptr && member->isString() ? member->asString() : std::string{};
    }

private:
    static constexpr int kLookAhead = 4;

    const Json::Value* Find(const char* key) {
        if (!m_value.isObject()) {
            return nullptr;
        }
        const std::size_t length = std::strlen(key);
        auto it = m_next;
        for (int step = 0; step < kLookAhead && it != m_end; ++step, ++it) {
            const char* nameEnd = nullptr;
            const char* name = it.memberName(&nameEnd);
            const auto nameLength = static_cast<std::size_t>(nameEnd - name);
            // The object's own order: bytes first, then the shorter name.
            const int order = std::memcmp(name, key, std::min(nameLength, length));
            if (order == 0 && nameLength == length) {
                m_next = std::next(it);
                return &*it;
            }
            if (order > 0 || (order == 0 && nameLength > length)) {
                break;
            }
        }
        return m_value.find(key, key + length);
    }

    const Json::Value& m_value;
    Json::Value::const_iterator m_next;
    Json::Value::const_iterator m_end;
};

// Calls fill for each element of the array under key that is an object;
// null and other elements are skipped. The array is walked where it lies:
// a copy of a page of thousands of objects doubled the reply step's time
// and peak memory.
template <typename Fill> void ForEachObject(const Json::Value& parent, const char* key, Fill fill) {
    if (!parent.isObject()) {
        return;
    }
    const Json::Value* array = parent.find(key, key + std::strlen(key));
    if (array == nullptr || !array->isArray()) {
        return;
    }
    for (const Json::Value& element : *array) {
        if (element.isObject()) {
            fill(element);
        }
    }
}

} // namespace referencejson
