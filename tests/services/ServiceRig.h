#pragma once

#include "core/HttpReqZEQ.h"
#include "support/DeviceHost.h"
#include "support/LogCapture.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace servicetest {

constexpr int kFileCap = 1;
constexpr int kTaskCenterCap = 2;
using Caps = std::vector<std::pair<int, int>>; // (category, capability) answered 1

// What one operation should have sent. An empty destFile means no
// "Dest-File" header; the server records that header percent-decoded.
struct ExpectedRequest {
    std::string method;
    std::string path;
    std::string query;
    std::string body;
    std::string destFile;
};

inline ExpectedRequest Get(std::string path, std::string query, std::string destFile = {}) {
    return {"GET", std::move(path), std::move(query), "", std::move(destFile)};
}
inline ExpectedRequest Post(std::string path, std::string query, std::string body) {
    return {"POST", std::move(path), std::move(query), std::move(body), ""};
}

// The two lines an operation logs when its request cannot be prepared or
// cannot be delivered.
struct Lines {
    std::string initFailed;
    std::string doFailed;
};
inline Lines Phrase(const std::string& phrase) {
    return {"http request init failed for " + phrase, "http request do failed for " + phrase};
}

// One row of an operation table: the request it must send and, when
// function is set, the lines it logs under that "Class::Operation" name.
struct Row {
    const char* name;
    Caps caps;
    std::function<bool()> call;
    ExpectedRequest expected;
    std::string function{};
    Lines lines{};
};
inline void PrintTo(const Row& row, std::ostream* os) {
    *os << row.name;
}
inline std::string RowName(const testing::TestParamInfo<Row>& info) {
    return info.param.name;
}
inline std::vector<Row> WithLines(const std::vector<Row>& rows) {
    std::vector<Row> out;
    for (const Row& row : rows) {
        if (!row.function.empty()) {
            out.push_back(row);
        }
    }
    return out;
}

// A device stand-in answering {"code":0} everywhere, with the host's
// callbacks pointing at it and every log line captured.
struct ServiceRig {
    static constexpr const char* kDeviceId = "dev-1";

    ServiceRig() {
        HttpReqZEQ::reqDeviceId = kDeviceId;
        server.SetDefault(testsupport::Reply::Json(R"({"code":0})"));
    }

    void EnableCaps(const Caps& caps) {
        for (const auto& [category, cap] : caps) {
            host.SetCapability(category, cap, 1);
        }
    }
    // The host answers a base URL too short for a request to be prepared.
    void BreakPreparation() { host.SetBaseUrl("https://"); }
    // Nothing listens at the device's address.
    void BreakTransfer() {
        host.SetBaseUrl("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    }
    void Answer(const std::string& path, const std::string& json) {
        server.Script(path, {testsupport::Reply::Json(json)});
    }
    // "function: message" of the lines logged by one class, leaving out the
    // device request's own lines.
    std::vector<std::string> LinesOf(const std::string& className) const {
        std::vector<std::string> lines;
        for (const auto& record : log.Records()) {
            if (record.function.starts_with(className + "::")) {
                lines.push_back(record.function + ": " + record.message);
            }
        }
        return lines;
    }

    testsupport::TestServer server;
    testsupport::DeviceHost host{server.BaseUrl()};
    testsupport::LogCapture log;
};

// Shared by the operation tables of every service (RequestTable.cpp).
class RequestTable : public testing::TestWithParam<Row> {
protected:
    void SetUp() override { rig.EnableCaps(GetParam().caps); }
    ServiceRig rig;
};
class RequestFailureTable : public RequestTable {};

} // namespace servicetest
