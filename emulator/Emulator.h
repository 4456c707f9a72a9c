#pragma once

#include "emulator/Capabilities.h"
#include "emulator/EmulatorOptions.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace zeqemu {

// A small working storage device on 127.0.0.1 over real HTTPS: the REST API
// the client library speaks, with its state in a data directory. The
// constructor starts it (ready when it returns, or throws std::runtime_error);
// the destructor stops the server and the task workers and saves everything.
//
//   zeqemu::EmulatorOptions options;
//   options.dataDir = "/tmp/device";
//   zeqemu::Emulator device(options);
//   // point the client at device.BaseUrl(), device.CookieId(), device.Token()
class Emulator {
public:
    enum class TaskWait { Running, Settled };

    explicit Emulator(EmulatorOptions options);
    ~Emulator();
    Emulator(const Emulator&) = delete;
    Emulator& operator=(const Emulator&) = delete;

    int Port() const;
    std::string BaseUrl() const; // "https://127.0.0.1:PORT/"
    const std::string& CookieId() const;
    const std::string& Token() const;
    const std::filesystem::path& DataDir() const;

    const Capabilities& Caps() const;
    // The answer of the client's capability callback getZeqDevCap(category, cap).
    int DevCap(int category, int capability) const;

    // Waits for a device task to run or to end (done, failed, cancelled);
    // false when the bound ran out or there is no such task.
    bool WaitForTask(std::int64_t taskId, TaskWait what, std::chrono::milliseconds bound) const;
    // Records a disk slot event (DeviceState event types) for "devmanage/diskChange".
    void SimulateDiskEvent(int slot, int eventType);

    // Stops serving; idempotent, also done by the destructor.
    void Stop();

    // $XDG_DATA_HOME/zeq-emulator, else ~/.local/share/zeq-emulator.
    static std::filesystem::path DefaultDataDir();
    // The development CA of this build (what a client puts in config/ca.pem)
    // and the server certificate and key it signed.
    static std::string DevelopmentCaFile();
    static std::string DevelopmentCertFile();
    static std::string DevelopmentKeyFile();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace zeqemu
