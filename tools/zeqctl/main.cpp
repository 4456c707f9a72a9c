#include "CommandError.h"
#include "Commands.h"
#include "Session.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

namespace {

constexpr const char* kAbout =
    "zeqctl: the home storage device from the command line, through HttpLib.\n"
    "Without --device every command runs against an embedded emulated device whose\n"
    "state persists between commands.";

} // namespace

int main(int argc, char** argv) {
    using namespace zeqctl;
    CLI::App app(kAbout, "zeqctl");
    app.require_subcommand(1);
    // Global options may also follow the command.
    app.fallthrough();

    GlobalOptions options;
    std::string dataDir;
    std::int64_t stepDelayMs = 0;
    int timeoutSeconds = static_cast<int>(options.connection.timeout.count());
    auto& c = options.connection;
    c.caps = "6,7,8,10"; // the newest device
    app.add_option("--device", c.deviceUrl, "Device base URL, https://HOST:PORT/")
        ->envname("ZEQ_DEVICE");
    // Anyone on the machine can read a process's arguments.
    app.add_option("--cookie", c.cookieId,
                   "Session cookie id; visible to other users in ps, so prefer ZEQ_COOKIE")
        ->envname("ZEQ_COOKIE");
    app.add_option("--token", c.token,
                   "Session token; visible to other users in ps, so prefer ZEQ_TOKEN")
        ->envname("ZEQ_TOKEN");
    app.add_option("--pin", c.pin, "Require this certificate fingerprint, sha256:HEX")
        ->envname("ZEQ_PIN");
    app.add_option("--caps", c.caps, "Capabilities of the device: some of 6,7,8,10, or none")
        ->envname("ZEQ_CAPS")
        ->capture_default_str();
    app.add_option("--timeout", timeoutSeconds,
                   "Seconds a device may send nothing before a command gives up on it (exit 4)")
        ->envname("ZEQ_TIMEOUT")
        ->check(CLI::Range(1, 3600))
        ->capture_default_str();
    app.add_option("--user-id", c.userId, "Your user id on the device")->envname("ZEQ_USER_ID");
    app.add_option("--data-dir", dataDir, "Data folder of the embedded emulator");
    app.add_option("--step-delay", stepDelayMs,
                   "Embedded emulator: milliseconds per task step, to watch progress")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--json", options.json, "One JSON document per command, for scripts");
    app.add_flag("-v,--verbose", options.verbose, "Show the library's log on standard error");

    Action chosen;
    AddDeviceCommands(app, chosen);
    AddAlbumCommands(app, chosen);
    AddPhotoCommands(app, chosen);
    AddFileCommands(app, chosen);
    AddTaskCommands(app, chosen);
    AddTransferCommands(app, chosen);
    AddDemoCommand(app, chosen);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : static_cast<int>(ExitCode::Usage);
    }
    c.dataDir = dataDir;
    c.stepDelay = std::chrono::milliseconds(stepDelayMs);
    c.timeout = std::chrono::seconds(timeoutSeconds);

    try {
        Session session(options);
        chosen(session);
    } catch (const CommandError& e) {
        std::cout.flush();
        std::cerr << "zeqctl: " << e.what() << '\n';
        return static_cast<int>(e.Code());
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "zeqctl: " << e.what() << '\n';
        return static_cast<int>(ExitCode::Device);
    }
    return static_cast<int>(ExitCode::Ok);
}
