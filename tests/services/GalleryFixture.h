#pragma once

#include "core/HttpPostRspCode.h"
#include "core/HttpReqZEQ.h"
#include "support/DeviceHost.h"
#include "support/LogCapture.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

namespace gallerytest {

// "a=1&b=2" as a map: the order of the pairs is the device request's concern.
inline std::map<std::string, std::string> QueryMap(const std::string& text) {
    std::map<std::string, std::string> query;
    std::istringstream pairs(text);
    for (std::string pair; std::getline(pairs, pair, '&');) {
        const auto equals = pair.find('=');
        query[pair.substr(0, equals)] = equals == std::string::npos ? "" : pair.substr(equals + 1);
    }
    return query;
}

// A device stand-in answering {"code":0} everywhere, with fixed request ids.
class GalleryTest : public testing::Test {
protected:
    GalleryTest() {
        HttpReqZEQ::reqDeviceId = "dev-1";
        HttpReqZEQ::reqUserId = "user-1";
        server.SetDefault(testsupport::Reply::Json(R"({"code":0})"));
    }

    void Answer(const std::string& path, const std::string& reply) {
        server.Script("/gallery/" + path, {testsupport::Reply::Json(reply)});
    }

    testsupport::TestServer server;
    testsupport::DeviceHost host{server.BaseUrl()};
    testsupport::LogCapture log;
};

} // namespace gallerytest
