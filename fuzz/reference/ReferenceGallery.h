#pragma once

#include "ReferenceJson.h"

#include "core/DeviceCall.h"
#include "core/HttpPostRspCode.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The reply steps the album and photo services shared, as they read replies
// with jsoncpp.
namespace referencegallery {

// After the envelope, idKey of every object under arrayKey is appended to ids.
inline bool CheckReplyAppendingIds(const DeviceCall& call, const std::string& reply,
                                   std::string_view phrase, const char* arrayKey, const char* idKey,
                                   std::vector<std::int64_t>& ids, HttpPostRspCode* rsp) {
    Json::Value root;
    if (!call.CheckReply(reply, phrase, root, rsp)) {
        return false;
    }
    referencejson::ForEachObject(root, arrayKey, [&](const Json::Value& item) {
        ids.push_back(referencejson::Int64(item, idKey));
    });
    return true;
}

// After the envelope, "taskId" read as a 32-bit number.
inline bool CheckReplyReadingTaskId(const DeviceCall& call, const std::string& reply,
                                    std::string_view phrase, std::int64_t& taskId,
                                    HttpPostRspCode* rsp) {
    Json::Value root;
    if (!call.CheckReply(reply, phrase, root, rsp)) {
        return false;
    }
    taskId = referencejson::Int32(root, "taskId");
    return true;
}

} // namespace referencegallery
