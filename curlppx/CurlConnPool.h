#pragma once

#include "curlppx/CurlGlobal.h"
#include "curlppx/CurlUrl.h"
#include "platform/HttpLibExport.h"

#include <curl/curl.h>
#include <oneapi/tbb/concurrent_queue.h>
#include <uv.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

namespace curlppx {

class CurlConn;
class CurlShare;
class CurlStrListRaw;

namespace detail {
class EventLoop;
class Request;
} // namespace detail

// One libcurl multi handle on the engine's loop, and a reusable set of
// connections. Always owned by a shared pointer; connections hold it weakly.
// Everything that touches the multi handle, the timer or the polls runs on
// the loop thread.
class HTTPLIB_API CurlConnPool : public std::enable_shared_from_this<CurlConnPool> {
public:
    explicit CurlConnPool(size_t id);
    ~CurlConnPool();
    CurlConnPool(const CurlConnPool&) = delete;
    CurlConnPool& operator=(const CurlConnPool&) = delete;

    void SetConnInitFunc(std::function<void(std::shared_ptr<CurlConn>)> fn);
    std::shared_ptr<CurlConn> GetConn();
    void FreeConn(std::shared_ptr<CurlConn> conn);
    std::shared_ptr<CurlShare> GetShare();
    size_t GetId() const { return m_id; }

    static int SocketCallback(CURL* easy, curl_socket_t s, int what, void* userp, void* socketp);
    static int TimerCallback(CURLM* multi, long timeout_ms, void* userp);
    static void UVOnTimeoutCallback(uv_timer_t* timer);
    static void UVPerformCallback(uv_poll_t* poll, int status, int events);
    // beforeNextPoll: called from a socket or timer callback, where the
    // owners of the requests that finished may hear of it once the loop
    // turn's events are all handled.
    static void CheckInfo(CurlConnPool* pool, bool beforeNextPoll = false);

protected:
    CURLMcode AddConnToMulti(void* easy);
    CURLMcode RemoveConnFromMulti(void* easy);
    CURLMcode SocketAction(curl_socket_t s, int evBitmask, int* running);
    CURLMcode Assign(curl_socket_t s, void* p);

private:
    friend class CurlConn;
    friend class CurlGlobal;
    friend class detail::EventLoop;

    // A handle whose connection let go of it inside one of its own
    // callbacks, where it cannot leave the multi handle yet. It keeps what
    // the handle still points at until it is cleaned up.
    struct Orphan {
        CURL* easy;
        std::shared_ptr<CurlStrListRaw> headers;
        CurlUrl url;
        std::string body;
    };

    // Loop thread only. Each compares the request it was made for with the
    // one the connection runs, before it touches the connection.
    void StartOnLoop(CurlConn* conn, const std::shared_ptr<detail::Request>& request);
    // Ends request with 42; letGo when the connection is being cleared or
    // destroyed and must lose its handle to the transfer.
    void EndOnLoop(CurlConn* conn, const std::shared_ptr<detail::Request>& request, bool letGo);
    void Detach(CurlConn* conn, bool insideLibcurl);
    void ReleaseOrphans();
    bool ReleaseOrphan(CURL* easy);
    void Finished(CURL* easy, CURLcode result, bool beforeNextPoll);
    void ShutdownOnLoop();
    bool EnsureTimer();

    CURLM* m_multi = nullptr;
    // Heap-allocated: libuv may hold it until its close callback, which can
    // come after the pool is gone.
    uv_timer_t* m_timer = nullptr;
    bool m_timerReady = false;
    std::shared_ptr<CurlShare> m_share;
    std::function<void(std::shared_ptr<CurlConn>)> m_connInitFunc;
    size_t m_id;
    ConcurrentQueue<std::shared_ptr<CurlConn>> m_freeConns;

    // Loop thread only: transfers in the multi handle and live socket records.
    std::unordered_set<CurlConn*> m_active;
    std::unordered_set<CurlContext*> m_contexts;
    std::vector<Orphan> m_orphans;
    bool m_registered = false;
};

} // namespace curlppx
