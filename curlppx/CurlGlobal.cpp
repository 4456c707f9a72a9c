#include "curlppx/CurlGlobal.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlConnPool.h"
#include "curlppx/detail/EngineLog.h"
#include "curlppx/detail/Network.h"

#include <ifaddrs.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <future>
#include <sys/stat.h>
#include <utility>

namespace curlppx {

namespace {

constexpr int kCloseRounds = 16;
thread_local bool t_isLoopThread = false;
// Set once the loop thread has left uv_run for good; from then on tasks run on
// the thread that hands them over, since no loop thread is left to race with.
std::atomic<bool> g_loopStopped{false};
// Tasks handed over before anything else asked for the engine must still run.
std::atomic<bool> g_constructed{false};
std::shared_mutex g_logMtx;
std::mutex g_settingsMtx;

const char* const kUrlErrNames[] = {
    "CURLUE_OK",
    "CURLUE_BAD_HANDLE",
    "CURLUE_BAD_PARTPOINTER",
    "CURLUE_MALFORMED_INPUT",
    "CURLUE_BAD_PORT_NUMBER",
    "CURLUE_UNSUPPORTED_SCHEME",
    "CURLUE_URLDECODE",
    "CURLUE_OUT_OF_MEMORY",
    "CURLUE_USER_NOT_ALLOWED",
    "CURLUE_UNKNOWN_PART",
    "CURLUE_NO_SCHEME",
    "CURLUE_NO_USER",
    "CURLUE_NO_PASSWORD",
    "CURLUE_NO_OPTIONS",
    "CURLUE_NO_HOST",
    "CURLUE_NO_PORT",
    "CURLUE_NO_QUERY",
    "CURLUE_NO_FRAGMENT",
};

std::string ReadFirstLine(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool PathExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

} // namespace

int CurlGlobal::m_timeoutLowSpeed = 10;
int CurlGlobal::m_limitLowSpeed = 30;
long CurlGlobal::m_timeoutConnect = 30000;
bool CurlGlobal::m_dnsFlag = false;
bool CurlGlobal::m_isAtExpire = false;
std::wstring CurlGlobal::m_sysUUid;
std::wstring CurlGlobal::m_currentUserAt;
std::wstring CurlGlobal::m_userId;
std::wstring CurlGlobal::m_sysCountryCode;
std::atomic<CurlLogLevel> CurlGlobal::g_logLevel{CURL_LOG_NONE};
CurlLogFun CurlGlobal::g_logFun;
std::map<curl_sslbackend, const char*> CurlGlobal::g_availSSLs;
ConcurrentQueue<std::function<void()>> CurlGlobal::uvThreadQueue;
std::shared_ptr<CurlConn> CurlGlobal::g_coder;
std::mutex CurlGlobal::g_coderMtx;

CurlGlobal& CurlGlobal::GetInstance() {
    static CurlGlobal instance;
    return instance;
}

CurlGlobal::CurlGlobal() : m_pools(8) {
    g_constructed.store(true);
    m_initCode = curl_global_init(CURL_GLOBAL_ALL);
    if (m_initCode != CURLE_OK) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlGlobal::CurlGlobal",
                    curl_easy_strerror(m_initCode), detail::kNoPool);
        g_loopStopped.store(true); // no loop will ever drain the queue
        return;
    }
    m_verInfo = curl_version_info(CURLVERSION_TENTH);
    if (m_verInfo == nullptr || m_verInfo->protocols == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlGlobal::CurlGlobal",
                    curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL), detail::kNoPool);
        g_loopStopped.store(true);
        return;
    }
    for (const char* const* p = m_verInfo->protocols; *p != nullptr; ++p) {
        m_protocols.insert(*p);
    }
    m_loop = uv_default_loop();
    uv_timer_init(m_loop, &m_keepAliveTimer);
    uv_timer_start(&m_keepAliveTimer, UVLoopKeepAliveCallback, 1, 1);
    m_loopThread = std::thread([this] { LoopThreadBody(); });
}

void CurlGlobal::LoopThreadBody() {
    t_isLoopThread = true;
    uv_run(m_loop, UV_RUN_DEFAULT);
    // Close callbacks of handles closed in the last iteration may still be
    // due. Bounded: a handle left active by mistake must not hang the exit.
    for (int round = 0; round < kCloseRounds && uv_loop_alive(m_loop) != 0; ++round) {
        uv_run(m_loop, UV_RUN_NOWAIT);
    }
    g_loopStopped.store(true);
    RunAllUvThreadTask();
    t_isLoopThread = false;
}

CurlGlobal::~CurlGlobal() {
    m_verInfo = nullptr;
    if (m_initCode != CURLE_OK) {
        return;
    }
    if (m_loopThread.joinable()) {
        RunAtUvThread([this] { ShutdownOnLoop(); });
        m_loopThread.join();
        uv_loop_close(m_loop);
    } else {
        std::lock_guard lock(g_coderMtx);
        g_coder.reset();
    }
    m_pools.clear();
    curl_global_cleanup();
}

void CurlGlobal::ShutdownOnLoop() {
    {
        std::lock_guard lock(g_coderMtx);
        g_coder.reset();
    }
    {
        // Held throughout: a pool destructor elsewhere must not free a pool
        // that is being shut down here.
        std::lock_guard lock(m_registryMtx);
        for (CurlConnPool* pool : m_registry) {
            pool->ShutdownOnLoop();
        }
    }
    uv_timer_stop(&m_keepAliveTimer);
    uv_close(reinterpret_cast<uv_handle_t*>(&m_keepAliveTimer), nullptr);
    uv_stop(m_loop);
}

void CurlGlobal::RegisterPool(CurlConnPool* pool) {
    std::lock_guard lock(m_registryMtx);
    m_registry.insert(pool);
}

void CurlGlobal::UnregisterPool(CurlConnPool* pool) {
    std::lock_guard lock(m_registryMtx);
    m_registry.erase(pool);
}

bool CurlGlobal::HasInit(const char** errStr) {
    if (errStr != nullptr) {
        *errStr = curl_easy_strerror(m_initCode);
    }
    return m_initCode == CURLE_OK;
}

std::shared_ptr<CurlConnPool> CurlGlobal::GetPool(size_t id) {
    if (m_loop == nullptr) {
        return nullptr;
    }
    {
        decltype(m_pools)::const_accessor found;
        if (m_pools.find(found, id) && found->second) {
            return found->second;
        }
    }
    // The write accessor holds the entry locked, so two threads asking for
    // the same new id create one pool between them.
    decltype(m_pools)::accessor entry;
    m_pools.insert(entry, id);
    if (!entry->second) {
        entry->second = std::make_shared<CurlConnPool>(id);
    }
    return entry->second;
}

std::shared_ptr<CurlConn> CurlGlobal::GetConn(size_t id) {
    auto pool = GetPool(id);
    return pool ? pool->GetConn() : nullptr;
}

void CurlGlobal::FreeConn(size_t id, std::shared_ptr<CurlConn> conn) {
    if (auto pool = GetPool(id)) {
        pool->FreeConn(std::move(conn));
    }
}

curl_version_info_data* CurlGlobal::GetVer() {
    return m_verInfo;
}

bool CurlGlobal::HasProtocol(const char* name) {
    return name != nullptr && m_protocols.count(name) > 0;
}

bool CurlGlobal::CheckFeatures(int mask) {
    if (m_verInfo == nullptr) {
        return false;
    }
    return (m_verInfo->features & mask) == mask;
}

CurlContext* CurlGlobal::CreateCurlContext(curl_socket_t sock, CurlConnPool* pool) {
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

void CurlGlobal::ForgetContext(CurlContext* ctx) {
    auto found = m_livePolls.find(ctx->socket);
    if (found != m_livePolls.end() && found->second == ctx) {
        m_livePolls.erase(found);
    }
}

void CurlGlobal::DestroyCurlContext(CurlContext* ctx) {
    if (ctx == nullptr) {
        return;
    }
    ForgetContext(ctx);
    uv_poll_stop(&ctx->poll);
    uv_close(reinterpret_cast<uv_handle_t*>(&ctx->poll), UVCloseCallback);
}

std::string CurlGlobal::GetErrStr(CURLcode code) {
    return curl_easy_strerror(code);
}

std::string CurlGlobal::GetErrStr(CURLMcode code) {
    return curl_multi_strerror(code);
}

std::string CurlGlobal::GetErrStr(CURLSHcode code) {
    return curl_share_strerror(code);
}

std::string CurlGlobal::GetErrStr(CURLUcode code) {
    const auto index = static_cast<unsigned int>(code);
    if (index >= std::size(kUrlErrNames)) {
        return "CURLUE_UNKNOWN";
    }
    return kUrlErrNames[index];
}

std::string CurlGlobal::UrlEncode(const std::string& text) {
    std::lock_guard lock(g_coderMtx);
    if (!g_coder) {
        g_coder = GetInstance().GetConn(0);
    }
    return g_coder ? g_coder->UrlEncode(text) : text;
}

std::string CurlGlobal::UrlUncode(const std::string& text) {
    std::lock_guard lock(g_coderMtx);
    if (!g_coder) {
        g_coder = GetInstance().GetConn(0);
    }
    return g_coder ? g_coder->UrlUncode(text) : text;
}

void CurlGlobal::RunAtUvThread(std::function<void()> task) {
    if (!g_constructed.load()) {
        GetInstance();
    }
    uvThreadQueue.push(std::move(task));
    if (g_loopStopped.load()) {
        // The loop thread has drained for the last time; nothing else would.
        RunAllUvThreadTask();
    }
}

void CurlGlobal::RunAtUvThreadAndWait(const std::function<void()>& task) {
    if (t_isLoopThread || g_loopStopped.load()) {
        task();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    RunAtUvThread([&task, &done] {
        task();
        done.set_value();
    });
    finished.wait();
}

bool CurlGlobal::RunAllUvThreadTask() {
    bool ran = false;
    std::function<void()> task;
    while (uvThreadQueue.try_pop(task)) {
        ran = true;
        if (task) {
            task();
        }
        task = nullptr;
    }
    return ran;
}

std::function<void()> CurlGlobal::GetUvThreadTask() {
    std::function<void()> task;
    if (!uvThreadQueue.try_pop(task)) {
        return {};
    }
    return task;
}

void CurlGlobal::UVLoopKeepAliveCallback(uv_timer_t*) {
    RunAllUvThreadTask();
}

void CurlGlobal::UVCloseCallback(uv_handle_t* handle) {
    std::free(handle->data);
}

bool CurlGlobal::LoopStopped() {
    return g_loopStopped.load();
}

bool CurlGlobal::IsLoopThread() {
    return t_isLoopThread;
}

void CurlGlobal::SetLogLevel(CurlLogLevel level) {
    g_logLevel.store(level);
}

void CurlGlobal::SetLogFun(CurlLogFun fun) {
    CurlLogFun old;
    {
        std::unique_lock lock(g_logMtx);
        old = std::exchange(g_logFun, std::move(fun));
    }
    // The old hook is destroyed outside the lock: it may log itself.
}

bool CurlGlobal::LogEnabled(CurlLogLevel level) {
    return level <= g_logLevel.load(std::memory_order_relaxed);
}

void CurlGlobal::WriteLog(CurlLogLevel level, int line, const std::string& func,
                          const std::string& msg, size_t poolId) {
    if (!LogEnabled(level)) {
        return;
    }
    std::shared_lock lock(g_logMtx);
    if (g_logFun) {
        g_logFun(level, line, func, msg, poolId);
    }
}

int CurlGlobal::GetLimitLowSpeed() {
    return m_limitLowSpeed;
}
void CurlGlobal::SetLimitLowSpeed(int bytesPerSecond) {
    m_limitLowSpeed = bytesPerSecond;
}
int CurlGlobal::GetTimeoutLowSpeed() {
    return m_timeoutLowSpeed;
}
void CurlGlobal::SetTimeoutLowSpeed(int seconds) {
    m_timeoutLowSpeed = seconds;
}
long CurlGlobal::GetTimeoutConnect() {
    return m_timeoutConnect;
}
void CurlGlobal::SetTimeoutConnect(long milliseconds) {
    m_timeoutConnect = milliseconds;
}
bool CurlGlobal::GetStandByDnsFlag() {
    return m_dnsFlag;
}
void CurlGlobal::SetStandByDnsFlag(bool flag) {
    m_dnsFlag = flag;
}
bool CurlGlobal::GetAtIsExpired() {
    return m_isAtExpire;
}
void CurlGlobal::SetAtIsExpired(bool expired) {
    m_isAtExpire = expired;
}

// The wide settings are set by the host from any thread while connections
// read them, so unlike the plain numbers they take a lock.
std::wstring CurlGlobal::GetSystemUUid() {
    std::lock_guard lock(g_settingsMtx);
    return m_sysUUid;
}
void CurlGlobal::SetSystemUUid(std::wstring uuid) {
    std::lock_guard lock(g_settingsMtx);
    m_sysUUid = std::move(uuid);
}
std::wstring CurlGlobal::GetCurrentAt() {
    std::lock_guard lock(g_settingsMtx);
    return m_currentUserAt;
}
void CurlGlobal::SetCurrentAt(const std::wstring& at) {
    std::lock_guard lock(g_settingsMtx);
    m_currentUserAt = at;
}
std::wstring CurlGlobal::GetCurrentUserId() {
    std::lock_guard lock(g_settingsMtx);
    return m_userId;
}
void CurlGlobal::SetUserID(const std::wstring& userId) {
    std::lock_guard lock(g_settingsMtx);
    m_userId = userId;
}
std::wstring CurlGlobal::GetCountryCode() {
    std::lock_guard lock(g_settingsMtx);
    return m_sysCountryCode;
}
void CurlGlobal::SetCountryCode(const std::wstring& countryCode) {
    std::lock_guard lock(g_settingsMtx);
    m_sysCountryCode = countryCode;
}
std::string CurlGlobal::GetStandByDns() {
    return "8.8.8.8,114.114.114.114";
}
std::wstring CurlGlobal::GetQxClientMode() {
    return {};
}

std::wstring CurlGlobal::GetNetwork() {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return {};
    }
    std::vector<std::string> names;
    for (const ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
        if (it->ifa_name != nullptr &&
            std::find(names.begin(), names.end(), it->ifa_name) == names.end()) {
            names.emplace_back(it->ifa_name);
        }
    }
    ::freeifaddrs(list);
    return detail::NetworkKind(names, "/sys/class/net");
}

namespace detail {

std::wstring NetworkKind(const std::vector<std::string>& interfaces,
                         const std::string& sysClassNet) {
    constexpr const char* kArphrdEther = "1";
    for (const auto& name : interfaces) {
        const std::string dir = sysClassNet + "/" + name;
        if (ReadFirstLine(dir + "/operstate") != "up") {
            continue;
        }
        if (PathExists(dir + "/wireless")) {
            return L"Wifi";
        }
        if (ReadFirstLine(dir + "/type") == kArphrdEther) {
            return L"wire";
        }
    }
    return {};
}

} // namespace detail

} // namespace curlppx
