#include "emulator/ApiReply.h"

#include <json/writer.h>

namespace zeqemu {

ApiReply ApiReply::Ok(Json::Value fields) {
    if (!fields.isMember("code")) {
        fields["code"] = 0;
    }
    if (!fields.isMember("des")) {
        fields["des"] = "";
    }
    return RawJson(fields);
}

ApiReply ApiReply::RawJson(const Json::Value& document, int status) {
    ApiReply reply;
    reply.status = status;
    reply.body = Compact(document);
    return reply;
}

ApiReply ApiReply::Error(int status, std::int64_t code, const std::string& des) {
    Json::Value body(Json::objectValue);
    body["code"] = static_cast<Json::Int64>(code);
    body["des"] = des;
    body["desc"] = des;
    return RawJson(body, status);
}

std::string ApiReply::Compact(const Json::Value& document) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, document);
}

} // namespace zeqemu
