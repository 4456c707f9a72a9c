#pragma once

#include "emulator/StateFile.h"

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace zeqemu {

// The device itself: identity, users, disk slots with their change events and
// the copyright page. Seeded on first start; the events can be driven by the
// embedding host (SimulateDiskEvent) to exercise the client's reaction.
class DeviceState {
public:
    static constexpr int kEventPresent = 0;
    static constexpr int kEventInserted = 1;
    static constexpr int kEventRemoved = 2;

    struct User {
        std::int64_t uid = 0;
        std::int64_t userId = 0;
        int state = 1;
        int level = 0; // 0 administrator, 1 member
        std::string name;
        std::string nick;
        std::string avatar;
    };

    explicit DeviceState(const std::filesystem::path& dataDir);

    // True on the first start with this data directory.
    bool IsNew() const { return m_isNew; }
    // Writes identity, users, disks and the copyright page of a new device.
    void Seed();

    Json::Value Identity() const;
    Json::Value Users() const;
    Json::Value DiskEvents() const;
    const User& Owner() const;
    std::filesystem::path CopyrightPage() const { return m_copyright; }

    void SimulateDiskEvent(int slot, int eventType);

private:
    struct Disk {
        int slot = 0;
        std::string sn;
        std::int64_t totalGb = 0;
        std::int64_t usedGb = 0;
        bool present = true;
    };
    struct Event {
        int slot = 0;
        int newSlot = 0;
        int eventType = 0;
    };

    void SaveLocked();
    void Load();

    StateFile m_state;
    std::filesystem::path m_copyright;
    bool m_isNew = false;

    mutable std::mutex m_mutex;
    std::string m_serial, m_mac, m_friendlyName, m_deviceName;
    std::vector<User> m_users;
    std::vector<Disk> m_disks;
    std::vector<Event> m_events;
};

} // namespace zeqemu
