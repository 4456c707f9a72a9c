#pragma once

#include "core/HttpPostRspCode.h"
#include "core/HttpReqZEQ.h"
#include "core/ObjectToJson.h"
#include "core/SourceLocation.h"
#include "platform/HttpLibExport.h"
#include "platform/Scribo.h"

#include <json/value.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>

// The one road of a device service operation: body, request, reply envelope.
// A DeviceCall names where its log lines come from (module and
// "Class::Operation"); each step logs its own failure once and returns false.
//
//     DeviceCall call(Scribo::subAlbum, "AlbumIntfZEQ::DeleteGalleryUserAlbum");
//     std::string body;
//     Json::Value root;
//     return call.Serialise(request, "http req del user album", body) &&
//            call.Post("gallery/delAlbum", body, "post del user album",
//                      "http req del user album", root, rsp);
class HTTPLIB_API DeviceCall {
public:
    using Query = std::map<std::string, std::string>;
    using Headers = std::map<std::string, std::string>;

    static constexpr int kConnectTimeoutMs = 10000;

    DeviceCall(Scribo::ModuleType module, std::string function,
               httplib::SourceLocation where = httplib::SourceLocation::current());

    // Serialises a field-list record; logs "ObjectToJson failed for " + phrase.
    template <FieldListRecord T>
    bool Serialise(const T& record, std::string_view replyPhrase, std::string& body) const {
        if (ObjectToJson(record, body)) {
            return true;
        }
        Log(std::string("ObjectToJson failed for ").append(replyPhrase));
        return false;
    }

    // CtxInit and DoRequest; logs "http request init failed for " or
    // "http request do failed for " + requestPhrase.
    bool Send(HttpReqZEQ::HttpRequestMethod method, const std::string& path, const Query& query,
              const std::string& body, std::string_view requestPhrase, std::string& reply,
              const Headers& extraHeaders = {}) const;

    // The two lines Send logs, for operations whose device texts do not
    // follow the "http request ... failed for " + phrase form.
    struct SendFailureLines {
        std::string_view initFailed;
        std::string_view doFailed;
    };
    bool Send(HttpReqZEQ::HttpRequestMethod method, const std::string& path, const Query& query,
              const std::string& body, const SendFailureLines& lines, std::string& reply,
              const Headers& extraHeaders = {}) const;

    // The envelope's first three checks: the text parses, to a non-null
    // object.
    bool ParseReply(const std::string& reply, std::string_view replyPhrase,
                    Json::Value& root) const;

    // The envelope's code check. "code" and "des" go into rsp (when given)
    // before the verdict; a code outside successCodes logs
    // phrase + " error: " + code + ", " + des.
    bool CheckCode(const Json::Value& root, std::string_view replyPhrase, HttpPostRspCode* rsp,
                   std::initializer_list<std::int64_t> successCodes = {0}) const;

    // ParseReply then CheckCode.
    bool CheckReply(const std::string& reply, std::string_view replyPhrase, Json::Value& root,
                    HttpPostRspCode* rsp = nullptr) const;

    // Send then CheckReply: the whole call of a GET or POST operation.
    bool Get(const std::string& path, const Query& query, std::string_view requestPhrase,
             std::string_view replyPhrase, Json::Value& root, HttpPostRspCode* rsp = nullptr,
             const Headers& extraHeaders = {}) const;
    bool Post(const std::string& path, const std::string& body, std::string_view requestPhrase,
              std::string_view replyPhrase, Json::Value& root,
              HttpPostRspCode* rsp = nullptr) const;

    void Log(const std::string& message) const;

private:
    Scribo::ModuleType m_module;
    std::string m_function;
    std::int32_t m_line;
};
