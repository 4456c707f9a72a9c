// Small GETs kept `inflight` at a time over keep-alive connections, through
// the engine's two completion forms and through the plain multi loop that the
// engine must keep up with.
#include "EngineBench.h"

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <optional>

namespace enginebench {

namespace {

size_t Collect(char* data, size_t size, size_t count, void* body) {
    static_cast<std::string*>(body)->append(data, size * count);
    return size * count;
}

// An untimed run first, in the same steady state as the timed one: every
// side then has as many keep-alive connections open as it keeps requests in
// flight, and the timed run pays no handshake.
template <typename Run> RunResult WarmThenTime(size_t inflight, size_t total, Run run) {
    const RunResult warm = run(std::max<size_t>(8 * inflight, 100));
    RunResult timed = run(total);
    timed.failures += warm.failures;
    return timed;
}

// One driver thread keeps `inflight` futures outstanding, waits on the oldest
// and starts the next request on its connection: how a caller of the future
// form pipelines.
RunResult FutureRun(EngineConns& conns, size_t total) {
    struct Outstanding {
        size_t slot;
        Clock::time_point startedAt;
        std::future<CURLcode> result;
    };
    std::deque<Outstanding> outstanding;
    size_t started = 0;
    const auto start = [&](size_t slot) {
        ++started;
        const auto startedAt = Clock::now();
        outstanding.push_back({slot, startedAt, conns[slot].HttpGet()});
    };
    Timings timings(total);
    const auto begin = Clock::now();
    for (size_t slot = 0; slot < conns.Size() && started < total; ++slot) {
        start(slot);
    }
    while (!outstanding.empty()) {
        Outstanding oldest = std::move(outstanding.front());
        outstanding.pop_front();
        const CURLcode code = oldest.result.get();
        timings.Add(oldest.startedAt, Succeeded(conns[oldest.slot], code));
        if (started < total) {
            start(oldest.slot);
        }
    }
    return timings.Finish(begin);
}

// Each completion callback starts the next request of its connection, as a
// caller of the callback form chains requests. One lock per completion, and
// the driver is woken once, by the last one: what the callbacks cost beyond
// that would be this harness's, not the engine's.
RunResult CallbackRun(EngineConns& conns, size_t total) {
    std::vector<Clock::time_point> startedAt(conns.Size());
    Timings timings(total);
    std::mutex mutex;
    std::condition_variable finished;
    size_t started = 0;
    // Callbacks that have left the engine's code for good: only then may the
    // connections go back to the pool. The last one says so under the lock,
    // after which it touches nothing of this frame.
    std::atomic<size_t> exited{0};
    bool allExited = false;
    // Records the slot's completion, if any, and claims its next request.
    const auto step = [&](size_t slot, std::optional<bool> completedOk) {
        std::lock_guard lock(mutex);
        if (completedOk) {
            timings.Add(startedAt[slot], *completedOk);
        }
        if (started == total) {
            return false;
        }
        ++started;
        startedAt[slot] = Clock::now();
        return true;
    };
    std::function<void(size_t)> start;
    const auto onDone = [&](size_t slot, CURLcode code) {
        if (step(slot, Succeeded(conns[slot], code))) {
            start(slot);
        }
        if (exited.fetch_add(1) + 1 == total) {
            std::lock_guard lock(mutex);
            allExited = true;
            finished.notify_all();
        }
    };
    start = [&](size_t slot) {
        conns[slot].HttpGet([&onDone, slot](CURLcode code) { onDone(slot, code); });
    };
    const auto begin = Clock::now();
    for (size_t slot = 0; slot < conns.Size() && step(slot, std::nullopt); ++slot) {
        start(slot);
    }
    std::unique_lock lock(mutex);
    finished.wait(lock, [&] { return allExited; });
    return timings.Finish(begin);
}

} // namespace

RunResult PlainRequests(const Target& target, size_t inflight, size_t total) {
    struct Slot {
        CURL* easy = nullptr;
        std::string body;
        Headers headers;
        Clock::time_point startedAt;
    };
    CURLM* multi = curl_multi_init();
    std::vector<Slot> slots(inflight);
    for (Slot& slot : slots) {
        slot.easy = PlainEasy(target, kSmallPath, Collect, &slot.body, &slot.headers);
        curl_easy_setopt(slot.easy, CURLOPT_PRIVATE, &slot);
    }
    const RunResult result = WarmThenTime(inflight, total, [&](size_t requests) {
        Timings timings(requests);
        size_t started = 0;
        const auto start = [&](Slot& slot) {
            ++started;
            // As the engine empties both when a request starts.
            slot.body.clear();
            slot.headers.clear();
            slot.startedAt = Clock::now();
            curl_multi_add_handle(multi, slot.easy);
        };
        const auto begin = Clock::now();
        for (size_t i = 0; i < inflight && started < requests; ++i) {
            start(slots[i]);
        }
        size_t done = 0;
        while (done < requests) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg != CURLMSG_DONE) {
                    continue;
                }
                const CURLcode code = msg->data.result;
                Slot* slot = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &slot);
                curl_multi_remove_handle(multi, slot->easy);
                timings.Add(slot->startedAt, Succeeded(slot->easy, code));
                ++done;
                if (started < requests) {
                    start(*slot);
                }
            }
            if (done < requests) {
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
            }
        }
        return timings.Finish(begin);
    });
    for (Slot& slot : slots) {
        curl_easy_cleanup(slot.easy);
    }
    curl_multi_cleanup(multi);
    return result;
}

RunResult EngineFutureRequests(const Target& target, size_t inflight, size_t total) {
    EngineConns conns(FreshPool(), target, kSmallPath, inflight);
    RunResult result =
        WarmThenTime(inflight, total, [&](size_t requests) { return FutureRun(conns, requests); });
    result.failures += conns.WarmFailures();
    return result;
}

RunResult EngineCallbackRequests(const Target& target, size_t inflight, size_t total) {
    EngineConns conns(FreshPool(), target, kSmallPath, inflight);
    RunResult result = WarmThenTime(inflight, total,
                                    [&](size_t requests) { return CallbackRun(conns, requests); });
    result.failures += conns.WarmFailures();
    return result;
}

} // namespace enginebench
