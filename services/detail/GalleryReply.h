#pragma once

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "core/ObjectToJson.h"
#include "services/detail/ServiceJson.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Pieces the album and photo services share on top of DeviceCall: posting a
// body, and the reply steps that differ only in their phrase.
namespace gallery_detail {

using servicejson::ForEachObject;
using servicejson::Int32;
using servicejson::Int64;

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
