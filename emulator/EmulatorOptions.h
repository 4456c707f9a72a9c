#pragma once

#include "emulator/Capabilities.h"
#include "emulator/FaultInjector.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace zeqemu {

struct EmulatorOptions {
    int port = 0;                  // 0: a free port, see Emulator::Port()
    std::filesystem::path dataDir; // empty: Emulator::DefaultDataDir()
    std::string cookieId;          // empty: random
    std::string token;             // empty: random
    Capabilities capabilities;     // default: 6, 7, 8 and 10
    std::string certFile;          // empty: the development certificate of the build
    std::string keyFile;
    int taskWorkers = 2;
    std::chrono::milliseconds stepDelay{0}; // pacing of task steps, for demonstrations
    std::size_t maxBodyBytes = 1024 * 1024;
    // A request's headers (and a new connection's handshake) must arrive
    // whole within this; an idle kept-alive connection is closed after it.
    std::chrono::milliseconds headerTimeout{10000};
    std::int64_t galleryPageSize = 200; // files per page of the full photo table
    bool seedDemo = true;               // seed a new data directory with demo content
    bool logRequests = false;           // one line per request (method, path, status)
    FaultOptions faults;
};

} // namespace zeqemu
