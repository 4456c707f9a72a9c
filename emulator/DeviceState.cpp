#include "emulator/DeviceState.h"

#include "emulator/ApiError.h"
#include "emulator/Credentials.h"
#include "emulator/ErrorCodes.h"

#include <algorithm>

namespace zeqemu {

namespace {

// Only the most recent events matter to a client that polls for changes.
constexpr std::size_t kMaxEvents = 64;

const char* kCopyright = R"(<!DOCTYPE html>
<html lang="en">
<head><meta charset="utf-8"><title>Copyright notices</title></head>
<body>
<h1>Home storage device</h1>
<p>Device emulator for development and testing. Not a real device.</p>
<h2>Open source components</h2>
<ul>
<li>cpp-httplib (MIT licence)</li>
<li>OpenSSL (Apache licence 2.0)</li>
<li>JsonCpp (MIT licence)</li>
<li>CLI11 (3-clause BSD licence)</li>
</ul>
</body>
</html>
)";

} // namespace

DeviceState::DeviceState(const std::filesystem::path& dataDir)
    : m_state(dataDir / "state" / "device.json"), m_copyright(dataDir / "html" / "copyright.html") {
    Load();
}

void DeviceState::Seed() {
    std::lock_guard lock(m_mutex);
    const auto serial = Credentials::RandomHex(6);
    m_serial = "ZEQ" + serial;
    m_mac =
        "02:5a:45:" + serial.substr(0, 2) + ":" + serial.substr(2, 2) + ":" + serial.substr(4, 2);
    m_friendlyName = "Home storage (emulated)";
    m_deviceName = "zeq-emulator";
    m_users = {
        {1000, 10001, 1, 0, "admin", "Alex", "/avatar/1000.png"},
        {1001, 10002, 1, 1, "sam", "Sam", "/avatar/1001.png"},
        {1002, 10003, 0, 1, "guest", "Guest", ""},
    };
    m_disks = {{1, "WD-" + serial + "A", 3726, 412, true},
               {2, "WD-" + serial + "B", 3726, 412, true}};
    m_events.clear();
    for (const auto& disk : m_disks) {
        m_events.push_back({disk.slot, disk.slot, kEventPresent});
    }
    StateFile::WriteAtomically(m_copyright, kCopyright);
    SaveLocked();
    m_isNew = false;
}

Json::Value DeviceState::Identity() const {
    std::lock_guard lock(m_mutex);
    Json::Value body;
    body["SerialNumber"] = m_serial;
    body["MacAddress"] = m_mac;
    body["FriendlyName"] = m_friendlyName;
    body["DeviceName"] = m_deviceName;
    return body;
}

Json::Value DeviceState::Users() const {
    std::lock_guard lock(m_mutex);
    Json::Value list(Json::arrayValue);
    for (const auto& user : m_users) {
        Json::Value v;
        v["uid"] = static_cast<Json::Int64>(user.uid);
        v["userId"] = static_cast<Json::Int64>(user.userId);
        v["state"] = user.state;
        v["level"] = user.level;
        v["name"] = user.name;
        v["nick"] = user.nick;
        v["avatar"] = user.avatar;
        list.append(v);
    }
    return list;
}

Json::Value DeviceState::DiskEvents() const {
    std::lock_guard lock(m_mutex);
    Json::Value list(Json::arrayValue);
    for (const auto& event : m_events) {
        const auto disk = std::find_if(m_disks.begin(), m_disks.end(),
                                       [&](const Disk& d) { return d.slot == event.slot; });
        Json::Value v;
        v["slot"] = event.slot;
        v["newSlot"] = event.newSlot;
        v["sn"] = disk == m_disks.end() ? "" : disk->sn;
        v["isExist"] = disk != m_disks.end() && disk->present ? 1 : 0;
        v["eventType"] = event.eventType;
        const auto used = disk == m_disks.end() ? 0 : disk->usedGb;
        const auto total = disk == m_disks.end() ? 0 : disk->totalGb;
        v["usedSize"] = static_cast<Json::Int>(used);
        v["totalSize"] = static_cast<Json::Int>(total);
        // 0 normal, 1 above 80 %, 2 above 95 %.
        const auto percent = total > 0 ? used * 100 / total : 0;
        v["diskCapacityLevevl"] = percent > 95 ? 2 : percent > 80 ? 1 : 0;
        list.append(v);
    }
    return list;
}

const DeviceState::User& DeviceState::Owner() const {
    static const User kNobody{};
    std::lock_guard lock(m_mutex);
    return m_users.empty() ? kNobody : m_users.front();
}

void DeviceState::SimulateDiskEvent(int slot, int eventType) {
    std::lock_guard lock(m_mutex);
    auto disk =
        std::find_if(m_disks.begin(), m_disks.end(), [&](const Disk& d) { return d.slot == slot; });
    if (disk == m_disks.end()) {
        m_disks.push_back({slot, "WD-SLOT" + std::to_string(slot), 1863, 0, false});
        disk = m_disks.end() - 1;
    }
    disk->present = eventType != kEventRemoved;
    m_events.push_back({slot, slot, eventType});
    if (m_events.size() > kMaxEvents) {
        m_events.erase(m_events.begin());
    }
    SaveLocked();
}

void DeviceState::SaveLocked() {
    Json::Value doc(Json::objectValue);
    doc["serialNumber"] = m_serial;
    doc["macAddress"] = m_mac;
    doc["friendlyName"] = m_friendlyName;
    doc["deviceName"] = m_deviceName;
    doc["users"] = Json::Value(Json::arrayValue);
    for (const auto& user : m_users) {
        Json::Value v;
        v["uid"] = static_cast<Json::Int64>(user.uid);
        v["userId"] = static_cast<Json::Int64>(user.userId);
        v["state"] = user.state;
        v["level"] = user.level;
        v["name"] = user.name;
        v["nick"] = user.nick;
        v["avatar"] = user.avatar;
        doc["users"].append(v);
    }
    doc["disks"] = Json::Value(Json::arrayValue);
    for (const auto& disk : m_disks) {
        Json::Value v;
        v["slot"] = disk.slot;
        v["sn"] = disk.sn;
        v["totalGb"] = static_cast<Json::Int64>(disk.totalGb);
        v["usedGb"] = static_cast<Json::Int64>(disk.usedGb);
        v["present"] = disk.present;
        doc["disks"].append(v);
    }
    doc["events"] = Json::Value(Json::arrayValue);
    for (const auto& event : m_events) {
        Json::Value v;
        v["slot"] = event.slot;
        v["newSlot"] = event.newSlot;
        v["eventType"] = event.eventType;
        doc["events"].append(v);
    }
    m_state.Save(doc);
}

void DeviceState::Load() {
    const auto doc = m_state.Load();
    if (doc.isNull()) {
        m_isNew = true;
        return;
    }
    m_serial = doc["serialNumber"].asString();
    m_mac = doc["macAddress"].asString();
    m_friendlyName = doc["friendlyName"].asString();
    m_deviceName = doc["deviceName"].asString();
    for (const auto& v : doc["users"]) {
        m_users.push_back({v["uid"].asInt64(), v["userId"].asInt64(), v["state"].asInt(),
                           v["level"].asInt(), v["name"].asString(), v["nick"].asString(),
                           v["avatar"].asString()});
    }
    for (const auto& v : doc["disks"]) {
        m_disks.push_back({v["slot"].asInt(), v["sn"].asString(), v["totalGb"].asInt64(),
                           v["usedGb"].asInt64(), v["present"].asBool()});
    }
    for (const auto& v : doc["events"]) {
        m_events.push_back({v["slot"].asInt(), v["newSlot"].asInt(), v["eventType"].asInt()});
    }
}

} // namespace zeqemu
