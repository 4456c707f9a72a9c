#pragma once

#include "curlppx/CurlGlobal.h"

#include <uv.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

namespace curlppx::detail {

class Request;

// The engine's loop thread: libuv's default loop, the queue through which
// any thread hands it work, the socket watches and the pools whose handles
// live on it. Never destroyed, so that a pool or connection that outlives
// CurlGlobal (in a host's static, say) still finds it; stopped at exit,
// after which handed-over tasks run on the thread that hands them over, one
// at a time.
class EventLoop {
public:
    using Task = std::function<void()>;

    static EventLoop& Instance();

    // Starts the loop thread (a failure to start it throws std::system_error).
    void Start();
    // Runs last on the loop thread, stops the loop and joins its thread.
    // Called on the loop thread itself (exit() in a task) it runs last there
    // and leaves the thread to the process's end.
    void Stop(const Task& last);
    // Not running: stopping, stopped, or never started.
    bool Stopped() const { return m_state.load() != kRunning; }
    uv_loop_t* Loop() const { return m_loop; }
    static bool IsLoopThread();

    void Post(Task task);
    // Runs task on the loop thread and returns when it has run: at once on
    // the loop thread itself or once the loop has stopped.
    void RunAndWait(const Task& task);
    // Runs every queued task, also those queued meanwhile; true when at
    // least one ran.
    bool Drain();

    // Loop thread only, the socket watches. A poll for libcurl's socket,
    // listed by pool: the one parked for this very socket, or a new one; null
    // when none can be made.
    CurlContext* Watch(curl_socket_t sock, CurlConnPool* pool);
    // Registers events (UV_READABLE, UV_WRITABLE; 0 stops the poll). A poll
    // Watch just took out of parking keeps its registration when events
    // match it.
    void Listen(CurlContext* ctx, int events, bool justWatched);
    // libcurl's CURL_POLL_REMOVE: the transfer is done with the socket but
    // libcurl mostly keeps its connection for the next one, so the poll stays
    // as it is rather than be closed and made again.
    void Park(CurlContext* ctx);
    void Unwatch(CurlContext* ctx);

    // Loop thread: hands the code to request's owner before the loop next
    // waits for events (at once when the loop is not running).
    void DeliverBeforeNextPoll(std::shared_ptr<Request> request, CURLcode code);

    // Pools with handles on this loop, shut down when it stops.
    void Attach(CurlConnPool* pool);
    void Detach(CurlConnPool* pool);

private:
    enum State : int { kIdle, kRunning, kStopping, kStopped };

    EventLoop() = default;
    void Body();
    // Runs the tasks queued now, not those queued meanwhile: a steady stream
    // of hand-overs must not keep the loop from its own work (or its stop).
    void RunQueued();
    void ShutdownPools();
    static void OnWake(uv_async_t* wake);
    static void OnBeforePoll(uv_prepare_t* prepare);
    void DeliverSettled();
    // A poll whose descriptor libcurl closed without a word, while the
    // descriptor now names another socket.
    void Retire(CurlContext* ctx);
    static void Enlist(CurlContext* ctx, CurlConnPool* pool);

    std::atomic<int> m_state{kIdle};
    uv_loop_t* m_loop = nullptr;
    // Referenced, so it alone keeps uv_run going; uv_async_send is the one
    // libuv call another thread may make.
    uv_async_t m_wake{};
    // Runs before every wait for events. Unreferenced: it never keeps the
    // loop going by itself.
    uv_prepare_t m_beforePoll{};
    // Loop thread only: inside uv_run, where the prepare handle runs, and
    // the requests completed there whose owners are still to hear of it.
    bool m_inRun = false;
    std::vector<std::pair<std::shared_ptr<Request>, CURLcode>> m_settled;
    std::vector<std::pair<std::shared_ptr<Request>, CURLcode>> m_delivering;
    std::thread m_thread;
    // Held by whoever runs tasks once the loop stops: by the loop thread from
    // its stop to its last drain, then by each thread that hands one over.
    // Recursive, as a task may hand over another.
    std::recursive_mutex m_afterStopMtx;
    std::mutex m_poolsMtx;
    std::set<CurlConnPool*> m_pools;
    // Loop thread only: the live or parked poll of each descriptor, to take
    // a parked one up again and to retire a stale one before libuv would
    // refuse to watch a reused descriptor.
    std::unordered_map<curl_socket_t, CurlContext*> m_livePolls;
};

} // namespace curlppx::detail
