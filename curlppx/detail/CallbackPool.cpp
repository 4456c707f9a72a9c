#include "curlppx/detail/CallbackPool.h"

#include <pthread.h>

#include <chrono>
#include <system_error>
#include <thread>
#include <utility>

namespace curlppx::detail {

namespace {

// Long enough that a steady trickle of completions reuses its threads.
constexpr auto kIdleLifetime = std::chrono::seconds(30);

} // namespace

CallbackPool::CallbackPool(Spawn spawn) : m_spawn(std::move(spawn)) {}

CallbackPool::~CallbackPool() {
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->ready.notify_all();
}

CallbackPool& CallbackPool::Instance() {
    static auto* pool = new CallbackPool();
    return *pool;
}

bool CallbackPool::StartThread(std::function<void()> body) {
    try {
        std::thread thread(std::move(body));
        pthread_setname_np(thread.native_handle(), "curlppx-done");
        thread.detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void CallbackPool::Run(std::function<void()> job) {
    std::unique_lock lock(m_state->mutex);
    m_state->jobs.push_back(std::move(job));
    // Every queued job needs a thread of its own that is waiting right now;
    // counting the waiting threads, not guessing, keeps a blocked callback
    // from serialising the others.
    if (m_state->jobs.size() <= m_state->idle) {
        // Behind a job still queued, a thread is on its way already and wakes
        // the next one before it runs its own job: the loop thread pays one
        // wake for a turn's completions, not one for each.
        const bool first = m_state->jobs.size() == 1;
        lock.unlock();
        if (first) {
            m_state->ready.notify_one();
        }
        return;
    }
    ++m_state->threads;
    lock.unlock();
    if (!m_spawn([state = m_state] { Work(state); })) {
        lock.lock();
        --m_state->threads;
    }
}

size_t CallbackPool::Threads() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->threads;
}

void CallbackPool::Work(const std::shared_ptr<State>& state) {
    std::unique_lock lock(state->mutex);
    for (;;) {
        const auto due = [&] { return !state->jobs.empty() || state->stopping; };
        ++state->idle;
        if (state->threads > 1) {
            state->ready.wait_for(lock, kIdleLifetime, due);
        } else {
            state->ready.wait(lock, due);
        }
        --state->idle;
        if (state->jobs.empty()) {
            if (state->stopping || state->threads > 1) {
                --state->threads;
                return;
            }
            continue;
        }
        auto job = std::move(state->jobs.front());
        state->jobs.pop_front();
        const bool wakeNext = !state->jobs.empty() && state->idle > 0;
        lock.unlock();
        if (wakeNext) {
            state->ready.notify_one();
        }
        job();
        job = nullptr; // what the callback captured goes before the next wait
        lock.lock();
    }
}

} // namespace curlppx::detail
