#include "core/DeviceCall.h"

#include "core/JsonUtil.h"

#include <algorithm>

DeviceCall::DeviceCall(Scribo::ModuleType module, std::string function,
                       httplib::SourceLocation where)
    : m_module(module), m_function(std::move(function)),
      m_line(static_cast<std::int32_t>(where.line())) {}

void DeviceCall::Log(const std::string& message) const {
    Scribo::Output(m_module, Scribo::LOG_ERROR, m_line, m_function, message, true);
}

bool DeviceCall::Send(HttpReqZEQ::HttpRequestMethod method, const std::string& path,
                      const Query& query, const std::string& body, std::string_view requestPhrase,
                      std::string& reply, const Headers& extraHeaders) const {
    const std::string initFailed =
        std::string("http request init failed for ").append(requestPhrase);
    const std::string doFailed = std::string("http request do failed for ").append(requestPhrase);
    return Send(method, path, query, body, SendFailureLines{initFailed, doFailed}, reply,
                extraHeaders);
}

bool DeviceCall::Send(HttpReqZEQ::HttpRequestMethod method, const std::string& path,
                      const Query& query, const std::string& body, const SendFailureLines& lines,
                      std::string& reply, const Headers& extraHeaders) const {
    HttpReqZEQ request(method);
    if (!request.CtxInit(path, query, body)) {
        Log(std::string(lines.initFailed));
        return false;
    }
    if (!request.DoRequest(reply, extraHeaders, kConnectTimeoutMs)) {
        Log(std::string(lines.doFailed));
        return false;
    }
    return true;
}

bool DeviceCall::ParseReply(const std::string& reply, std::string_view replyPhrase,
                            Json::Value& root) const {
    if (!JsonUtil::StringToCppJsonObj(reply, root)) {
        Log(std::string("StringToCppJsonObj failed for ").append(replyPhrase));
        return false;
    }
    if (root.isNull()) {
        Log(std::string("jsonRoot is null for ").append(replyPhrase));
        return false;
    }
    if (!root.isObject()) {
        Log(std::string("jsonRoot is not object for ").append(replyPhrase));
        return false;
    }
    return true;
}

bool DeviceCall::CheckCode(const Json::Value& root, std::string_view replyPhrase,
                           HttpPostRspCode* rsp,
                           std::initializer_list<std::int64_t> successCodes) const {
    const std::int64_t code = JsonUtil::GetInt64ValFromJson(root, "code", 0);
    std::string des = JsonUtil::GetStrValFromJson(root, "des");
    const bool success =
        std::find(successCodes.begin(), successCodes.end(), code) != successCodes.end();
    if (!success) {
        Log(std::string(replyPhrase) + " error: " + std::to_string(code) + ", " + des);
    }
    if (rsp != nullptr) {
        rsp->code = code;
        rsp->des = std::move(des);
    }
    return success;
}

bool DeviceCall::CheckReply(const std::string& reply, std::string_view replyPhrase,
                            Json::Value& root, HttpPostRspCode* rsp) const {
    return ParseReply(reply, replyPhrase, root) && CheckCode(root, replyPhrase, rsp);
}

bool DeviceCall::Get(const std::string& path, const Query& query, std::string_view requestPhrase,
                     std::string_view replyPhrase, Json::Value& root, HttpPostRspCode* rsp,
                     const Headers& extraHeaders) const {
    std::string reply;
    return Send(HttpReqZEQ::HTTP_GET, path, query, {}, requestPhrase, reply, extraHeaders) &&
           CheckReply(reply, replyPhrase, root, rsp);
}

bool DeviceCall::Post(const std::string& path, const std::string& body,
                      std::string_view requestPhrase, std::string_view replyPhrase,
                      Json::Value& root, HttpPostRspCode* rsp) const {
    std::string reply;
    return Send(HttpReqZEQ::HTTP_POST, path, {}, body, requestPhrase, reply) &&
           CheckReply(reply, replyPhrase, root, rsp);
}
