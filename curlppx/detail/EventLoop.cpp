#include "curlppx/detail/EventLoop.h"

#include "curlppx/CurlConnPool.h"
#include "curlppx/detail/CallbackFrame.h"
#include "curlppx/detail/Request.h"

#include <pthread.h>
#include <sys/stat.h>

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
    uv_prepare_init(m_loop, &m_beforePoll);
    uv_prepare_start(&m_beforePoll, OnBeforePoll);
    uv_unref(reinterpret_cast<uv_handle_t*>(&m_beforePoll));
    m_state.store(kRunning);
    m_thread = std::thread([this] { Body(); });
    pthread_setname_np(m_thread.native_handle(), "curlppx-loop");
}

void EventLoop::Body() {
    t_isLoopThread = true;
    m_inRun = true;
    uv_run(m_loop, UV_RUN_DEFAULT);
    m_inRun = false;
    DeliverSettled();
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
        m_inRun = false;
        DeliverSettled();
        if (!CallbackFrame::InsideLibcurl()) {
            last();
            ShutdownPools();
        }
        return;
    }
    Post([this, last] {
        m_afterStopMtx.lock(); // released by the loop thread after its last drain
        m_state.exchange(kStopping);
        m_inRun = false;
        DeliverSettled();
        last();
        ShutdownPools();
        uv_close(reinterpret_cast<uv_handle_t*>(&m_beforePoll), nullptr);
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
    Post([this, &task, &done] {
        // The caller may look next at a request that finished in this loop
        // turn: its owner hears of it first.
        if (IsLoopThread()) {
            DeliverSettled();
        }
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

void EventLoop::DeliverBeforeNextPoll(std::shared_ptr<Request> request, CURLcode code) {
    if (!m_inRun) {
        request->Deliver(code);
        return;
    }
    m_settled.emplace_back(std::move(request), code);
}

void EventLoop::OnBeforePoll(uv_prepare_t*) {
    Instance().DeliverSettled();
}

void EventLoop::DeliverSettled() {
    // Two lists that swap keep their capacity, so a turn allocates nothing.
    // A completion callback runs on a thread of its own and cannot come
    // back into this list.
    m_delivering.swap(m_settled);
    for (auto& [request, code] : m_delivering) {
        request->Deliver(code);
    }
    m_delivering.clear();
}

CurlContext* EventLoop::Watch(curl_socket_t sock, CurlConnPool* pool) {
    if (m_loop == nullptr) {
        return nullptr;
    }
    struct stat named {};
    if (fstat(sock, &named) != 0) {
        named.st_ino = 0;
    }
    auto found = m_livePolls.find(sock);
    if (found != m_livePolls.end()) {
        CurlContext* known = found->second;
        if (known->parked && known->inode != 0 && known->inode == named.st_ino &&
            known->device == named.st_dev) {
            // The same open socket, so its registration with the kernel is
            // intact: libcurl takes a kept connection up again.
            known->parked = false;
            Enlist(known, pool);
            return known;
        }
        Retire(known);
    }
    auto* ctx = static_cast<CurlContext*>(std::malloc(sizeof(CurlContext)));
    if (ctx == nullptr) {
        return nullptr;
    }
    if (uv_poll_init_socket(m_loop, &ctx->poll, sock) != 0) {
        std::free(ctx);
        return nullptr;
    }
    ctx->poll.data = ctx;
    ctx->socket = sock;
    ctx->pool = nullptr;
    ctx->stale = false;
    ctx->parked = false;
    ctx->events = 0;
    ctx->device = named.st_dev;
    ctx->inode = named.st_ino;
    m_livePolls[sock] = ctx;
    Enlist(ctx, pool);
    return ctx;
}

void EventLoop::Listen(CurlContext* ctx, int events, bool justWatched) {
    if (events == 0) {
        uv_poll_stop(&ctx->poll);
    } else if (!justWatched || events != ctx->events) {
        // libuv 1.44 takes the descriptor out of epoll and puts it back on
        // every start, even with the same events.
        uv_poll_start(&ctx->poll, events, CurlConnPool::UVPerformCallback);
    }
    ctx->events = events;
}

void EventLoop::Park(CurlContext* ctx) {
    ctx->parked = true;
}

void EventLoop::Retire(CurlContext* ctx) {
    m_livePolls.erase(ctx->socket);
    // Stopping takes the descriptor out of epoll: it names a socket that is
    // not registered yet, so this costs nothing and leaves nothing behind.
    Listen(ctx, 0, false);
    if (ctx->parked) {
        Unwatch(ctx); // libcurl holds no pointer to a parked poll
    } else {
        ctx->stale = true; // closed when libcurl removes it or its pool goes
    }
}

void EventLoop::Enlist(CurlContext* ctx, CurlConnPool* pool) {
    if (ctx->pool == pool) {
        return;
    }
    // A shared connection cache may hand a kept connection to another pool.
    if (ctx->pool != nullptr) {
        ctx->pool->m_contexts.erase(ctx);
    }
    ctx->pool = pool;
    if (pool != nullptr) {
        pool->m_contexts.insert(ctx);
    }
}

void EventLoop::Unwatch(CurlContext* ctx) {
    if (ctx == nullptr) {
        return;
    }
    auto found = m_livePolls.find(ctx->socket);
    if (found != m_livePolls.end() && found->second == ctx) {
        m_livePolls.erase(found);
    }
    Enlist(ctx, nullptr);
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
