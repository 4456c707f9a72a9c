#include "curlppx/CurlConnPool.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlShare.h"
#include "curlppx/detail/CallbackFrame.h"
#include "curlppx/detail/EngineLog.h"
#include "curlppx/detail/EventLoop.h"
#include "curlppx/detail/Request.h"

#include <utility>
#include <vector>

namespace curlppx {

namespace {

// libcurl's default keeps four idle connections per handle currently in the
// multi handle. Requests start a hand-off later than the previous one ends,
// so that count dips between requests and libcurl closes connections that
// the next request then opens again; a fixed cache keeps them.
constexpr long kMaxCachedConnections = 256;

void DeleteTimer(uv_handle_t* handle) {
    delete reinterpret_cast<uv_timer_t*>(handle);
}

} // namespace

CurlConnPool::CurlConnPool(size_t id) : m_id(id) {
    m_multi = curl_multi_init();
    if (m_multi == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlConnPool::CurlConnPool",
                    curl_multi_strerror(CURLM_BAD_HANDLE), m_id);
        return;
    }
    m_share = std::make_shared<CurlShare>();
    // The timer is initialised on the loop thread on first use: libuv's loop
    // structures may not be touched from here while the loop runs.
    m_timer = new uv_timer_t{};
    m_timer->data = this;
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, SocketCallback);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, TimerCallback);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_MAXCONNECTS, kMaxCachedConnections);
    CurlGlobal::GetInstance(); // the loop must run before a pool can use it
    detail::EventLoop::Instance().Attach(this);
    m_registered = true;
}

CurlConnPool::~CurlConnPool() {
    if (m_multi != nullptr || m_timer != nullptr) {
        // The loop may be inside this pool's callbacks right now; the handles
        // are released there, and this thread waits for it.
        detail::EventLoop::Instance().RunAndWait([this] { ShutdownOnLoop(); });
    }
    if (m_registered) {
        detail::EventLoop::Instance().Detach(this);
    }
}

void CurlConnPool::ShutdownOnLoop() {
    // Transfers still running are ended: their owners must not wait forever.
    std::vector<CurlConn*> active(m_active.begin(), m_active.end());
    for (CurlConn* conn : active) {
        Detach(conn, false);
        if (auto request = std::move(conn->m_running)) {
            conn->Finish(request, CurlConn::kEngineError, true);
        }
    }
    ReleaseOrphans();
    if (m_multi != nullptr) {
        // May still call the socket callback to remove sockets.
        const CURLMcode code = curl_multi_cleanup(m_multi);
        m_multi = nullptr;
        if (code != CURLM_OK) {
            CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlConnPool::~CurlConnPool",
                        curl_multi_strerror(code), m_id);
        }
    }
    // Parked polls too: nothing of this pool may stay on the loop.
    const auto contexts = std::move(m_contexts);
    m_contexts.clear();
    for (CurlContext* ctx : contexts) {
        detail::EventLoop::Instance().Unwatch(ctx);
    }
    if (m_timer != nullptr) {
        if (m_timerReady) {
            uv_timer_stop(m_timer);
            uv_close(reinterpret_cast<uv_handle_t*>(m_timer), DeleteTimer);
        } else {
            delete m_timer;
        }
        m_timer = nullptr;
        m_timerReady = false;
    }
}

bool CurlConnPool::EnsureTimer() {
    if (m_timer == nullptr) {
        return false;
    }
    if (!m_timerReady) {
        const auto& loop = detail::EventLoop::Instance();
        if (loop.Loop() == nullptr || loop.Stopped()) {
            return false;
        }
        uv_timer_init(loop.Loop(), m_timer);
        m_timer->data = this;
        m_timerReady = true;
    }
    return true;
}

void CurlConnPool::SetConnInitFunc(std::function<void(std::shared_ptr<CurlConn>)> fn) {
    m_connInitFunc = std::move(fn);
}

std::shared_ptr<CurlConn> CurlConnPool::GetConn() {
    std::shared_ptr<CurlConn> conn;
    if (!m_freeConns.try_pop(conn) || !conn) {
        conn = std::make_shared<CurlConn>();
        conn->InitDefaultCurlOption();
    }
    conn->SetRecycled(false);
    conn->SetShare(m_share);
    conn->m_pool = weak_from_this();
    conn->m_poolId = m_id;
    if (m_connInitFunc) {
        m_connInitFunc(conn);
    }
    return conn;
}

void CurlConnPool::FreeConn(std::shared_ptr<CurlConn> conn) {
    if (!conn || conn->m_recycled.exchange(true)) {
        return;
    }
    conn->Clear();
    m_freeConns.push(std::move(conn));
}

std::shared_ptr<CurlShare> CurlConnPool::GetShare() {
    return m_share;
}

CURLMcode CurlConnPool::AddConnToMulti(void* easy) {
    if (m_multi == nullptr || easy == nullptr) {
        return CURLM_BAD_HANDLE;
    }
    return curl_multi_add_handle(m_multi, static_cast<CURL*>(easy));
}

CURLMcode CurlConnPool::RemoveConnFromMulti(void* easy) {
    if (m_multi == nullptr || easy == nullptr) {
        return CURLM_BAD_HANDLE;
    }
    return curl_multi_remove_handle(m_multi, static_cast<CURL*>(easy));
}

CURLMcode CurlConnPool::SocketAction(curl_socket_t s, int evBitmask, int* running) {
    if (m_multi == nullptr) {
        return CURLM_BAD_HANDLE;
    }
    int local = 0;
    return curl_multi_socket_action(m_multi, s, evBitmask, running != nullptr ? running : &local);
}

CURLMcode CurlConnPool::Assign(curl_socket_t s, void* p) {
    if (m_multi == nullptr) {
        return CURLM_BAD_HANDLE;
    }
    return curl_multi_assign(m_multi, s, p);
}

void CurlConnPool::StartOnLoop(CurlConn* conn, const std::shared_ptr<detail::Request>& request) {
    if (request->Completed()) {
        return; // ended while queued
    }
    conn->ClearReply();
    if (request->BreakAsked()) {
        return; // a break task behind this one ends it
    }
    if (m_multi == nullptr || detail::EventLoop::Instance().Stopped()) {
        conn->Finish(request, CurlConn::kEngineError, true);
        return;
    }
    conn->m_running = request;
    if (AddConnToMulti(conn->m_handle) != CURLM_OK) {
        conn->Finish(request, CURLE_FAILED_INIT, true);
        return;
    }
    conn->m_inMulti = true;
    m_active.insert(conn);
    // Act on libcurl's "now" at once instead of one timer period later; this
    // is a task, not a libcurl callback, so the multi call is allowed.
    SocketAction(CURL_SOCKET_TIMEOUT, 0, nullptr);
    CheckInfo(this);
}

void CurlConnPool::EndOnLoop(CurlConn* conn, const std::shared_ptr<detail::Request>& request,
                             bool letGo) {
    if (request->Completed()) {
        return;
    }
    if (conn->m_running == request && conn->m_inMulti) {
        const bool insideLibcurl = detail::CallbackFrame::InsideLibcurl();
        if (insideLibcurl && !letGo) {
            // libcurl refuses the removal here. The transfer's own callbacks
            // abort it as soon as they run; a task ends it should it idle.
            detail::EventLoop::Instance().Post([self = shared_from_this(), conn, request] {
                self->EndOnLoop(conn, request, false);
            });
            return;
        }
        Detach(conn, insideLibcurl);
    }
    conn->Finish(request, CurlConn::kBroken, false);
}

void CurlConnPool::Detach(CurlConn* conn, bool insideLibcurl) {
    m_active.erase(conn);
    conn->m_inMulti = false;
    if (!insideLibcurl) {
        RemoveConnFromMulti(conn->m_handle);
        return;
    }
    // The connection keeps none of it: it gets a fresh handle when cleared.
    // Only plain pointer options are set here, which libcurl allows inside
    // its callbacks, so that nothing reaches the connection any more.
    CURL* easy = std::exchange(conn->m_handle, nullptr);
    for (CURLoption option : {CURLOPT_PRIVATE, CURLOPT_WRITEDATA, CURLOPT_READDATA,
                              CURLOPT_HEADERDATA, CURLOPT_XFERINFODATA, CURLOPT_SSL_CTX_DATA}) {
        curl_easy_setopt(easy, option, static_cast<void*>(nullptr));
    }
    m_orphans.push_back(Orphan{easy, conn->m_header.GetRawList(), std::move(conn->m_url),
                               std::move(conn->m_reqBody)});
    detail::EventLoop::Instance().Post([self = shared_from_this()] { self->ReleaseOrphans(); });
}

void CurlConnPool::ReleaseOrphans() {
    for (Orphan& orphan : m_orphans) {
        RemoveConnFromMulti(orphan.easy);
        curl_easy_cleanup(orphan.easy);
    }
    m_orphans.clear();
}

bool CurlConnPool::ReleaseOrphan(CURL* easy) {
    for (auto it = m_orphans.begin(); it != m_orphans.end(); ++it) {
        if (it->easy == easy) {
            curl_easy_cleanup(easy); // already out of the multi handle
            m_orphans.erase(it);
            return true;
        }
    }
    return false;
}

int CurlConnPool::SocketCallback(CURL*, curl_socket_t s, int what, void* userp, void* socketp) {
    auto* pool = static_cast<CurlConnPool*>(userp);
    auto* ctx = static_cast<CurlContext*>(socketp);
    if (pool == nullptr || what <= CURL_POLL_NONE) {
        return 0;
    }
    auto& loop = detail::EventLoop::Instance();
    // curl_multi_assign is the one multi call libcurl allows from inside its
    // socket callback.
    if (what == CURL_POLL_REMOVE) {
        if (ctx != nullptr) {
            if (ctx->stale) {
                loop.Unwatch(ctx);
            } else {
                loop.Park(ctx);
            }
            pool->Assign(s, nullptr);
        }
        return 0;
    }
    if (what > CURL_POLL_INOUT) {
        return 0;
    }
    if (ctx != nullptr && ctx->stale) {
        loop.Unwatch(ctx);
        ctx = nullptr;
    }
    const bool justWatched = ctx == nullptr;
    if (justWatched) {
        ctx = loop.Watch(s, pool);
        if (ctx == nullptr) {
            return 0;
        }
    }
    pool->Assign(s, ctx);
    int events = 0;
    if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) {
        events |= UV_READABLE;
    }
    if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) {
        events |= UV_WRITABLE;
    }
    loop.Listen(ctx, events, justWatched);
    return 0;
}

int CurlConnPool::TimerCallback(CURLM* multi, long timeout_ms, void* userp) {
    auto* pool = static_cast<CurlConnPool*>(userp);
    if (pool == nullptr || multi != pool->m_multi || !pool->EnsureTimer()) {
        return 0;
    }
    if (timeout_ms < 0) {
        uv_timer_stop(pool->m_timer);
        return 0;
    }
    // 0 ms means "at once": a timer due now runs on the next loop turn, not
    // inside this call of libcurl's, where no multi call may be made.
    uv_timer_start(pool->m_timer, UVOnTimeoutCallback, static_cast<uint64_t>(timeout_ms), 0);
    return 0;
}

void CurlConnPool::UVOnTimeoutCallback(uv_timer_t* timer) {
    auto* raw = static_cast<CurlConnPool*>(timer->data);
    // Held for the whole callback: a completion below may let another
    // thread drop every other reference to this pool.
    auto pool = raw != nullptr ? raw->weak_from_this().lock() : nullptr;
    if (!pool || pool->m_multi == nullptr) {
        return;
    }
    int running = 0;
    pool->SocketAction(CURL_SOCKET_TIMEOUT, 0, &running);
    CheckInfo(pool.get(), true);
}

void CurlConnPool::UVPerformCallback(uv_poll_t* poll, int status, int events) {
    auto* ctx = static_cast<CurlContext*>(poll->data);
    if (ctx == nullptr || ctx->pool == nullptr) {
        return;
    }
    if (ctx->parked) {
        // A kept connection's peer spoke or closed while no transfer listens:
        // libcurl finds out when it takes the connection up again, and the
        // poll, left registered, would report it on every loop turn.
        detail::EventLoop::Instance().Listen(ctx, 0, false);
        return;
    }
    auto pool = ctx->pool->weak_from_this().lock();
    if (!pool) {
        return;
    }
    int flags = 0;
    if (status < 0) {
        // Let libcurl find the socket's error instead of waiting for a time-out.
        flags |= CURL_CSELECT_ERR;
    }
    if ((events & UV_WRITABLE) != 0) {
        flags |= CURL_CSELECT_OUT;
    }
    if ((events & UV_READABLE) != 0) {
        flags |= CURL_CSELECT_IN;
    }
    pool->SocketAction(ctx->socket, flags, nullptr);
    CheckInfo(pool.get(), true);
}

void CurlConnPool::CheckInfo(CurlConnPool* pool, bool beforeNextPoll) {
    if (pool == nullptr || pool->m_multi == nullptr) {
        return;
    }
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(pool->m_multi, &left)) {
        if (msg->msg == CURLMSG_DONE) {
            // The message is invalid once its handle is removed: read it first.
            pool->Finished(msg->easy_handle, msg->data.result, beforeNextPoll);
        }
    }
}

void CurlConnPool::Finished(CURL* easy, CURLcode result, bool beforeNextPoll) {
    CurlConn* conn = nullptr;
    const CURLcode info = curl_easy_getinfo(easy, CURLINFO_PRIVATE, &conn);
    RemoveConnFromMulti(easy);
    if (ReleaseOrphan(easy) || info != CURLE_OK || conn == nullptr) {
        return;
    }
    m_active.erase(conn);
    conn->m_inMulti = false;
    const auto request = conn->m_running;
    if (!request || request->Completed()) {
        return;
    }
    if (request->BreakAsked()) {
        conn->Finish(request, CurlConn::kBroken, false, beforeNextPoll);
        return;
    }
    if (!conn->m_refusedRedirect.empty()) {
        // Trying again changes nothing.
        conn->Finish(request, CurlConn::kRedirectRefused, true, beforeNextPoll);
        return;
    }
    bool retry = false;
    {
        // The retry callback and the upload's seek are the caller's code:
        // they may end the request, or clear or drop the connection.
        const auto retryFunc = conn->m_retryFunc;
        detail::CallbackFrame frame(conn, false);
        retry = retryFunc && (*retryFunc)(conn, result);
        if (!frame.ConnLetGo() && !request->Completed() && retry) {
            retry = conn->PrepareRetry();
        }
        if (frame.ConnLetGo() || request->Completed()) {
            return;
        }
    }
    if (retry) {
        ++conn->m_retryCount;
        if (AddConnToMulti(easy) == CURLM_OK) {
            conn->m_inMulti = true;
            m_active.insert(conn);
            return;
        }
    }
    conn->Finish(request, result, true, beforeNextPoll);
}

} // namespace curlppx
