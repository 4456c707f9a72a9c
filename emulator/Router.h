#pragma once

#include "emulator/ApiReply.h"
#include "emulator/ApiRequest.h"
#include "emulator/Capabilities.h"

#include <functional>
#include <map>
#include <string>
#include <utility>

namespace zeqemu {

// The REST paths of the device: one entry per method and path, with the
// capability that must be offered for the path to exist at all (0: always).
class Router {
public:
    using Handler = std::function<ApiReply(const ApiRequest&)>;

    // REST reads: the client adds "clientType" and "deviceId" to every one,
    // and a read without them is refused.
    void Get(const std::string& path, Handler handler, int capability = 0);
    void Post(const std::string& path, Handler handler, int capability = 0);
    void Put(const std::string& path, Handler handler, int capability = 0);
    // A plain page (no client ids), fetched by a generic downloader.
    void Page(const std::string& path, Handler handler);
    // A route that reads its body itself, as it arrives (ApiRequest::ReadBody).
    void Stream(const std::string& method, const std::string& path, Handler handler);
    bool StreamsBody(const std::string& method, const std::string& path) const;

    // Never throws: refusals and internal failures become JSON error replies.
    ApiReply Dispatch(const ApiRequest& request, const Capabilities& caps) const;

private:
    struct Route {
        Handler handler;
        int capability = 0;
        bool clientIds = false;
        bool streamsBody = false;
    };
    void Add(const std::string& method, const std::string& path, Route route);

    std::map<std::pair<std::string, std::string>, Route> m_routes;
};

} // namespace zeqemu
