#pragma once

#include <json/value.h>

#include <cstdint>
#include <string>

// The rules of the JsonUtil getters, applied to a member already found (null
// when the key is absent). Readers that find members their own way, or that
// hold a reply in another JSON library, give exactly the getters' results
// through these. Internal to the library.
namespace jsonmember {

std::int32_t Int32(const Json::Value* member, std::int32_t defaultValue);
std::uint32_t Uint32(const Json::Value* member, std::uint32_t defaultValue);
std::int64_t Int64(const Json::Value* member, std::int64_t defaultValue);
std::uint64_t Uint64(const Json::Value* member, std::uint64_t defaultValue);
double Double(const Json::Value* member, double defaultValue);
std::string Text(const Json::Value* member);
bool Bool(const Json::Value* member);

} // namespace jsonmember
