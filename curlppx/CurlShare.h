#pragma once

#include "curlppx/CurlHeader.h"
#include "curlppx/CurlSetting.h"
#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <array>
#include <atomic>
#include <memory>
#include <shared_mutex>
#include <string>
#include <thread>

namespace curlppx {

// A libcurl share handle (TLS sessions, connections and the public-suffix
// list by default; cookies and DNS on request) plus settings that every
// connection of a pool takes over when the share is attached to it. Each
// setting is guarded on its own.
class HTTPLIB_API CurlShare {
public:
    CurlShare();
    virtual ~CurlShare();
    CurlShare(const CurlShare&) = delete;
    CurlShare& operator=(const CurlShare&) = delete;

    CURLSHcode ShareCookie();
    CURLSHcode UnShareCookie();
    CURLSHcode ShareDNS();
    CURLSHcode UnShareDNS();
    CURLSHcode ShareSSLSession();
    CURLSHcode UnShareSSLSession();
    CURLSHcode ShareConnect();
    CURLSHcode UnShareConnect();
    CURLSHcode SharePSL();
    CURLSHcode UnSharePSL();

    CURLSHcode ShareHeader(const CurlHeader& header);
    CURLSHcode UnShareHeader();
    std::shared_ptr<CurlHeader> GetHeader();

    CURLSHcode ShareSSLVerify(const std::string& certType);
    CURLSHcode UnShareSSLVerify();
    std::string GetSSLVerify();

    CURLSHcode ShareCA(const std::wstring& path);
    CURLSHcode ShareCAs(const std::wstring& path);
    CURLSHcode UnShareCA();
    CURLSHcode GetCA(std::wstring& path, bool& isCAs);

    CURLSHcode ShareUserAgent(const std::string& userAgent);
    CURLSHcode UnShareUserAgent();
    std::string GetUserAgent();

    static void ShareDataLock(CURL* handle, curl_lock_data data, curl_lock_access access,
                              void* userptr);
    static void ShareDataUnlock(CURL* handle, curl_lock_data data, void* userptr);

    CURLSH* GetHandle() const { return m_handle; }

protected:
    CURLSHcode OnOffCurlShareData(curl_lock_data data, bool on);

private:
    // The mode is kept per holder: libcurl may call from the loop thread and
    // from a caller thread that attaches a handle at the same time.
    struct LockSlot {
        std::shared_mutex lock;
        std::atomic<int> sharedHolders{0};
        std::atomic<std::thread::id> owner{};
    };

    CURLSHcode StoreCA(const std::wstring& path, bool isCAs);

    CURLSH* m_handle = nullptr;
    std::array<LockSlot, 8> m_locks;
    CurlSetting<std::shared_ptr<CurlHeader>> m_header;
    CurlSetting<std::string> m_sslVerify;
    std::wstring m_ca;
    bool m_isCAs = false;
    std::shared_mutex m_caLock;
    CurlSetting<std::string> m_userAgent;
};

} // namespace curlppx
