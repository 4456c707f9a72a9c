#pragma once

#include "emulator/Emulator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace e2e {

// Generous: only a wedged machine reaches it.
inline constexpr std::chrono::seconds kTaskBound{60};

// Plays the host application: the library's connection, capability and TLS
// callbacks answer for whichever emulator is attached, so a restarted device
// (new port) is picked up without registering again.
class LibraryHost {
public:
    LibraryHost();
    ~LibraryHost();
    LibraryHost(const LibraryHost&) = delete;
    LibraryHost& operator=(const LibraryHost&) = delete;

    void Attach(const zeqemu::Emulator* device);
    // Replaces the token the library sends; nullopt sends the device's own.
    void ForgeToken(std::optional<std::string> token);
    // Connection-info lookups so far: the library asks once per request.
    int ConnInfoCalls() const;

private:
    static void ConnInfo(std::string& baseUrl, std::string& cookieId, std::string& token);
    static int DevCap(int category, int capability);
    static bool FarDataService() { return false; }
    static int AcceptTls(void*, void*, void*) { return 0; }

    struct State {
        std::mutex mutex;
        const zeqemu::Emulator* device = nullptr;
        std::optional<std::string> token;
        int connInfoCalls = 0;
    };
    static State& Shared();
};

// One emulator on a fresh data directory per test, driven only through the
// library's services.
class E2eTest : public ::testing::Test {
protected:
    E2eTest();
    ~E2eTest() override;

    // Every capability on unless adjust says otherwise.
    void Start(const std::function<void(zeqemu::EmulatorOptions&)>& adjust = nullptr);
    // Stops the device and starts it again on the same data directory.
    void Restart();
    // Waits for a device task to end; the state is then asserted through the library.
    bool Settled(std::int64_t taskId) const;

    zeqemu::Emulator& Device() { return *m_device; }
    const std::filesystem::path& AppDataDir() const { return m_appData; }

    LibraryHost m_host;

private:
    testsupport::TempDir m_temp;
    std::filesystem::path m_dir;
    std::filesystem::path m_appData;
    zeqemu::EmulatorOptions m_options;
    std::unique_ptr<zeqemu::Emulator> m_device;
};

} // namespace e2e
