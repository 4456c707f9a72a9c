#pragma once

#include "platform/HttpLibExport.h"

#include <json/value.h>

#include <cstdint>
#include <string>

// Readers of device replies never fail on a missing key or a wrong type: they
// give the default. A number may also arrive as text ("12"), which the numeric
// getters convert.
namespace JsonUtil {

// Empty text is not an error: root is left as it was and true is returned.
HTTPLIB_API bool StringToCppJsonObj(const std::string& text, Json::Value& root);
// Compact text; object keys come out in sorted byte order.
HTTPLIB_API std::string CppJsonToString(const Json::Value& value);

HTTPLIB_API std::string GetStrValFromJson(const Json::Value& value, const std::string& key);
HTTPLIB_API Json::Value GetJsonArrayValFromJson(const Json::Value& value, const std::string& key);
HTTPLIB_API int GetInt32ValFromJson(const Json::Value& value, const std::string& key,
                                    int defaultValue);
HTTPLIB_API std::int64_t GetInt64ValFromJson(const Json::Value& value, const std::string& key,
                                             std::int64_t defaultValue);
HTTPLIB_API unsigned int GetUint32ValFromJson(const Json::Value& value, const std::string& key,
                                              unsigned int defaultValue);
HTTPLIB_API std::uint64_t GetUint64ValFromJson(const Json::Value& value, const std::string& key,
                                               std::uint64_t defaultValue);
HTTPLIB_API double GetDoubleValFromJson(const Json::Value& value, const std::string& key,
                                        double defaultValue);
HTTPLIB_API bool GetBoolValFromJson(const Json::Value& value, const std::string& key);

} // namespace JsonUtil
