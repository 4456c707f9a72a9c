// What two thread hand-offs cost without any HTTP: the least a request of an
// engine whose loop runs on its own thread pays on top of libcurl's work.
#include "EngineBench.h"

#include <uv.h>

#include <atomic>
#include <future>
#include <thread>

namespace enginebench {

namespace {

struct PingPong {
    uv_loop_t loop{};
    uv_async_t wake{};
    std::atomic<std::promise<void>*> trip{nullptr};
    std::atomic<bool> stop{false};
};

// uv_async_send coalesces: one callback may stand for several sends, so it
// answers whatever is pending rather than counting calls.
void OnWake(uv_async_t* handle) {
    auto* pingPong = static_cast<PingPong*>(handle->data);
    if (std::promise<void>* trip = pingPong->trip.exchange(nullptr)) {
        trip->set_value();
    }
    if (pingPong->stop.load()) {
        uv_close(reinterpret_cast<uv_handle_t*>(handle), nullptr);
    }
}

} // namespace

RunResult WakeUpPingPong(size_t trips) {
    PingPong pingPong;
    uv_loop_init(&pingPong.loop);
    uv_async_init(&pingPong.loop, &pingPong.wake, OnWake);
    pingPong.wake.data = &pingPong;
    std::thread loopThread([&pingPong] { uv_run(&pingPong.loop, UV_RUN_DEFAULT); });

    const auto trip = [&pingPong](Timings& timings) {
        std::promise<void> answer;
        std::future<void> answered = answer.get_future();
        const auto startedAt = Clock::now();
        pingPong.trip.store(&answer);
        uv_async_send(&pingPong.wake);
        answered.wait();
        timings.Add(startedAt, true);
    };
    Timings warm(trips / 10);
    for (size_t i = 0; i < trips / 10; ++i) {
        trip(warm);
    }
    Timings timings(trips);
    const auto begin = Clock::now();
    for (size_t i = 0; i < trips; ++i) {
        trip(timings);
    }
    const RunResult result = timings.Finish(begin);

    pingPong.stop.store(true);
    uv_async_send(&pingPong.wake);
    loopThread.join();
    uv_loop_close(&pingPong.loop);
    return result;
}

} // namespace enginebench
