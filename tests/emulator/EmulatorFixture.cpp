#include "EmulatorFixture.h"

#include <cstdlib>
#include <stdexcept>

namespace emutest {

zeqemu::EmulatorOptions TestOptions(const std::filesystem::path& dataDir, bool seed) {
    zeqemu::EmulatorOptions options;
    options.dataDir = dataDir;
    options.cookieId = "test-cookie";
    options.token = "test-token";
    options.seedDemo = seed;
    return options;
}

std::vector<std::string> Names(const Answer& listing) {
    std::vector<std::string> names;
    for (const auto& entry : listing.json["data"]["files"]) {
        names.push_back(entry["name"].asString());
    }
    return names;
}

Json::Value AlbumMembers(const std::vector<std::int64_t>& ids) {
    Json::Value list(Json::arrayValue);
    for (const auto id : ids) {
        Json::Value item;
        item["fileId"] = static_cast<Json::Int64>(id);
        item["name"] = std::string("f").append(std::to_string(id));
        list.append(item);
    }
    return list;
}

Json::Value EntryNamed(const Answer& listing, const std::string& name) {
    for (const auto& entry : listing.json["data"]["files"]) {
        if (entry["name"].asString() == name) {
            return entry;
        }
    }
    return Json::Value();
}

void EmulatorTest::Start(zeqemu::EmulatorOptions options) {
    m_options = options;
    m_client.reset();
    m_emulator = std::make_unique<zeqemu::Emulator>(std::move(options));
    m_client = std::make_unique<EmulatorClient>(*m_emulator);
}

void EmulatorTest::Restart() {
    m_client.reset();
    m_emulator.reset();
    Start(m_options);
}

bool EmulatorTest::Settled(std::int64_t taskId) const {
    return m_emulator->WaitForTask(taskId, zeqemu::Emulator::TaskWait::Settled, kTaskBound);
}

} // namespace emutest
