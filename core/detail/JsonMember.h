#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The conversions of the JsonUtil getters, applied to a member already found
// (null when the key is absent). Readers that find members their own way,
// such as a cursor over a big page's items, give exactly the getters' results
// through these. Internal to the library.
namespace jsonmember {

std::int64_t Int64(const Json::Value* member, std::int64_t defaultValue);
std::string Text(const Json::Value* member);

} // namespace jsonmember
