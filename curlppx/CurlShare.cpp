#include "curlppx/CurlShare.h"

#include "curlppx/detail/EngineLog.h"
#include "curlppx/detail/Paths.h"

#include <filesystem>
#include <mutex>
#include <new>

namespace curlppx {

namespace {

// Kinds 2 to 6 are the data the engine shares. Kind 1 guards libcurl's own
// attachment counter of the share, which a caller thread changes when it
// attaches or detaches a handle while the loop thread runs transfers.
bool IsLockedKind(curl_lock_data data) {
    return data >= CURL_LOCK_DATA_SHARE && data <= CURL_LOCK_DATA_PSL;
}

std::string NoShareText() {
    return std::string(curl_share_strerror(CURLSHE_NOMEM)) + " or " +
           curl_share_strerror(CURLSHE_NOT_BUILT_IN);
}

} // namespace

CurlShare::CurlShare() : m_handle(curl_share_init()) {
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlShare::CurlShare", NoShareText(),
                    detail::kNoPool);
        return;
    }
    CURLSHcode code = curl_share_setopt(m_handle, CURLSHOPT_USERDATA, this);
    if (code == CURLSHE_OK) {
        code = curl_share_setopt(m_handle, CURLSHOPT_LOCKFUNC, ShareDataLock);
    }
    if (code == CURLSHE_OK) {
        code = curl_share_setopt(m_handle, CURLSHOPT_UNLOCKFUNC, ShareDataUnlock);
    }
    if (code != CURLSHE_OK) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlShare::CurlShare", curl_share_strerror(code),
                    detail::kNoPool);
        return;
    }
    OnOffCurlShareData(CURL_LOCK_DATA_SSL_SESSION, true);
    OnOffCurlShareData(CURL_LOCK_DATA_CONNECT, true);
    OnOffCurlShareData(CURL_LOCK_DATA_PSL, true);
}

CurlShare::~CurlShare() {
    if (m_handle != nullptr) {
        const CURLSHcode code = curl_share_cleanup(m_handle);
        if (code != CURLSHE_OK) {
            CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::~CurlShare", curl_share_strerror(code),
                        detail::kNoPool);
        }
    }
}

CURLSHcode CurlShare::OnOffCurlShareData(curl_lock_data data, bool on) {
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlShare::OnOffCurlShareData", NoShareText(),
                    detail::kNoPool);
    }
    if (data < CURL_LOCK_DATA_COOKIE || data > CURL_LOCK_DATA_PSL) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::OnOffCurlShareData",
                    curl_share_strerror(CURLSHE_BAD_OPTION), detail::kNoPool);
        return CURLSHE_BAD_OPTION;
    }
    const CURLSHcode code =
        curl_share_setopt(m_handle, on ? CURLSHOPT_SHARE : CURLSHOPT_UNSHARE, data);
    if (code != CURLSHE_OK) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::OnOffCurlShareData",
                    curl_share_strerror(code), detail::kNoPool);
    }
    return code;
}

CURLSHcode CurlShare::ShareCookie() {
    return OnOffCurlShareData(CURL_LOCK_DATA_COOKIE, true);
}
CURLSHcode CurlShare::UnShareCookie() {
    return OnOffCurlShareData(CURL_LOCK_DATA_COOKIE, false);
}
CURLSHcode CurlShare::ShareDNS() {
    return OnOffCurlShareData(CURL_LOCK_DATA_DNS, true);
}
CURLSHcode CurlShare::UnShareDNS() {
    return OnOffCurlShareData(CURL_LOCK_DATA_DNS, false);
}
CURLSHcode CurlShare::ShareSSLSession() {
    return OnOffCurlShareData(CURL_LOCK_DATA_SSL_SESSION, true);
}
CURLSHcode CurlShare::UnShareSSLSession() {
    return OnOffCurlShareData(CURL_LOCK_DATA_SSL_SESSION, false);
}
CURLSHcode CurlShare::ShareConnect() {
    return OnOffCurlShareData(CURL_LOCK_DATA_CONNECT, true);
}
CURLSHcode CurlShare::UnShareConnect() {
    return OnOffCurlShareData(CURL_LOCK_DATA_CONNECT, false);
}
CURLSHcode CurlShare::SharePSL() {
    return OnOffCurlShareData(CURL_LOCK_DATA_PSL, true);
}
CURLSHcode CurlShare::UnSharePSL() {
    return OnOffCurlShareData(CURL_LOCK_DATA_PSL, false);
}

CURLSHcode CurlShare::ShareHeader(const CurlHeader& header) {
    std::shared_ptr<CurlHeader> copy(new (std::nothrow) CurlHeader(header));
    if (!copy) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::ShareHeader",
                    curl_share_strerror(CURLSHE_NOMEM), detail::kNoPool);
        return CURLSHE_NOMEM;
    }
    m_header = std::move(copy);
    return CURLSHE_OK;
}

CURLSHcode CurlShare::UnShareHeader() {
    m_header = nullptr;
    return CURLSHE_OK;
}

std::shared_ptr<CurlHeader> CurlShare::GetHeader() {
    return m_header;
}

CURLSHcode CurlShare::ShareSSLVerify(const std::string& certType) {
    m_sslVerify = certType;
    return CURLSHE_OK;
}

CURLSHcode CurlShare::UnShareSSLVerify() {
    m_sslVerify = std::string();
    return CURLSHE_OK;
}

std::string CurlShare::GetSSLVerify() {
    return m_sslVerify;
}

CURLSHcode CurlShare::ShareCA(const std::wstring& path) {
    return StoreCA(path, false);
}

CURLSHcode CurlShare::ShareCAs(const std::wstring& path) {
    return StoreCA(path, true);
}

CURLSHcode CurlShare::StoreCA(const std::wstring& path, bool isCAs) {
    std::unique_lock lock(m_caLock);
    const std::wstring normal = detail::NormaliseCaPath(path);
    std::error_code error;
    const bool exists = std::filesystem::exists(std::filesystem::path(normal), error);
    if (error) {
        m_ca.clear();
        m_isCAs = false;
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::ShareCA", error.message(),
                    detail::kNoPool);
        return CURLSHE_BAD_OPTION;
    }
    if (!exists) {
        return CURLSHE_BAD_OPTION;
    }
    m_ca = normal;
    m_isCAs = isCAs;
    return CURLSHE_OK;
}

CURLSHcode CurlShare::UnShareCA() {
    std::unique_lock lock(m_caLock);
    m_ca.clear();
    m_isCAs = false;
    return CURLSHE_OK;
}

CURLSHcode CurlShare::GetCA(std::wstring& path, bool& isCAs) {
    std::shared_lock lock(m_caLock);
    path = m_ca;
    isCAs = m_isCAs;
    return CURLSHE_OK;
}

CURLSHcode CurlShare::ShareUserAgent(const std::string& userAgent) {
    m_userAgent = userAgent;
    return CURLSHE_OK;
}

CURLSHcode CurlShare::UnShareUserAgent() {
    m_userAgent = std::string();
    return CURLSHE_OK;
}

std::string CurlShare::GetUserAgent() {
    return m_userAgent;
}

void CurlShare::ShareDataLock(CURL*, curl_lock_data data, curl_lock_access access, void* userptr) {
    auto* share = static_cast<CurlShare*>(userptr);
    if (share == nullptr || !IsLockedKind(data)) {
        return;
    }
    LockSlot& slot = share->m_locks[data];
    if (access == CURL_LOCK_ACCESS_SHARED) {
        slot.lock.lock_shared();
        slot.sharedHolders.fetch_add(1);
    } else if (access == CURL_LOCK_ACCESS_SINGLE) {
        slot.lock.lock();
        slot.owner.store(std::this_thread::get_id());
    } else {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::ShareDataLock", "unspuport lock type!",
                    detail::kNoPool);
    }
}

void CurlShare::ShareDataUnlock(CURL*, curl_lock_data data, void* userptr) {
    auto* share = static_cast<CurlShare*>(userptr);
    if (share == nullptr || !IsLockedKind(data)) {
        return;
    }
    LockSlot& slot = share->m_locks[data];
    // Only the holder knows how it holds the slot: the exclusive owner is
    // recorded by thread, shared holders by count.
    if (slot.owner.load() == std::this_thread::get_id()) {
        slot.owner.store(std::thread::id());
        slot.lock.unlock();
        return;
    }
    int holders = slot.sharedHolders.load();
    while (holders > 0 && !slot.sharedHolders.compare_exchange_weak(holders, holders - 1)) {
    }
    if (holders > 0) {
        slot.lock.unlock_shared();
        return;
    }
    CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlShare::ShareDataUnlock", "unspuport lock type!",
                detail::kNoPool);
}

} // namespace curlppx
