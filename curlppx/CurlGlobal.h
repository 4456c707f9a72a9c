#pragma once

#include "curlppx/CurlSetting.h"
#include "platform/HttpLibExport.h"

#include <curl/curl.h>
#include <oneapi/tbb/concurrent_hash_map.h>
#include <oneapi/tbb/concurrent_queue.h>
#include <sys/types.h>
#include <uv.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace curlppx {

class CurlConn;
class CurlConnPool;
class CurlShare;
class CurlUrl;

enum CurlLogLevel : int {
    CURL_LOG_NONE = 0,
    CURL_LOG_FATAL = 1, // an object is left without its libcurl handle or set-up
    CURL_LOG_ERROR = 2, // one operation failed
    CURL_LOG_INFO = 4,  // notices such as the expired access token
};

// Ties one libcurl socket to one libuv poll. The poll comes first so that a
// pointer to the handle is a pointer to the record; the record is malloc'd and
// freed only by CurlGlobal::UVCloseCallback.
struct CurlContext {
    uv_poll_t poll;
    curl_socket_t socket;
    CurlConnPool* pool;
    // Set when libcurl never removed the socket and the descriptor came back
    // for another watcher: the poll is stopped and the record waits for its
    // pool to close it.
    bool stale;
    // Set from libcurl's CURL_POLL_REMOVE until the socket's next transfer:
    // the poll stays registered for the connection libcurl keeps.
    bool parked;
    // What the poll is registered for; 0 while it is stopped.
    int events;
    // The socket the descriptor named when the poll was made (0: unknown). A
    // parked poll serves the descriptor again only while it names that one.
    dev_t device;
    ino_t inode;
};

// The engine's lock-free containers allocate through std::allocator: TBB's
// own allocators recycle memory inside an uninstrumented library, which
// ThreadSanitizer cannot follow and reports as races.
template <typename T> using ConcurrentQueue = tbb::concurrent_queue<T, std::allocator<T>>;
using PoolMap = tbb::concurrent_hash_map<
    size_t, std::shared_ptr<CurlConnPool>, tbb::tbb_hash_compare<size_t>,
    std::allocator<std::pair<const size_t, std::shared_ptr<CurlConnPool>>>>;

using CurlLogFun =
    std::function<void(CurlLogLevel, int, const std::string&, const std::string&, size_t)>;

// The engine's process root: libcurl's global state and the pools by id,
// with the names through which the host reaches the engine's parts: the loop
// thread and its task queue (detail::EventLoop), the log hook
// (detail::EngineLog), the shared URL coder (detail::UrlCoding) and the
// process-wide settings (CurlSetting).
class HTTPLIB_API CurlGlobal {
public:
    static CurlGlobal& GetInstance();

    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;

    bool HasInit(const char** errStr);
    std::shared_ptr<CurlConnPool> GetPool(size_t id);
    std::shared_ptr<CurlConn> GetConn(size_t id);
    void FreeConn(size_t id, std::shared_ptr<CurlConn> conn);
    curl_version_info_data* GetVer();
    bool HasProtocol(const char* name);
    bool CheckFeatures(int mask);
    CurlContext* CreateCurlContext(curl_socket_t sock, CurlConnPool* pool);
    void DestroyCurlContext(CurlContext* ctx);

    static std::string GetErrStr(CURLcode code);
    static std::string GetErrStr(CURLMcode code);
    static std::string GetErrStr(CURLSHcode code);
    static std::string GetErrStr(CURLUcode code);

    static std::string UrlEncode(const std::string& text);
    static std::string UrlUncode(const std::string& text);

    static void RunAtUvThread(std::function<void()> task);
    static bool RunAllUvThreadTask();
    static std::function<void()> GetUvThreadTask();
    static void UVLoopKeepAliveCallback(uv_timer_t* timer);
    static void UVCloseCallback(uv_handle_t* handle);

    static void SetLogLevel(CurlLogLevel level);
    static void SetLogFun(CurlLogFun fun);

    static int GetLimitLowSpeed();
    static void SetLimitLowSpeed(int bytesPerSecond);
    static int GetTimeoutLowSpeed();
    static void SetTimeoutLowSpeed(int seconds);
    static long GetTimeoutConnect();
    static void SetTimeoutConnect(long milliseconds);
    static bool GetStandByDnsFlag();
    static void SetStandByDnsFlag(bool flag);
    static bool GetAtIsExpired();
    static void SetAtIsExpired(bool expired);
    static std::wstring GetSystemUUid();
    static void SetSystemUUid(std::wstring uuid);
    static std::wstring GetCurrentAt();
    static void SetCurrentAt(const std::wstring& at);
    static std::wstring GetCurrentUserId();
    static void SetUserID(const std::wstring& userId);
    static std::wstring GetCountryCode();
    static void SetCountryCode(const std::wstring& countryCode);
    static std::string GetStandByDns();
    static std::wstring GetQxClientMode();
    static std::wstring GetNetwork();

    // Whether the calling thread is the loop thread.
    static bool IsLoopThread();

    // Written by the host and the request context on their threads while
    // connections read them on the loop thread.
    static CurlSetting<int> m_timeoutLowSpeed;
    static CurlSetting<int> m_limitLowSpeed;
    static CurlSetting<long> m_timeoutConnect;
    static CurlSetting<bool> m_dnsFlag;
    static CurlSetting<bool> m_isAtExpire;
    static CurlSetting<std::wstring> m_sysUUid;
    static CurlSetting<std::wstring> m_currentUserAt;
    static CurlSetting<std::wstring> m_userId;
    static CurlSetting<std::wstring> m_sysCountryCode;
    // Atomic: the loop thread reads it while any thread may change it.
    static std::atomic<CurlLogLevel> g_logLevel;
    static CurlLogFun g_logFun;
    static std::map<curl_sslbackend, const char*> g_availSSLs;
    static ConcurrentQueue<std::function<void()>> uvThreadQueue;
    static std::shared_ptr<CurlConn> g_coder;
    static std::mutex g_coderMtx;

private:
    CurlGlobal();
    ~CurlGlobal();

    CURLcode m_initCode = CURLE_OK;
    curl_version_info_data* m_verInfo = nullptr;
    std::set<std::string> m_protocols;
    PoolMap m_pools;
    // The loop that the engine's loop thread runs (detail::EventLoop).
    uv_loop_t* m_loop = nullptr;
};

} // namespace curlppx
