#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>

namespace zeqemu {

struct FaultOptions {
    std::chrono::milliseconds latency{0}; // before every reply
    int errorPercent = 0;                 // share of requests answered 500
    int dropPercent = 0;                  // share of connections closed mid-reply
    std::size_t slowChunkBytes = 0;       // 0: bodies go out at once
    std::chrono::milliseconds slowInterval{0};
    std::uint64_t seed = 0; // 0: a random seed; any other value repeats the same faults
};

// Decides, request by request, which injected fault (if any) a request gets.
// Faults strike before authentication and routing, so a faulted request never
// changes anything on the device.
class FaultInjector {
public:
    enum class Action { None, Fail, Drop };

    explicit FaultInjector(const FaultOptions& options);

    Action Pick();
    const FaultOptions& Options() const { return m_options; }

private:
    FaultOptions m_options;
    std::mutex m_mutex;
    std::mt19937_64 m_random;
};

} // namespace zeqemu
