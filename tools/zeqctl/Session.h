#pragma once

#include "CommandError.h"
#include "Connection.h"
#include "Diagnostics.h"
#include "Output.h"

#include "core/HttpPostRspCode.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zeqctl {

struct GlobalOptions {
    ConnectionOptions connection;
    bool json = false;
    bool verbose = false;
};

// What every command works with: the output, the device (connected on first
// use, so --help and usage errors start nothing) and the one place that turns
// a failed library call into an error a person can act on.
class Session {
public:
    explicit Session(const GlobalOptions& options);
    ~Session();

    Output& Out() { return m_out; }
    Connection& Device();
    // Stops the device connection now (with the embedded emulator: after its
    // started tasks end) instead of at the end of the session.
    void Disconnect() { m_connection.reset(); }
    // The options the device will be connected with; only before Device().
    ConnectionOptions& PendingConnection();
    bool Verbose() const { return m_options.verbose; }
    const GlobalOptions& Options() const { return m_options; }

    // Runs one library operation; on false, fails with what went wrong.
    void Require(const std::string& what, const std::function<bool()>& operation);
    // The same for operations that hand back the device's code and des.
    void RequireCoded(const std::string& what,
                      const std::function<bool(HttpPostRspCode*)>& operation);
    // Runs a step that only reads again, a few times, while it fails on the
    // way: asking twice changes nothing on the device.
    void Retrying(const std::function<void()>& step);
    // Require and RequireCoded for operations that only read.
    void Read(const std::string& what, const std::function<bool()>& operation);
    void ReadCoded(const std::string& what, const std::function<bool(HttpPostRspCode*)>& operation);
    // Forget earlier clues before an operation whose result is checked by hand.
    void Begin();

    // For operations whose result does not tell a failure apart: fails when
    // the library's log showed one.
    void FailIfLogged(const std::string& what);

    // Explains the last failure: transport and TLS (exit 3) before the
    // device's own code and text (exit 1).
    [[noreturn]] void Fail(const std::string& what, std::int64_t deviceCode = 0,
                           const std::string& deviceText = "");

    // For transfers through the engine, which report libcurl's code directly
    // instead of through the library's log.
    [[noreturn]] void FailTransport(const std::string& what, int curlCode);
    // The device sent nothing for --timeout.
    [[noreturn]] void FailStalled(const std::string& what);
    std::chrono::seconds Timeout() const { return m_options.connection.timeout; }

private:
    CommandError TransportError(const std::string& what, int curlCode) const;
    CommandError StalledError(const std::string& what) const;
    std::string DeviceUrl() const;

    GlobalOptions m_options;
    Output m_out;
    Diagnostics m_diagnostics;
    std::unique_ptr<Connection> m_connection;
};

} // namespace zeqctl
