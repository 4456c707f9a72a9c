#include "ToolFixture.h"

namespace zeqctltest {

void ToolTest::StartDevice(zeqemu::EmulatorOptions options) {
    m_device.reset();
    options.port = 0;
    if (options.dataDir.empty()) {
        options.dataDir = m_deviceDir.Path();
    }
    options.cookieId = "tool-test-cookie";
    options.token = "tool-test-token";
    m_device = std::make_unique<zeqemu::Emulator>(options);
}

std::vector<std::string> ToolTest::Target() const {
    return {"--device",           m_device->BaseUrl(), "--cookie",
            m_device->CookieId(), "--token",           m_device->Token()};
}

Outcome ToolTest::Device(std::vector<std::string> args) const {
    auto all = Target();
    all.insert(all.end(), args.begin(), args.end());
    return m_zeqctl(all);
}

Json::Value ToolTest::Json(std::vector<std::string> args) const {
    args.insert(args.begin(), "--json");
    const auto run = Device(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    const auto doc = run.Json();
    EXPECT_TRUE(doc.isObject()) << "stdout is not one JSON document:\n" << run.out;
    return doc;
}

std::vector<std::string> EntryNames(const Json::Value& listing) {
    std::vector<std::string> names;
    for (const auto& entry : listing["entries"]) {
        names.push_back(entry["name"].asString());
    }
    return names;
}

Json::Value FindBy(const Json::Value& array, const std::string& key, const Json::Value& value) {
    for (const auto& element : array) {
        if (element[key] == value) {
            return element;
        }
    }
    return Json::Value();
}

} // namespace zeqctltest
