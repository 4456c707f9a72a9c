#include "curlppx/detail/EventLoop.h"

#include "curlppx/CurlConnPool.h"
#include "curlppx/detail/CallbackFrame.h"

#include <pthread.h>

#include <cstdlib>
#include <future>
#include <vector>

namespace curlppx::detail {

namespace {

constexpr int kCloseRounds = 16;
thread_local bool t_isLoopThread = false;

} // namespace

EventLoop& EventLoop::Instance() {
    static auto* loop = new EventLoop();
    return *loop;
}

bool EventLoop::IsLoopThread() {
    return t_isLoopThread;
}

void EventLoop::Start() {
    m_loop = uv_default_loop();
    uv_async_init(m_loop, &m_wake, OnWake);
    m_state.store(kRunning);
    m_thread = std::thread([this] { Body(); });
    pthread_setname_np(m_thread.native_handle(), "curlppx-loop");
}

void EventLoop::Body() {
    t_isLoopThread = true;
    uv_run(m_loop, UV_RUN_DEFAULT);
    // Close callbacks of handles closed in the last iteration may still be
    // due. Bounded: a handle left active by mistake must not hang the exit.
    for (int round = 0; round < kCloseRounds && uv_loop_alive(m_loop) != 0; ++round) {
        uv_run(m_loop, UV_RUN_NOWAIT);
    }
    m_state.exchange(kStopped);
    Drain();
    m_afterStopMtx.unlock(); // taken by the stop task
    t_isLoopThread = false;
}

void EventLoop::Stop(const Task& last) {
    if (m_state.load() != kRunning) {
        std::lock_guard lock(m_afterStopMtx);
        last();
        return;
    }
    if (IsLoopThread()) {
        // exit() from a task: the thread cannot wait for itself, and inside
        // libcurl no multi handle may be cleaned up. From here on, tasks run
        // where they are handed over.
        std::lock_guard lock(m_afterStopMtx);
        m_state.exchange(kStopped);
        if (!CallbackFrame::InsideLibcurl()) {
            last();
            ShutdownPools();
        }
        return;
    }
    Post([this, last] {
        m_afterStopMtx.lock(); // released by the loop thread after its last drain
        m_state.exchange(kStopping);
        last();
        ShutdownPools();
        // A thread that still saw the loop running may send on it after
        // this; libuv allows that until the loop is closed, which it never is.
        uv_close(reinterpret_cast<uv_handle_t*>(&m_wake), nullptr);
        uv_stop(m_loop);
    });
    m_thread.join();
}

void EventLoop::ShutdownPools() {
    // Held throughout: a pool destructor elsewhere waits for this one.
    std::lock_guard lock(m_poolsMtx);
    for (CurlConnPool* pool : m_pools) {
        pool->ShutdownOnLoop();
    }
}

void EventLoop::Post(Task task) {
    CurlGlobal::uvThreadQueue.push(std::move(task));
    // A read-modify-write orders this against the loop's change of state, so
    // that a task pushed while the loop still ran is seen by its last drain.
    const int state = m_state.fetch_or(0);
    if (state == kRunning) {
        uv_async_send(&m_wake);
    } else if (!IsLoopThread()) {
        // No loop thread drains any more (or ever): run here, one at a time,
        // once the loop thread is through with its own last drain.
        std::lock_guard lock(m_afterStopMtx);
        Drain();
    }
}

void EventLoop::RunAndWait(const Task& task) {
    if (IsLoopThread()) {
        task();
        return;
    }
    if (m_state.load() != kRunning) {
        std::lock_guard lock(m_afterStopMtx);
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    Post([&task, &done] {
        task();
        done.set_value();
    });
    finished.wait();
}

bool EventLoop::Drain() {
    bool ran = false;
    std::function<void()> task;
    while (CurlGlobal::uvThreadQueue.try_pop(task)) {
        ran = true;
        if (task) {
            task();
        }
        task = nullptr;
    }
    return ran;
}

void EventLoop::RunQueued() {
    auto& queue = CurlGlobal::uvThreadQueue;
    std::function<void()> task;
    for (auto count = queue.unsafe_size(); count > 0 && queue.try_pop(task); --count) {
        if (task) {
            task();
        }
        task = nullptr;
    }
}

void EventLoop::OnWake(uv_async_t*) {
    auto& loop = Instance();
    loop.RunQueued();
    if (!CurlGlobal::uvThreadQueue.empty()) {
        uv_async_send(&loop.m_wake); // the rest on the next turn
    }
}

CurlContext* EventLoop::Watch(curl_socket_t sock, CurlConnPool* pool) {
    if (m_loop == nullptr) {
        return nullptr;
    }
    auto* ctx = static_cast<CurlContext*>(std::malloc(sizeof(CurlContext)));
    if (ctx == nullptr) {
        return nullptr;
    }
    ctx->socket = sock;
    ctx->pool = pool;
    ctx->stale = false;
    int rc = uv_poll_init_socket(m_loop, &ctx->poll, sock);
    if (rc == UV_EEXIST) {
        // libcurl closed this descriptor without removing it and the system
        // handed the number out again: retire the old watcher first.
        auto old = m_livePolls.find(sock);
        if (old != m_livePolls.end()) {
            uv_poll_stop(&old->second->poll);
            old->second->stale = true;
            m_livePolls.erase(old);
        }
        rc = uv_poll_init_socket(m_loop, &ctx->poll, sock);
    }
    if (rc != 0) {
        std::free(ctx);
        return nullptr;
    }
    ctx->poll.data = ctx;
    m_livePolls[sock] = ctx;
    return ctx;
}

void EventLoop::Unwatch(CurlContext* ctx) {
    if (ctx == nullptr) {
        return;
    }
    auto found = m_livePolls.find(ctx->socket);
    if (found != m_livePolls.end() && found->second == ctx) {
        m_livePolls.erase(found);
    }
    uv_poll_stop(&ctx->poll);
    uv_close(reinterpret_cast<uv_handle_t*>(&ctx->poll), CurlGlobal::UVCloseCallback);
}

void EventLoop::Attach(CurlConnPool* pool) {
    std::lock_guard lock(m_poolsMtx);
    m_pools.insert(pool);
}

void EventLoop::Detach(CurlConnPool* pool) {
    std::lock_guard lock(m_poolsMtx);
    m_pools.erase(pool);
}

} // namespace curlppx::detail
