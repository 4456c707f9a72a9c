#pragma once

#include "core/DeviceCall.h"
#include "core/JsonUtil.h"
#include "core/ObjectToJson.h"
#include "services/detail/ReplyReader.h"
#include "services/detail/ServiceJson.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Pieces the album and photo services share on top of DeviceCall: posting a
// body, and the reply steps that differ only in their phrase.
namespace gallery_detail {

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
                                   std::string_view phrase, std::string_view arrayKey,
                                   std::string_view idKey, std::vector<std::int64_t>& ids,
                                   HttpPostRspCode* rsp) {
    replyjson::Document document;
    if (!replyjson::CheckReply(call, reply, {phrase, rsp}, document)) {
        return false;
    }
    document.Root()[arrayKey].ForEachObject(
        [&](replyjson::Value item) { ids.push_back(item.Int64(idKey)); });
    return true;
}

// Reply step of the operations that start a device task. The device writes
// task ids as 32-bit numbers: one above the 32-bit range gives 0, a negative
// one stays negative.
inline bool CheckReplyReadingTaskId(const DeviceCall& call, const std::string& reply,
                                    std::string_view phrase, std::int64_t& taskId,
                                    HttpPostRspCode* rsp) {
    replyjson::Document document;
    if (!replyjson::CheckReply(call, reply, {phrase, rsp}, document)) {
        return false;
    }
    taskId = document.Root().Int32("taskId");
    return true;
}

} // namespace gallery_detail
