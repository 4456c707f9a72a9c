#include "emulator/Router.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"

#include <iostream>
#include <stdexcept>

namespace zeqemu {

void Router::Get(const std::string& path, Handler handler, int capability) {
    Add("GET", path, Route{std::move(handler), capability, true});
}

void Router::Post(const std::string& path, Handler handler, int capability) {
    Add("POST", path, Route{std::move(handler), capability, false});
}

void Router::Put(const std::string& path, Handler handler, int capability) {
    Add("PUT", path, Route{std::move(handler), capability, false});
}

void Router::Page(const std::string& path, Handler handler) {
    Add("GET", path, Route{std::move(handler), 0, false});
}

void Router::Stream(const std::string& method, const std::string& path, Handler handler) {
    Add(method, path, Route{std::move(handler), 0, false, true});
}

bool Router::StreamsBody(const std::string& method, const std::string& path) const {
    const auto found = m_routes.find({method, path});
    return found != m_routes.end() && found->second.streamsBody;
}

void Router::Add(const std::string& method, const std::string& path, Route route) {
    const auto [it, added] = m_routes.emplace(std::make_pair(method, path), std::move(route));
    if (!added) {
        throw std::logic_error("route registered twice: " + method + " " + path);
    }
}

ApiReply Router::Dispatch(const ApiRequest& request, const Capabilities& caps) const {
    const auto usable = [&](const Route& route) {
        return route.capability == 0 || caps.Has(route.capability);
    };
    const auto found = m_routes.find({request.Method(), request.Path()});
    if (found == m_routes.end() || !usable(found->second)) {
        // A path that exists under the other method is a client mistake worth
        // telling apart from a path this device does not have.
        for (const auto& [key, route] : m_routes) {
            if (key.second == request.Path() && usable(route)) {
                return ApiReply::Error(405, code::kMethodNotAllowed,
                                       "method " + request.Method() + " not allowed here");
            }
        }
        return ApiReply::Error(404, code::kUnknownPath, "no such path: " + request.Path());
    }
    try {
        if (found->second.clientIds) {
            request.QueryInt("clientType");
            request.QueryText("deviceId");
        }
        return found->second.handler(request);
    } catch (const ApiError& e) {
        return ApiReply::Error(e.HttpStatus(), e.Code(), e.what());
    } catch (const std::exception& e) {
        std::cerr << "zeq-emulator: " << request.Method() << " " << request.Path()
                  << " failed: " << e.what() << '\n';
        return ApiReply::Error(500, code::kInternal, "internal error");
    }
}

} // namespace zeqemu
