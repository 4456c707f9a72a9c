// What an engine costs while it does nothing: heap held by pooled connections
// and wake-ups of its loop thread.
#include "EngineBench.h"

#include "curlppx/CurlGlobal.h"

#include <malloc.h>
#include <unistd.h>

#include <fstream>
#include <future>
#include <optional>
#include <thread>

namespace enginebench {

namespace {

// mallinfo2 sums every arena, so the loop thread's allocations count too;
// blocks too large for an arena are mapped on their own.
size_t HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

std::optional<pid_t> LoopThreadId() {
    auto tid = std::make_shared<std::promise<pid_t>>();
    std::future<pid_t> answer = tid->get_future();
    curlppx::CurlGlobal::RunAtUvThread([tid] { tid->set_value(gettid()); });
    if (answer.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
        return std::nullopt;
    }
    return answer.get();
}

// Voluntary and involuntary switches together: a wake-up is one either way.
long ContextSwitches(pid_t tid) {
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    long total = 0;
    for (std::string line; std::getline(status, line);) {
        for (const char* key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            if (line.rfind(key, 0) == 0) {
                total += std::stol(line.substr(std::char_traits<char>::length(key)));
            }
        }
    }
    return total;
}

} // namespace

double IdlePooledConnectionBytes(const Target& target, size_t count) {
    auto pool = FreshPool();
    // The pool, its share and one idle connection exist before the count
    // starts, so that only what each further connection adds is measured.
    size_t failures = EngineConns(pool, target, kSmallPath, 1, Warm::OneByOne).WarmFailures();
    const size_t before = HeapInUse();
    // One after another, all over the one keep-alive connection the pool
    // holds already: how many TLS connections libcurl keeps open depends on
    // timing, and each would weigh more than the engine's own state.
    failures += EngineConns(pool, target, kSmallPath, count, Warm::OneByOne).WarmFailures();
    const size_t after = HeapInUse();
    if (failures != 0) {
        return -1;
    }
    return (static_cast<double>(after) - static_cast<double>(before)) /
           static_cast<double>(count - 1);
}

double IdleLoopSwitchesPerSecond(std::chrono::seconds idle) {
    const std::optional<pid_t> tid = LoopThreadId();
    if (!tid) {
        return -1;
    }
    const long before = ContextSwitches(*tid);
    std::this_thread::sleep_for(idle);
    const long after = ContextSwitches(*tid);
    return static_cast<double>(after - before) / static_cast<double>(idle.count());
}

} // namespace enginebench
