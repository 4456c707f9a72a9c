#pragma once

#include <json/value.h>

#include "emulator/UniqueFd.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace zeqemu {

// What a handler answers: a status, a content type and the body text.
struct ApiReply {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::map<std::string, std::string> headers; // beyond the content type
    // Bytes of an open file sent as the body instead of body, read from disk
    // as they go out.
    struct FileSpan {
        std::shared_ptr<const UniqueFd> file;
        std::int64_t offset = 0;
        std::int64_t length = 0;
    };
    std::optional<FileSpan> file;

    // The envelope with "code" 0; fields are merged in at the top level.
    static ApiReply Ok(Json::Value fields = Json::Value(Json::objectValue));
    // A JSON document exactly as given (for replies that are not an envelope).
    static ApiReply RawJson(const Json::Value& document, int status = 200);
    // An error envelope. The gallery and device services read "des", the file
    // service "desc"; both carry the same text.
    static ApiReply Error(int status, std::int64_t code, const std::string& des);

    static std::string Compact(const Json::Value& document);
};

} // namespace zeqemu
