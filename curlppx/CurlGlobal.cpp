#include "curlppx/CurlGlobal.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlConnPool.h"
#include "curlppx/detail/EngineLog.h"
#include "curlppx/detail/EventLoop.h"
#include "curlppx/detail/Network.h"
#include "curlppx/detail/UrlCoding.h"

#include <utility>

namespace curlppx {

namespace {

// Tasks handed over before anything else asked for the engine must still run.
std::atomic<bool> g_constructed{false};
// In the comma-separated form that CURLOPT_DNS_SERVERS takes.
constexpr const char* kStandByDns = "8.8.8.8,114.114.114.114";

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

} // namespace

CurlSetting<int> CurlGlobal::m_timeoutLowSpeed{10};
CurlSetting<int> CurlGlobal::m_limitLowSpeed{30};
CurlSetting<long> CurlGlobal::m_timeoutConnect{30000};
CurlSetting<bool> CurlGlobal::m_dnsFlag{false};
CurlSetting<bool> CurlGlobal::m_isAtExpire{false};
CurlSetting<std::wstring> CurlGlobal::m_sysUUid;
CurlSetting<std::wstring> CurlGlobal::m_currentUserAt;
CurlSetting<std::wstring> CurlGlobal::m_userId;
CurlSetting<std::wstring> CurlGlobal::m_sysCountryCode;
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
        return;
    }
    m_verInfo = curl_version_info(CURLVERSION_TENTH);
    if (m_verInfo == nullptr || m_verInfo->protocols == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlGlobal::CurlGlobal",
                    curl_easy_strerror(CURLE_UNSUPPORTED_PROTOCOL), detail::kNoPool);
        return;
    }
    for (const char* const* p = m_verInfo->protocols; *p != nullptr; ++p) {
        m_protocols.insert(*p);
    }
    auto& loop = detail::EventLoop::Instance();
    loop.Start();
    m_loop = loop.Loop();
}

CurlGlobal::~CurlGlobal() {
    m_verInfo = nullptr;
    if (m_initCode != CURLE_OK) {
        return;
    }
    detail::EventLoop::Instance().Stop([] {
        std::lock_guard lock(g_coderMtx);
        g_coder.reset();
    });
    m_pools.clear();
    curl_global_cleanup();
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
    return detail::EventLoop::Instance().Watch(sock, pool);
}

void CurlGlobal::DestroyCurlContext(CurlContext* ctx) {
    detail::EventLoop::Instance().Unwatch(ctx);
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
    return detail::CodeWithSharedConn(text, &CurlConn::UrlEncode);
}

std::string CurlGlobal::UrlUncode(const std::string& text) {
    return detail::CodeWithSharedConn(text, &CurlConn::UrlUncode);
}

void CurlGlobal::RunAtUvThread(std::function<void()> task) {
    if (!g_constructed.load()) {
        GetInstance();
    }
    detail::EventLoop::Instance().Post(std::move(task));
}

bool CurlGlobal::RunAllUvThreadTask() {
    return detail::EventLoop::Instance().Drain();
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

bool CurlGlobal::IsLoopThread() {
    return detail::EventLoop::IsLoopThread();
}

void CurlGlobal::SetLogLevel(CurlLogLevel level) {
    g_logLevel.store(level);
}

void CurlGlobal::SetLogFun(CurlLogFun fun) {
    detail::ReplaceLogFun(std::move(fun));
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
std::wstring CurlGlobal::GetSystemUUid() {
    return m_sysUUid;
}
void CurlGlobal::SetSystemUUid(std::wstring uuid) {
    m_sysUUid = std::move(uuid);
}
std::wstring CurlGlobal::GetCurrentAt() {
    return m_currentUserAt;
}
void CurlGlobal::SetCurrentAt(const std::wstring& at) {
    m_currentUserAt = at;
}
std::wstring CurlGlobal::GetCurrentUserId() {
    return m_userId;
}
void CurlGlobal::SetUserID(const std::wstring& userId) {
    m_userId = userId;
}
std::wstring CurlGlobal::GetCountryCode() {
    return m_sysCountryCode;
}
void CurlGlobal::SetCountryCode(const std::wstring& countryCode) {
    m_sysCountryCode = countryCode;
}
std::string CurlGlobal::GetStandByDns() {
    return kStandByDns;
}
std::wstring CurlGlobal::GetQxClientMode() {
    return {};
}

std::wstring CurlGlobal::GetNetwork() {
    return detail::ActiveNetworkKind();
}

} // namespace curlppx
