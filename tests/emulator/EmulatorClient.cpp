#include "EmulatorClient.h"

#include "emulator/Emulator.h"

#include <httplib.h>
#include <json/reader.h>
#include <json/writer.h>

#include <memory>

namespace emutest {

Json::Value ParseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) {
        return Json::Value();
    }
    return root;
}

EmulatorClient::EmulatorClient(const zeqemu::Emulator& emulator)
    : m_port(emulator.Port()), m_cookieId(emulator.CookieId()), m_token(emulator.Token()) {}

std::string EmulatorClient::PercentEncode(const std::string& text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '*' || c == '-' || c == '.' || c == '_') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0f];
        }
    }
    return out;
}

Answer EmulatorClient::Send(const std::string& method, const std::string& target,
                            const std::map<std::string, std::string>& headers,
                            const std::string& body) const {
    httplib::SSLClient client("127.0.0.1", m_port);
    client.set_ca_cert_path(zeqemu::Emulator::DevelopmentCaFile().c_str());
    client.enable_server_certificate_verification(true);
    client.set_connection_timeout(std::chrono::seconds(30));
    client.set_read_timeout(std::chrono::seconds(60));
    httplib::Headers sent{{"Cookie", "ID=" + m_cookieId}, {"Token", m_token}};
    for (const auto& [name, value] : headers) {
        sent.erase(name);
        sent.emplace(name, value);
    }
    auto result = [&] {
        if (method == "GET") {
            return client.Get(target, sent);
        }
        if (method == "POST") {
            return client.Post(target, sent, body, "application/json; charset=UTF-8");
        }
        if (method == "PUT") {
            return client.Put(target, sent, body, "application/json");
        }
        return client.Delete(target, sent);
    }();
    Answer answer;
    if (!result) {
        return answer;
    }
    answer.status = result->status;
    answer.text = result->body;
    answer.contentRange = result->get_header_value("Content-Range");
    answer.etag = result->get_header_value("ETag");
    answer.lastModified = result->get_header_value("Last-Modified");
    answer.json = ParseJson(answer.text);
    return answer;
}

namespace {

std::string Target(const std::string& path, const std::map<std::string, std::string>& query) {
    std::string target = "/" + path;
    char separator = '?';
    for (const auto& [key, value] : query) {
        target += separator + key + "=" + value;
        separator = '&';
    }
    return target;
}

} // namespace

Answer EmulatorClient::Get(const std::string& path, std::map<std::string, std::string> query,
                           const std::map<std::string, std::string>& headers) const {
    query.emplace("clientType", "3");
    query.emplace("deviceId", "test-device");
    return Send("GET", Target(path, query), headers, "");
}

Answer EmulatorClient::Post(const std::string& path, const Json::Value& body,
                            const std::map<std::string, std::string>& query) const {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return PostText(path, Json::writeString(builder, body), query);
}

Answer EmulatorClient::PostText(const std::string& path, const std::string& body,
                                const std::map<std::string, std::string>& query) const {
    return Send("POST", Target(path, query), {}, body);
}

Answer EmulatorClient::List(const std::string& folder, int limit, int offset,
                            const std::string& sortType, const std::string& filter) const {
    std::map<std::string, std::string> query{{"limit", std::to_string(limit)},
                                             {"offset", std::to_string(offset)},
                                             {"category", "user"},
                                             {"dirType", "6"}};
    if (!sortType.empty()) {
        query["sortType"] = sortType;
    }
    if (!filter.empty()) {
        query["filter"] = filter;
    }
    return Get("filesvc/files", query, {{"Dest-File", PercentEncode(folder)}});
}

} // namespace emutest
