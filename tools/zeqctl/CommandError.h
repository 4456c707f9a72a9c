#pragma once

#include <stdexcept>
#include <string>

namespace zeqctl {

// The process exit codes scripts rely on.
enum class ExitCode : int {
    Ok = 0,
    Device = 1,     // the device refused, a task failed, or a local file was unusable
    Usage = 2,      // the command line is wrong
    Connection = 3, // no device reached: refused, TLS failure, time-out
    Stalled = 4,    // the device stopped answering for --timeout
};

// Ends a command with a message a person can act on; main prints it and
// exits with its code.
class CommandError : public std::runtime_error {
public:
    CommandError(ExitCode code, const std::string& message, bool transient = false)
        : std::runtime_error(message), m_code(code), m_transient(transient) {}

    ExitCode Code() const { return m_code; }
    // Lost on the way (a reply cut off, a refused connection): asking the
    // device again may well succeed.
    bool Transient() const { return m_transient; }

    static CommandError Usage(const std::string& message) {
        return CommandError(ExitCode::Usage, message);
    }
    static CommandError Device(const std::string& message) {
        return CommandError(ExitCode::Device, message);
    }
    static CommandError LocalFile(const std::string& message) {
        return CommandError(ExitCode::Device, message);
    }

private:
    ExitCode m_code;
    bool m_transient;
};

} // namespace zeqctl
