// StringToCppJsonObj on any bytes, then every JsonUtil getter on the root, on
// its members and on their members, under the keys they really have and under
// keys they lack, and the compact writer on what was parsed.
#include "FuzzSupport.h"

#include "core/JsonUtil.h"

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void ReadEveryWay(const Json::Value& value, const std::string& key) {
    // Unsigned sums: the values are only kept alive, never interpreted.
    volatile std::uint64_t sink = 0;
    sink = sink + static_cast<std::uint64_t>(JsonUtil::GetInt32ValFromJson(value, key, -7));
    sink = sink + static_cast<std::uint64_t>(JsonUtil::GetInt64ValFromJson(value, key, -7));
    sink = sink + JsonUtil::GetUint32ValFromJson(value, key, 7);
    sink = sink + JsonUtil::GetUint64ValFromJson(value, key, 7);
    const double real = JsonUtil::GetDoubleValFromJson(value, key, 0.5);
    sink = sink + (real == real ? 1 : 0);
    sink = sink + JsonUtil::GetStrValFromJson(value, key).size();
    sink = sink + JsonUtil::GetJsonArrayValFromJson(value, key).size();
    sink = sink + (JsonUtil::GetBoolValFromJson(value, key) ? 1 : 0);
}

void Walk(const Json::Value& value, int depth) {
    for (const char* absent : {"", "code", "data", "\xff"}) {
        ReadEveryWay(value, absent);
    }
    if (depth == 0) {
        return;
    }
    if (value.isObject()) {
        for (const std::string& key : value.getMemberNames()) {
            ReadEveryWay(value, key);
            Walk(value[key], depth - 1);
        }
    } else if (value.isArray()) {
        for (const Json::Value& element : value) {
            Walk(element, depth - 1);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Setup();
    const std::string text = fuzzsupport::Text(data, size);
    Json::Value root;
    if (!JsonUtil::StringToCppJsonObj(text, root)) {
        return 0;
    }
    Walk(root, 3);
    // No read-back check: the JSON library keeps comments of the input and
    // writes them out again, which need not parse as the same value.
    volatile std::size_t written = JsonUtil::CppJsonToString(root).size();
    (void)written;
    return 0;
}
