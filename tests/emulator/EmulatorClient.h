#pragma once

#include <json/value.h>

#include <map>
#include <string>

namespace zeqemu {
class Emulator;
}

namespace emutest {

struct Answer {
    int status = 0; // 0: no HTTP answer at all
    std::string text;
    Json::Value json; // null unless the body is JSON
    std::string contentRange;
    std::string etag;
    std::string lastModified;

    std::int64_t Code() const { return json.isObject() ? json["code"].asInt64() : -1; }
};

// A client that talks to an emulator the way the library does: HTTPS with
// peer verification against the development CA, "Cookie: ID=..." and
// "Token", and "clientType"/"deviceId" on every GET.
class EmulatorClient {
public:
    explicit EmulatorClient(const zeqemu::Emulator& emulator);
    EmulatorClient(int port, std::string cookieId, std::string token)
        : m_port(port), m_cookieId(std::move(cookieId)), m_token(std::move(token)) {}

    Answer Get(const std::string& path, std::map<std::string, std::string> query = {},
               const std::map<std::string, std::string>& headers = {}) const;
    Answer Post(const std::string& path, const Json::Value& body,
                const std::map<std::string, std::string>& query = {}) const;
    Answer PostText(const std::string& path, const std::string& body,
                    const std::map<std::string, std::string>& query = {}) const;
    Answer Send(const std::string& method, const std::string& target,
                const std::map<std::string, std::string>& headers, const std::string& body) const;

    // A file listing (filesvc/files) of folder, as the library sends it.
    Answer List(const std::string& folder, int limit = 100, int offset = 0,
                const std::string& sortType = "", const std::string& filter = "") const;

    void SetCredentials(std::string cookieId, std::string token) {
        m_cookieId = std::move(cookieId);
        m_token = std::move(token);
    }

    static std::string PercentEncode(const std::string& text);

private:
    int m_port;
    std::string m_cookieId;
    std::string m_token;
};

Json::Value ParseJson(const std::string& text);

} // namespace emutest
