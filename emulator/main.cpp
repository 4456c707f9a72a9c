// zeq-emulator: the device emulator as a program of its own.

#include "emulator/CrashPoint.h"
#include "emulator/Emulator.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <pthread.h>
#include <unistd.h>

namespace {

// The certificate beside the executable (config/), else the one of the build.
std::string BesideExecutable(const std::string& name, const std::string& fallback) {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const auto candidate = exe.parent_path() / "config" / name;
        if (std::filesystem::exists(candidate, ec)) {
            return candidate.string();
        }
    }
    return fallback;
}

} // namespace

int main(int argc, char** argv) {
    zeqemu::EmulatorOptions options;
    std::string dataDir;
    std::string caps = options.capabilities.ToString();
    int latencyMs = 0;
    std::size_t slowChunk = 0;
    int slowIntervalMs = 50;
    int stepDelayMs = 0;
    bool noSeed = false;
    std::string crashAt;

    CLI::App app{"Home storage device emulator: the device's REST API over HTTPS on 127.0.0.1,\n"
                 "with its state (files, gallery, albums, tasks) in a data directory.\n"
                 "Prints the port, cookie id and token a client must use, then serves until\n"
                 "interrupted (Ctrl-C or SIGTERM)."};
    app.add_option("-p,--port", options.port, "TCP port on 127.0.0.1; 0 picks a free one")
        ->check(CLI::Range(0, 65535))
        ->capture_default_str();
    app.add_option("-d,--data-dir", dataDir,
                   "State folder (default: $XDG_DATA_HOME/zeq-emulator or "
                   "~/.local/share/zeq-emulator); a new one is seeded with demo content");
    app.add_option("--cookie-id", options.cookieId,
                   "Session cookie id clients send as \"Cookie: ID=...\" (default: random)");
    app.add_option("--token", options.token,
                   "Token clients send in the \"Token\" header (default: random)");
    app.add_option("--capabilities", caps,
                   "Offered capabilities, comma-separated from 6,7,8,10, or \"none\"")
        ->capture_default_str();
    app.add_option("--cert", options.certFile,
                   "Server certificate (PEM); default: config/emulator-server.pem beside the "
                   "program, signed by the development CA config/ca.pem");
    app.add_option("--key", options.keyFile, "Private key of --cert (PEM)");
    app.add_option("--workers", options.taskWorkers, "Task worker threads")
        ->check(CLI::Range(1, 64))
        ->capture_default_str();
    app.add_option("--step-delay-ms", stepDelayMs,
                   "Pause before each task step, to watch progress move (demonstrations)")
        ->check(CLI::Range(0, 600000))
        ->capture_default_str();
    app.add_option("--max-body", options.maxBodyBytes, "Largest request body accepted, in bytes")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 30))
        ->capture_default_str();
    app.add_option("--page-size", options.galleryPageSize,
                   "Gallery files per page of the full photo table")
        ->check(CLI::Range(std::int64_t{1}, std::int64_t{100000}))
        ->capture_default_str();
    app.add_flag("--no-seed", noSeed,
                 "Start a new data directory empty instead of with demo content");
    app.add_flag("--log-requests", options.logRequests,
                 "Log method, path and status of every request to stderr (never headers)");
    auto* faults = app.add_option_group("Fault injection", "For reliability testing of clients");
    faults->add_option("--latency-ms", latencyMs, "Added delay before every reply")
        ->check(CLI::Range(0, 600000));
    faults
        ->add_option("--error-percent", options.faults.errorPercent,
                     "Share of requests answered with HTTP 500 (nothing changes)")
        ->check(CLI::Range(0, 100));
    faults
        ->add_option("--drop-percent", options.faults.dropPercent,
                     "Share of requests whose connection is closed mid-reply (nothing changes)")
        ->check(CLI::Range(0, 100));
    faults->add_option("--slow-chunk", slowChunk,
                       "Send reply bodies in chunks of this many bytes (0: at once)");
    faults->add_option("--slow-interval-ms", slowIntervalMs, "Pause between slow chunks")
        ->check(CLI::Range(0, 60000))
        ->capture_default_str();
    faults->add_option("--fault-seed", options.faults.seed,
                       "Seed of the fault choice; the same seed repeats the same faults");

    faults
        ->add_option("--crash-at", crashAt,
                     "Kill the program (SIGKILL) just before or after the step that makes a "
                     "copy, move, deletion, recycle, restore or purge happen, for crash tests")
        ->check(CLI::IsMember(zeqemu::crashpoint::Names()));

    CLI11_PARSE(app, argc, argv);

    try {
        options.capabilities = zeqemu::Capabilities::Parse(caps);
        options.dataDir = dataDir;
        options.seedDemo = !noSeed;
        options.stepDelay = std::chrono::milliseconds(stepDelayMs);
        options.faults.latency = std::chrono::milliseconds(latencyMs);
        options.faults.slowChunkBytes = slowChunk;
        options.faults.slowInterval = std::chrono::milliseconds(slowIntervalMs);
        if (!crashAt.empty()) {
            zeqemu::crashpoint::Arm(crashAt);
        }
        if (options.certFile.empty() != options.keyFile.empty()) {
            throw std::invalid_argument("--cert and --key go together");
        }
        if (options.certFile.empty()) {
            options.certFile =
                BesideExecutable("emulator-server.pem", zeqemu::Emulator::DevelopmentCertFile());
            options.keyFile =
                BesideExecutable("emulator-server.key", zeqemu::Emulator::DevelopmentKeyFile());
        }

        // Signals are taken by sigwait on this thread only; every thread the
        // emulator starts inherits the blocked mask.
        sigset_t signals;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);

        zeqemu::Emulator emulator(options);
        // The one line that shows the credentials: the user needs them.
        std::cout << "zeq-emulator listening on " << emulator.BaseUrl() << "\n"
                  << "  port:      " << emulator.Port() << "\n"
                  << "  cookie id: " << emulator.CookieId() << "\n"
                  << "  token:     " << emulator.Token() << "\n"
                  << "  data dir:  " << emulator.DataDir().string() << "\n"
                  << "  caps:      " << emulator.Caps().ToString() << std::endl;
        int received = 0;
        sigwait(&signals, &received);
        std::cout << "zeq-emulator stopping" << std::endl;
    } catch (const std::exception& e) {
        std::cerr << "zeq-emulator: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
