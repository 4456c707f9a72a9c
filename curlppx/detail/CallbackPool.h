#pragma once

#include "platform/HttpLibExport.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace curlppx::detail {

// The threads that run completion callbacks. An idle thread is reused and a
// new one starts only when every thread is busy, so a callback that blocks
// never holds up another, and there are never more threads than callbacks
// that once ran at the same moment. A thread idle for a while ends, except
// the last one, which waits without a time-out: an idle engine wakes no one.
class HTTPLIB_API CallbackPool {
public:
    // Starts a detached thread running body; false when none could be made.
    using Spawn = std::function<bool(std::function<void()> body)>;

    explicit CallbackPool(Spawn spawn = StartThread);
    // Lets the threads end once they are idle; a callback still running
    // runs to its end.
    ~CallbackPool();
    CallbackPool(const CallbackPool&) = delete;
    CallbackPool& operator=(const CallbackPool&) = delete;

    // The engine's pool. Never destroyed: a callback may call exit(), and
    // exit must not wait for threads that may be running callbacks.
    static CallbackPool& Instance();
    static bool StartThread(std::function<void()> body);

    // Runs job on a pool thread. When no thread can be started and none is
    // idle, the job waits for the next thread that frees up or starts.
    void Run(std::function<void()> job);
    size_t Threads() const;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable ready;
        std::deque<std::function<void()>> jobs;
        size_t idle = 0;
        size_t threads = 0;
        bool stopping = false;
    };
    static void Work(const std::shared_ptr<State>& state);

    Spawn m_spawn;
    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace curlppx::detail
