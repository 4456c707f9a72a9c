#pragma once

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "core/ObjectToJson.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Pieces the album and photo services share on top of DeviceCall: short
// readers, so that a record filler reads as one line per field (defaults 0,
// 0.0 and ""), the list walk, and the reply steps that differ only in their
// phrase.
namespace gallery_detail {

inline std::int64_t Int64(const Json::Value& value, const char* key) {
    return JsonUtil::GetInt64ValFromJson(value, key, 0);
}

inline std::int32_t Int32(const Json::Value& value, const char* key) {
    return JsonUtil::GetInt32ValFromJson(value, key, 0);
}

inline double Double(const Json::Value& value, const char* key) {
    return JsonUtil::GetDoubleValFromJson(value, key, 0.0);
}

inline std::string Str(const Json::Value& value, const char* key) {
    return JsonUtil::GetStrValFromJson(value, key);
}

// jsoncpp has no constructor for long, which std::int64_t is here.
inline Json::Value JsonInt64(std::int64_t number) {
    return Json::Value(static_cast<Json::Int64>(number));
}

// Calls visit(element) for every object in the array under key, in order. An
// absent key or a non-array has no elements; null and non-object elements are
// skipped without a word.
template <typename Visit>
void ForEachObject(const Json::Value& value, const char* key, Visit visit) {
    const Json::Value array = JsonUtil::GetJsonArrayValFromJson(value, key);
    for (Json::ArrayIndex i = 0; i < array.size(); ++i) {
        if (array[i].isObject()) {
            visit(array[i]);
        }
    }
}

// A POST of a field-list record.
template <FieldListRecord Request>
bool PostRecord(const DeviceCall& call, const std::string& path, const Request& request,
                std::string_view serialisationPhrase, std::string_view requestPhrase,
                std::string& reply) {
    std::string body;
    return call.Serialise(request, serialisationPhrase, body) &&
           call.Send(HttpReqZEQ::HTTP_POST, path, {}, body, requestPhrase, reply);
}

// A POST of a tree body.
inline bool PostTree(const DeviceCall& call, const std::string& path, const Json::Value& body,
                     std::string_view requestPhrase, std::string& reply) {
    return call.Send(HttpReqZEQ::HTTP_POST, path, {}, JsonUtil::CppJsonToString(body),
                     requestPhrase, reply);
}

// Reply step of the operations that answer with processed ids: after the
// envelope, idKey of every object under arrayKey is appended to ids, which is
// not cleared, so the caller's earlier entries stay in front.
inline bool CheckReplyAppendingIds(const DeviceCall& call, const std::string& reply,
                                   std::string_view phrase, const char* arrayKey, const char* idKey,
                                   std::vector<std::int64_t>& ids, HttpPostRspCode* rsp) {
    Json::Value root;
    if (!call.CheckReply(reply, phrase, root, rsp)) {
        return false;
    }
    ForEachObject(root, arrayKey,
                  [&](const Json::Value& item) { ids.push_back(Int64(item, idKey)); });
    return true;
}

// Reply step of the operations that start a device task. The device writes
// task ids as 32-bit numbers: one above the 32-bit range gives 0, a negative
// one stays negative.
inline bool CheckReplyReadingTaskId(const DeviceCall& call, const std::string& reply,
                                    std::string_view phrase, std::int64_t& taskId,
                                    HttpPostRspCode* rsp) {
    Json::Value root;
    if (!call.CheckReply(reply, phrase, root, rsp)) {
        return false;
    }
    taskId = Int32(root, "taskId");
    return true;
}

} // namespace gallery_detail
