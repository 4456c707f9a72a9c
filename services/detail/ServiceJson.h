#pragma once

#include "core/JsonUtil.h"

#include <json/value.h>

#include <cstdint>
#include <vector>

// jsoncpp helpers of the services' request bodies, and of the write
// operations that read a value from the envelope DeviceCall checked; not part
// of the library's public headers. Reply steps read through ReplyReader.h.
namespace servicejson {

inline std::int64_t Int64(const Json::Value& value, const char* key) {
    return JsonUtil::GetInt64ValFromJson(value, key, 0);
}

// jsoncpp has no constructor for long, which std::int64_t is here.
inline Json::Value JsonInt64(std::int64_t number) {
    return Json::Value(static_cast<Json::Int64>(number));
}

// A null value turns into an array on its first append, so an empty list
// goes out as null unless the caller asks for an empty array.
template <typename T>
Json::Value JsonList(const std::vector<T>& items, Json::ValueType whenEmpty = Json::nullValue) {
    Json::Value list(whenEmpty);
    for (const T& item : items) {
        list.append(Json::Value(item));
    }
    return list;
}

} // namespace servicejson
