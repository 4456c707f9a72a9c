#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace zeqemu {
class Emulator;
}

namespace zeqctl {

struct ConnectionOptions {
    std::string deviceUrl; // empty: the embedded emulator
    std::string cookieId;
    std::string token;
    std::string pin;  // "sha256:HEX" or empty
    std::string caps; // capabilities of a real device, "6,7,8,10"
    std::string userId;
    std::filesystem::path dataDir; // the embedded emulator's; empty: the default
    std::chrono::milliseconds stepDelay{0};
    // How long a device may send nothing before a command gives up on it.
    std::chrono::seconds timeout{30};
};

// The device the tool talks to, wired into the library: the host callbacks of
// the device request (address, credentials, capabilities), the TLS hook with
// the optional pin, and the global parameters. Without a device URL it starts
// the embedded emulator on a free loopback port over a persistent data folder.
// One per process: the library's callbacks are plain function pointers.
class Connection {
public:
    explicit Connection(ConnectionOptions options);
    // With the embedded emulator, waits for the tasks this process started:
    // the emulator stops with the process, and a task it cut short would come
    // back failed ("interrupted") in the next command.
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool Embedded() const { return m_emulator != nullptr; }
    const std::string& BaseUrl() const { return m_baseUrl; }
    // For the tool's own transfers; never for messages.
    const std::string& CookieId() const { return m_cookieId; }
    const std::string& Token() const { return m_token; }
    // For messages: the device URL, and the data folder of an embedded one.
    std::string Describe() const;
    void NoteStartedTask(std::int64_t taskId);

    // The CA file the device request verifies against: config/ca.pem beside
    // the executable.
    static std::filesystem::path CaFile();
    static std::filesystem::path DefaultDataHome();

private:
    static void ConnInfo(std::string& baseUrl, std::string& cookieId, std::string& token);
    static int DevCap(int category, int capability);
    static bool FarDataService();

    std::unique_ptr<zeqemu::Emulator> m_emulator;
    std::string m_baseUrl;
    std::string m_cookieId;
    std::string m_token;
    std::set<int> m_caps;
    std::filesystem::path m_dataDir;
    std::vector<std::int64_t> m_startedTasks;
};

} // namespace zeqctl
