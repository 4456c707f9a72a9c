#include "curlppx/CurlConn.h"

#include "curlppx/CurlConnPool.h"
#include "curlppx/CurlShare.h"
#include "curlppx/detail/CallbackFrame.h"
#include "curlppx/detail/EngineLog.h"
#include "curlppx/detail/EventLoop.h"
#include "curlppx/detail/Paths.h"
#include "curlppx/detail/RedirectGuard.h"
#include "curlppx/detail/Request.h"
#include "curlppx/detail/UrlCoding.h"
#include "platform/ClientConstants.h"
#include "platform/Scribo.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <filesystem>
#include <limits>

namespace curlppx {

namespace {

constexpr size_t kAbortWrite = static_cast<size_t>(-1);
constexpr int64_t kSpeedWindowMs = 2000;
constexpr int64_t kSpeedStaleMs = 4000;
constexpr unsigned char kMaxRetries = 3;
constexpr const char* kFormContentType = "x-www-form-urlencoded; charset=utf-8";
constexpr const char* kRetryFunc =
    "curlppx::CurlConn::InitDefaultRetryCallback::<lambda_1>::operator ()";

bool Product(size_t size, size_t count, size_t& bytes) {
    if (size == 0 || count == 0 || count > std::numeric_limits<size_t>::max() / size) {
        return false;
    }
    bytes = size * count;
    return true;
}

bool IsBlank(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isspace(u) != 0 || std::iscntrl(u) != 0;
}

bool SameName(const std::string& a, const char* b) {
    return std::equal(a.begin(), a.end(), b, b + std::char_traits<char>::length(b),
                      [](char x, char y) {
                          return std::tolower(static_cast<unsigned char>(x)) ==
                                 std::tolower(static_cast<unsigned char>(y));
                      });
}

std::string Trim(const char* begin, const char* end) {
    while (begin < end && IsBlank(*begin)) {
        ++begin;
    }
    while (end > begin && IsBlank(*(end - 1))) {
        --end;
    }
    return std::string(begin, end);
}

template <typename F> std::shared_ptr<const F> Hold(F fn) {
    return fn ? std::make_shared<const F>(std::move(fn)) : nullptr;
}

} // namespace

template <typename T> CURLcode CurlConn::Opt(CURLoption option, T value) {
    if (m_handle == nullptr) {
        return CURLE_FAILED_INIT;
    }
    return curl_easy_setopt(m_handle, option, value);
}

int64_t CurlConn::NowMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

CurlConn::CurlConn()
    : m_handle(curl_easy_init()), m_redirectGuard(std::make_unique<detail::RedirectGuard>()) {
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlConn::CurlConn",
                    curl_easy_strerror(CURLE_FAILED_INIT), m_poolId);
        return;
    }
    Clear();
}

CurlConn::CurlConn(const CurlConn& other)
    : m_redirectGuard(std::make_unique<detail::RedirectGuard>()) {
    *this = other;
}

CurlConn& CurlConn::operator=(const CurlConn& other) {
    if (this == &other) {
        return *this;
    }
    LetGoOfRequest();
    TakeUrl(other.m_url);
    m_method = other.m_method;
    m_header = other.m_header;
    m_share = other.m_share;
    m_reqBody = other.m_reqBody;
    m_progressFunc = other.m_progressFunc;
    m_dlDelta.store(other.m_dlDelta.load());
    m_ulDelta.store(other.m_ulDelta.load());
    m_windowStart.store(other.m_windowStart.load());
    m_speedSamples = other.m_speedSamples;
    m_pool = other.m_pool;
    m_poolId = other.m_poolId;
    m_userData = other.m_userData;
    m_resHeader = other.m_resHeader;
    m_resMode = other.m_resMode;
    m_reqMode = other.m_reqMode;
    m_writeFunc = other.m_writeFunc;
    m_readFunc = other.m_readFunc;
    m_seekFunc = other.m_seekFunc;
    m_retryFunc = other.m_retryFunc;
    m_sslCtxFunc = other.m_sslCtxFunc;
    m_bearer = other.m_bearer;

    if (m_handle != nullptr) {
        curl_easy_cleanup(m_handle);
    }
    m_handle = other.m_handle != nullptr ? curl_easy_duphandle(other.m_handle) : nullptr;
    if (m_handle == nullptr) {
        CURLPPX_LOG(CURL_LOG_FATAL,
                    "curlppx::CurlConn::operator=", curl_easy_strerror(CURLE_FAILED_INIT),
                    m_poolId);
        return *this;
    }
    // The duplicate still names the source: its connection pointers, URL
    // handle, header list and body all belong to the other object.
    Opt(CURLOPT_PRIVATE, this);
    Opt(CURLOPT_HEADERDATA, this);
    Opt(CURLOPT_WRITEDATA, this);
    Opt(CURLOPT_READDATA, this);
    Opt(CURLOPT_SEEKDATA, this);
    Opt(CURLOPT_XFERINFODATA, this);
    Opt(CURLOPT_SSL_CTX_DATA, this);
    Opt(CURLOPT_CURLU, m_url.GetHandle());
    if (m_header.GetRawList()) {
        UpdateHeader();
    }
    if (!m_reqBody.empty()) {
        Opt(CURLOPT_POSTFIELDS, m_reqBody.c_str());
    }
    if (m_share) {
        Opt(CURLOPT_SHARE, m_share->GetHandle());
    }
    return *this;
}

CurlConn::~CurlConn() {
    LetGoOfRequest();
    if (m_handle != nullptr) {
        curl_easy_cleanup(m_handle);
        m_handle = nullptr;
    }
}

void CurlConn::Clear() {
    LetGoOfRequest();
    if (m_handle == nullptr) {
        m_handle = curl_easy_init();
    } else {
        curl_easy_reset(m_handle);
    }
    ClearShare();
    TakeUrl(CurlUrl());
    m_method = CURL_REQ_GET;
    ProgressEnable(false);
    m_resCode = 0;
    ClearReply();
    m_resMode = kResNone;
    m_reqMode = kReqNone;
    m_userData = nullptr;
    m_writeFunc = nullptr;
    m_readFunc = nullptr;
    m_seekFunc = nullptr;
    if (m_uploadFile.is_open()) {
        m_uploadFile.close();
    }
    m_uploadFile.clear();
    m_breakConn.store(false);
    m_sslCtxFunc = nullptr; // curl_easy_reset has removed it from the handle
    m_bearer = false;
    m_refusedRedirect.clear();
    m_retryCount = 0;
    m_needRetry = true;
    m_reqBody.clear();
    InitDefaultRetryCallback();
    InitDefaultCurlOption();
}

void CurlConn::InitDefaultCurlOption() {
    if (m_handle == nullptr) {
        return;
    }
    try {
        if (Opt(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC)) == CURLE_OK) {
            Opt(CURLOPT_XOAUTH2_BEARER, static_cast<const char*>(nullptr));
        }
        Opt(CURLOPT_NOSIGNAL, 1L);
        Opt(CURLOPT_DNS_CACHE_TIMEOUT, 300L);
        Opt(CURLOPT_TCP_FASTOPEN, 1L);
        Opt(CURLOPT_ACCEPT_ENCODING, "deflate");
        Opt(CURLOPT_FOLLOWLOCATION, 1L);
        Opt(CURLOPT_MAXREDIRS, 10L);
        Opt(CURLOPT_CONNECTTIMEOUT_MS, 5000L);
        Opt(CURLOPT_CONNECTTIMEOUT_MS, 20000L);
        Opt(CURLOPT_LOW_SPEED_LIMIT, 30L);
        Opt(CURLOPT_LOW_SPEED_TIME, 30L);
        Opt(CURLOPT_SSL_FALSESTART, 1L);
        Opt(CURLOPT_SSL_CIPHER_LIST, g_cipherList.c_str());
        Opt(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
        Opt(CURLOPT_HEADERFUNCTION, HeaderCallback);
        Opt(CURLOPT_HEADERDATA, this);
        Opt(CURLOPT_WRITEFUNCTION, static_cast<curl_write_callback>(nullptr));
        Opt(CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
        Opt(CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(-1));
        Opt(CURLOPT_READFUNCTION, static_cast<curl_read_callback>(nullptr));
        Opt(CURLOPT_READDATA, static_cast<void*>(nullptr));
        Opt(CURLOPT_PRIVATE, this);
        m_pool.reset();
    } catch (const std::exception&) {
        CURLPPX_LOG(CURL_LOG_FATAL, "curlppx::CurlConn::InitDefaultCurlOption",
                    "execCode is exception", m_poolId);
    }
}

std::string CurlConn::GetMethodStr(CurlReqMethod method) {
    static const char* const kNames[] = {"get",   "post", "put",     "delete",
                                         "patch", "head", "options", "trace"};
    const auto index = static_cast<unsigned int>(method);
    return index < std::size(kNames) ? kNames[index] : "get";
}

CURLcode CurlConn::SetMethod(CurlReqMethod method) {
    switch (method) {
    case CURL_REQ_GET:
        return Opt(CURLOPT_HTTPGET, 1L);
    case CURL_REQ_POST:
        return Opt(CURLOPT_POST, 1L);
    case CURL_REQ_PUT:
        return Opt(CURLOPT_UPLOAD, 1L);
    case CURL_REQ_DELETE:
        return Opt(CURLOPT_CUSTOMREQUEST, "DELETE");
    case CURL_REQ_PATCH:
        return Opt(CURLOPT_CUSTOMREQUEST, "PATCH");
    case CURL_REQ_HEAD:
        return Opt(CURLOPT_NOBODY, 1L);
    case CURL_REQ_OPTIONS:
        return Opt(CURLOPT_CUSTOMREQUEST, "OPTIONS");
    case CURL_REQ_TRACE:
        return Opt(CURLOPT_CUSTOMREQUEST, "TRACE");
    }
    return CURLE_UNKNOWN_OPTION;
}

CURLcode CurlConn::SetURL(const CurlUrl& url) {
    if (m_handle == nullptr) {
        return CURLE_FAILED_INIT;
    }
    CurlUrl copy(url);
    const CURLcode code = Opt(CURLOPT_CURLU, copy.GetHandle());
    if (code == CURLE_OK) {
        TakeUrl(std::move(copy));
    }
    return code;
}

void CurlConn::TakeUrl(CurlUrl url) {
    m_url = std::move(url);
    m_urlText.clear();
    m_urlHasUser = false;
    if (CURLU* handle = m_url.GetHandle()) {
        // Read directly: an empty URL is not a failure worth a log line here.
        char* text = nullptr;
        if (curl_url_get(handle, CURLUPART_URL, &text, CURLU_NO_DEFAULT_PORT) == CURLUE_OK) {
            m_urlText = text;
        }
        curl_free(text);
        char* user = nullptr;
        m_urlHasUser = curl_url_get(handle, CURLUPART_USER, &user, 0) == CURLUE_OK;
        curl_free(user);
    }
}

CURLcode CurlConn::SetURL(const std::string& url) {
    CurlUrl parsed;
    if (parsed.FromStr(url) != CURLUE_OK) {
        return CURLE_URL_MALFORMAT;
    }
    return SetURL(parsed);
}

std::string CurlConn::GetURL() {
    return m_url.GetStr();
}

CURLcode CurlConn::SetSSLVerify(const std::string& certType) {
    CURLcode code = Opt(CURLOPT_SSLCERTTYPE, certType.c_str());
    if (code == CURLE_OK) {
        code = Opt(CURLOPT_SSL_VERIFYHOST, 2L);
    }
    if (code == CURLE_OK) {
        code = Opt(CURLOPT_SSL_VERIFYPEER, 1L);
    }
    return code;
}

CURLcode CurlConn::SetSSLUnVerify() {
    CURLcode code = Opt(CURLOPT_SSLCERTTYPE, "PEM");
    if (code == CURLE_OK) {
        code = Opt(CURLOPT_SSL_VERIFYHOST, 0L);
    }
    if (code == CURLE_OK) {
        code = Opt(CURLOPT_SSL_VERIFYPEER, 0L);
    }
    if (code == CURLE_OK) {
        // Builds without OCSP stapling answer NOT_BUILT_IN; off is off.
        const CURLcode status = Opt(CURLOPT_SSL_VERIFYSTATUS, 0L);
        code = status == CURLE_NOT_BUILT_IN ? CURLE_OK : status;
    }
    return code;
}

CURLcode CurlConn::ApplyCA(const std::wstring& path, bool isDir, const char* func) {
    const std::wstring normal = detail::NormaliseCaPath(path);
    std::error_code error;
    const auto status = std::filesystem::status(std::filesystem::path(normal), error);
    if (error && error != std::errc::no_such_file_or_directory) {
        CURLPPX_LOG(CURL_LOG_ERROR, func, error.message(), m_poolId);
        return kEngineError;
    }
    if (!std::filesystem::exists(status) || std::filesystem::is_directory(status) != isDir) {
        return kEngineError;
    }
    const std::string narrow = detail::ToSystemPath(normal);
    if (isDir) {
        CURLcode code = Opt(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
        return code == CURLE_OK ? Opt(CURLOPT_CAPATH, narrow.c_str()) : code;
    }
    CURLcode code = Opt(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    return code == CURLE_OK ? Opt(CURLOPT_CAINFO, narrow.c_str()) : code;
}

CURLcode CurlConn::SetCA(const std::wstring& file) {
    return ApplyCA(file, false, "curlppx::CurlConn::SetCA");
}

CURLcode CurlConn::SetCAs(const std::wstring& dir) {
    return ApplyCA(dir, true, "curlppx::CurlConn::SetCAs");
}

CURLcode CurlConn::ClearCA() {
    const CURLcode code = Opt(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
    return code == CURLE_OK ? Opt(CURLOPT_CAPATH, static_cast<const char*>(nullptr)) : code;
}

CURLcode CurlConn::SetRange(int64_t from, int64_t to) {
    std::string range = std::to_string(from) + "-";
    if (to > from) {
        range += std::to_string(to);
    }
    return Opt(CURLOPT_RANGE, range.c_str());
}

CURLcode CurlConn::ClearRange() {
    return Opt(CURLOPT_RANGE, static_cast<const char*>(nullptr));
}

CURLcode CurlConn::SetUserAgent(const std::string& userAgent) {
    return Opt(CURLOPT_USERAGENT, userAgent.c_str());
}

CURLcode CurlConn::ClearUserAgent() {
    return Opt(CURLOPT_USERAGENT, static_cast<const char*>(nullptr));
}

CurlHeader CurlConn::GetHeader() {
    return m_header;
}

CURLcode CurlConn::SetHeader(const std::string& name, const std::string& value) {
    if (!m_header.SetField(name, value)) {
        return kEngineError;
    }
    return UpdateHeader();
}

CURLcode CurlConn::SetHeader(CurlHeader& header) {
    Opt(CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    m_header = header;
    return UpdateHeader();
}

CURLcode CurlConn::UpdateHeader() {
    const auto raw = m_header.GetRawList();
    if (!raw) {
        return kEngineError;
    }
    return Opt(CURLOPT_HTTPHEADER, raw->GetListPtr());
}

CURLcode CurlConn::ClearHeader() {
    const CURLcode code = Opt(CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    m_header.Clear();
    return code;
}

CURLcode CurlConn::SetShare(std::shared_ptr<CurlShare> share) {
    if (!share) {
        return kEngineError;
    }
    if (m_handle == nullptr) {
        return CURLE_FAILED_INIT;
    }
    const CURLcode code = Opt(CURLOPT_SHARE, share->GetHandle());
    if (code != CURLE_OK) {
        return code;
    }
    m_share = share;
    const std::string certType = share->GetSSLVerify();
    if (!certType.empty()) {
        SetSSLVerify(certType);
    }
    std::wstring ca;
    bool isCAs = false;
    share->GetCA(ca, isCAs);
    if (!ca.empty()) {
        if (isCAs) {
            SetCAs(ca);
        } else {
            SetCA(ca);
        }
    }
    const std::string userAgent = share->GetUserAgent();
    if (!userAgent.empty()) {
        Opt(CURLOPT_USERAGENT, userAgent.c_str());
    }
    if (const auto header = share->GetHeader()) {
        SetHeader(*header);
    }
    return code;
}

CURLcode CurlConn::ClearShare() {
    const CURLcode code = Opt(CURLOPT_SHARE, static_cast<CURLSH*>(nullptr));
    ClearHeader();
    Opt(CURLOPT_USERAGENT, static_cast<const char*>(nullptr));
    if (Opt(CURLOPT_CAINFO, static_cast<const char*>(nullptr)) == CURLE_OK) {
        Opt(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
    }
    SetSSLUnVerify();
    if (code != CURLE_OK) {
        return code;
    }
    m_share.reset();
    return CURLE_OK;
}

CURLcode CurlConn::OauthByBearer(const std::string& token) {
    m_bearer = true;
    const CURLcode code = Opt(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BEARER));
    return code == CURLE_OK ? Opt(CURLOPT_XOAUTH2_BEARER, token.c_str()) : code;
}

CURLcode CurlConn::OauthClear() {
    m_bearer = false;
    const CURLcode code = Opt(CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    return code == CURLE_OK ? Opt(CURLOPT_XOAUTH2_BEARER, static_cast<const char*>(nullptr)) : code;
}

CURLcode CurlConn::ProgressEnable(bool on) {
    CURLcode code = CURLE_OK;
    if (on) {
        code = Opt(CURLOPT_NOPROGRESS, 0L);
        if (code == CURLE_OK) {
            code = Opt(CURLOPT_XFERINFOFUNCTION, ProgressCallback);
        }
        if (code == CURLE_OK) {
            code = Opt(CURLOPT_XFERINFODATA, this);
        }
    } else {
        code = Opt(CURLOPT_NOPROGRESS, 1L);
        if (code == CURLE_OK) {
            code = Opt(CURLOPT_XFERINFOFUNCTION, static_cast<curl_xferinfo_callback>(nullptr));
        }
        if (code == CURLE_OK) {
            code = Opt(CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
        }
        m_progressFunc = nullptr;
    }
    m_dlDelta.store(0);
    m_ulDelta.store(0);
    m_windowStart.store(0);
    m_speedSamples.clear();
    return code;
}

void CurlConn::SetProgressCB(ProgressFunc fn) {
    if (fn) {
        m_progressFunc = Hold(std::move(fn));
    }
}

void CurlConn::SetRetryCallback(RetryFunc fn) {
    m_retryFunc = Hold(std::move(fn));
}

void CurlConn::SetSslCtxFunction(SslCtxFunc fn) {
    m_sslCtxFunc = Hold(std::move(fn));
    if (m_sslCtxFunc) {
        Opt(CURLOPT_SSL_CTX_FUNCTION, SslCtxCallback);
        Opt(CURLOPT_SSL_CTX_DATA, this);
    } else {
        Opt(CURLOPT_SSL_CTX_FUNCTION, static_cast<curl_ssl_ctx_callback>(nullptr));
        Opt(CURLOPT_SSL_CTX_DATA, static_cast<void*>(nullptr));
    }
}

CURLcode CurlConn::SslCtxCallback(CURL* easy, void* sslCtx, void* userp) {
    auto* conn = static_cast<CurlConn*>(userp);
    const auto hook = conn != nullptr ? conn->m_sslCtxFunc : nullptr;
    if (!hook) {
        return CURLE_OK;
    }
    detail::CallbackFrame frame(conn, true);
    try {
        const CURLcode code = (*hook)(easy, sslCtx);
        return frame.ConnLetGo() || conn->BreakRequested() ? CURLE_ABORTED_BY_CALLBACK : code;
    } catch (...) {
        // Nothing may unwind through libcurl; a hook that fails refuses.
        return CURLE_SSL_CONNECT_ERROR;
    }
}

std::string CurlConn::UrlEncode(const std::string& text) {
    return detail::Escape(m_handle, text);
}

std::string CurlConn::UrlUncode(const std::string& text) {
    return detail::Unescape(m_handle, text);
}

bool CurlConn::IsRecycled() {
    return m_recycled.load();
}

void CurlConn::SetRecycled(bool recycled) {
    m_recycled.store(recycled);
}

// ---- Requests -------------------------------------------------------------

CURLcode CurlConn::ResetMethodOptions() {
    // The handle keeps what the previous request set: a custom verb, a body
    // switch or an upload switch would otherwise turn a GET into something else.
    CURLcode code = Opt(CURLOPT_CUSTOMREQUEST, static_cast<const char*>(nullptr));
    if (code == CURLE_OK) {
        code = Opt(CURLOPT_NOBODY, 0L);
    }
    if (code == CURLE_OK) {
        code = Opt(CURLOPT_UPLOAD, 0L);
    }
    return code;
}

void CurlConn::SelectMethod(CurlReqMethod method) {
    ResetMethodOptions();
    // m_method changes only when libcurl took the option.
    if (SetMethod(method) == CURLE_OK) {
        m_method = method;
    }
}

CurlConn::Description CurlConn::Fetch(CurlReqMethod method) {
    Description desc;
    desc.method = method;
    desc.sink = method == CURL_REQ_HEAD ? Description::Sink::None : Description::Sink::Memory;
    return desc;
}

CurlConn::Description CurlConn::Send(CurlReqMethod method, std::string body,
                                     const char* contentType) {
    Description desc;
    desc.method = method;
    desc.body = Description::Body::Text;
    desc.text = std::move(body);
    desc.contentType = contentType;
    return desc;
}

CurlConn::Description CurlConn::Form(CurlReqMethod method, const Fields& fields, bool encode) {
    return Send(method, PackageFields(fields, encode), kFormContentType);
}

std::future<CURLcode> CurlConn::FutureOf(const std::shared_ptr<detail::Request>& request) {
    return request->Future();
}

std::future<CURLcode> CurlConn::HttpHead() {
    return FutureOf(Run(Fetch(CURL_REQ_HEAD), nullptr));
}
void CurlConn::HttpHead(DoneFunc cb) {
    Run(Fetch(CURL_REQ_HEAD), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpGet() {
    return FutureOf(Run(Fetch(CURL_REQ_GET), nullptr));
}
void CurlConn::HttpGet(DoneFunc cb) {
    Run(Fetch(CURL_REQ_GET), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpDelete() {
    return FutureOf(Run(Fetch(CURL_REQ_DELETE), nullptr));
}
void CurlConn::HttpDelete(DoneFunc cb) {
    Run(Fetch(CURL_REQ_DELETE), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpPost(const Fields& fields, bool encode) {
    return FutureOf(Run(Form(CURL_REQ_POST, fields, encode), nullptr));
}
void CurlConn::HttpPost(const Fields& fields, DoneFunc cb, bool encode) {
    Run(Form(CURL_REQ_POST, fields, encode), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpPost(const std::string& body, const char* contentType) {
    return FutureOf(Run(Send(CURL_REQ_POST, body, contentType), nullptr));
}
void CurlConn::HttpPost(const std::string& body, DoneFunc cb, const char* contentType) {
    Run(Send(CURL_REQ_POST, body, contentType), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpPut(const Fields& fields, bool encode) {
    return FutureOf(Run(Form(CURL_REQ_PUT, fields, encode), nullptr));
}
void CurlConn::HttpPut(const Fields& fields, DoneFunc cb, bool encode) {
    Run(Form(CURL_REQ_PUT, fields, encode), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpPut(const std::string& body, const char* contentType) {
    return FutureOf(Run(Send(CURL_REQ_PUT, body, contentType), nullptr));
}
void CurlConn::HttpPut(const std::string& body, DoneFunc cb, const char* contentType) {
    Run(Send(CURL_REQ_PUT, body, contentType), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpPatch(const Fields& fields, bool encode) {
    return FutureOf(Run(Form(CURL_REQ_PATCH, fields, encode), nullptr));
}
void CurlConn::HttpPatch(const Fields& fields, DoneFunc cb, bool encode) {
    Run(Form(CURL_REQ_PATCH, fields, encode), std::move(cb));
}
std::future<CURLcode> CurlConn::HttpPatch(const std::string& body, const char* contentType) {
    return FutureOf(Run(Send(CURL_REQ_PATCH, body, contentType), nullptr));
}
void CurlConn::HttpPatch(const std::string& body, DoneFunc cb, const char* contentType) {
    Run(Send(CURL_REQ_PATCH, body, contentType), std::move(cb));
}

std::future<CURLcode> CurlConn::HttpDownload(WriteFunc fn, void* userData) {
    Description desc = Fetch(CURL_REQ_GET);
    desc.sink = Description::Sink::Writer;
    desc.write = std::move(fn);
    desc.userData = userData;
    return FutureOf(Run(std::move(desc), nullptr));
}

std::future<CURLcode> CurlConn::HttpUpload(std::wstring path, int64_t offset) {
    Description desc;
    desc.body = Description::Body::File;
    desc.path = std::move(path);
    desc.offset = offset;
    return FutureOf(Run(std::move(desc), nullptr));
}

std::future<CURLcode> CurlConn::HttpUpload(int64_t size, ReadFunc fn, void* userData,
                                           SeekFunc seek) {
    Description desc;
    desc.body = Description::Body::Source;
    desc.size = size;
    desc.read = std::move(fn);
    desc.seek = std::move(seek);
    desc.userData = userData;
    return FutureOf(Run(std::move(desc), nullptr));
}

// The protected forms start with what the handle holds, or as their name says.
std::future<CURLcode> CurlConn::Request() {
    return FutureOf(Start(nullptr));
}
std::future<CURLcode> CurlConn::RequestByFields(const Fields& fields, bool encode) {
    return FutureOf(Run(Form(m_method, fields, encode), nullptr));
}
std::future<CURLcode> CurlConn::RequestByString(const std::string& body, const char* contentType) {
    return FutureOf(Run(Send(m_method, body, contentType), nullptr));
}
std::future<CURLcode> CurlConn::RequestToString() {
    return FutureOf(Run(Fetch(m_method), nullptr));
}
std::future<CURLcode> CurlConn::RequestHeaderOnly() {
    return FutureOf(Run(Fetch(CURL_REQ_HEAD), nullptr));
}
void CurlConn::RequestAsync() {
    Start(nullptr);
}
void CurlConn::RequestByFieldsAsync(const Fields& fields, bool encode) {
    Run(Form(m_method, fields, encode), nullptr);
}
void CurlConn::RequestByStringAsync(const std::string& body, const char* contentType) {
    Run(Send(m_method, body, contentType), nullptr);
}
void CurlConn::RequestToStringAsync() {
    Run(Fetch(m_method), nullptr);
}
void CurlConn::RequestHeaderOnlyAsync() {
    Run(Fetch(CURL_REQ_HEAD), nullptr);
}

std::shared_ptr<detail::Request> CurlConn::Run(Description desc, DoneFunc done) {
    if (detail::CallbackFrame::InsideLibcurl() && m_inMulti) {
        // Started from a callback while this connection's transfer runs: its
        // handle can neither leave the multi handle here nor be set up anew.
        auto request = std::make_shared<detail::Request>(std::move(done));
        request->Complete(kEngineError);
        return request;
    }
    LetGoOfRequest(); // a request still running on this connection ends first
    if (!ApplyBody(desc)) {
        auto request = std::make_shared<detail::Request>(std::move(done));
        request->Complete(CURLE_FILE_COULDNT_READ_FILE);
        return request;
    }
    ApplySink(desc);
    return Start(std::move(done));
}

bool CurlConn::ApplyBody(Description& desc) {
    using Body = Description::Body;
    m_reqMode = kReqNone;
    m_readFunc = nullptr;
    m_seekFunc = nullptr;
    m_uploadRead = 0;
    curl_off_t uploadSize = -1;
    switch (desc.body) {
    case Body::None:
        SelectMethod(desc.method);
        break;
    case Body::Text:
        SelectMethod(desc.method);
        m_reqBody = std::move(desc.text);
        m_reqBodySent = 0;
        if (m_method == CURL_REQ_PUT) {
            // An upload takes its body from the read callback and ignores
            // POSTFIELDS, so a PUT reads it from memory.
            m_reqMode = kReqMemory;
            uploadSize = static_cast<curl_off_t>(m_reqBody.size());
        } else {
            Opt(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(m_reqBody.size()));
            Opt(CURLOPT_POSTFIELDS, m_reqBody.c_str());
        }
        // A null type leaves the header as it is rather than crash.
        if (desc.contentType != nullptr && m_header.SetField("Content-Type", desc.contentType)) {
            UpdateHeader();
        }
        break;
    case Body::File: {
        std::error_code error;
        const auto size = std::filesystem::file_size(
            std::filesystem::path(detail::ToSystemPath(desc.path)), error);
        if (error || desc.offset > static_cast<int64_t>(size) ||
            !OpenReadFileToStream(m_uploadFile, desc.path, desc.offset)) {
            return false;
        }
        m_uploadOffset = desc.offset < 1 ? 0 : desc.offset;
        m_reqMode = kReqFile;
        uploadSize = static_cast<curl_off_t>(size) - m_uploadOffset;
        break;
    }
    case Body::Source:
        m_reqMode = kReqCallback;
        m_readFunc = Hold(std::move(desc.read));
        m_seekFunc = Hold(std::move(desc.seek));
        uploadSize = desc.size;
        break;
    }
    if (desc.body == Body::File || desc.body == Body::Source) {
        ResetMethodOptions();
        Opt(CURLOPT_UPLOAD, 1L);
        Opt(CURLOPT_CUSTOMREQUEST, "POST");
    }
    Opt(CURLOPT_INFILESIZE_LARGE, uploadSize);
    const bool reads = m_reqMode != kReqNone;
    Opt(CURLOPT_READFUNCTION, reads ? ReadCallback : static_cast<curl_read_callback>(nullptr));
    Opt(CURLOPT_READDATA, reads ? this : nullptr);
    // libcurl rewinds by itself too, when it resends on a connection that
    // died while reused, or follows a 307.
    Opt(CURLOPT_SEEKFUNCTION, reads ? SeekCallback : static_cast<curl_seek_callback>(nullptr));
    Opt(CURLOPT_SEEKDATA, reads ? this : nullptr);
    return true;
}

void CurlConn::ApplySink(Description& desc) {
    using Sink = Description::Sink;
    m_resMode = desc.sink == Sink::Memory   ? kResMemory
                : desc.sink == Sink::Writer ? kResCallback
                                            : kResNone;
    m_writeFunc = Hold(std::move(desc.write));
    m_userData = desc.userData;
    const bool writes = desc.sink != Sink::None;
    Opt(CURLOPT_WRITEFUNCTION, writes ? WriteCallback : static_cast<curl_write_callback>(nullptr));
    Opt(CURLOPT_WRITEDATA, writes ? this : nullptr);
}

std::shared_ptr<detail::Request> CurlConn::Start(DoneFunc done) {
    auto request = std::make_shared<detail::Request>(std::move(done));
    {
        std::lock_guard lock(m_requestMtx);
        m_request = request;
    }
    // Read again only when empty, for the log line the failed read gives.
    const std::string& url = m_urlText.empty() ? (m_urlText = m_url.GetStr()) : m_urlText;
    if (url.empty()) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlConn::RequestAsync", "url is empty!", m_poolId);
        ClearReply();
        // Completes at once so that no future or callback waits forever.
        Finish(request, CURLE_URL_MALFORMAT, false);
        return request;
    }
    if (CurlGlobal::GetStandByDnsFlag()) {
        Opt(CURLOPT_DNS_SERVERS, CurlGlobal::GetStandByDns().c_str());
    }
    m_refusedRedirect.clear();
    m_redirectGuard->Arm(url, CarriesCredentials());
    auto pool = m_pool.lock();
    if (!pool) {
        ClearReply();
        Finish(request, kEngineError, true);
        return request;
    }
    detail::EventLoop::Instance().Post(
        [pool = std::move(pool), this, request] { pool->StartOnLoop(this, request); });
    return request;
}

std::shared_ptr<detail::Request> CurlConn::CurrentRequest() {
    std::lock_guard lock(m_requestMtx);
    return m_request;
}

void CurlConn::LetGoOfRequest() {
    detail::CallbackFrame::LetGo(this);
    auto request = CurrentRequest();
    if (!request || request->Completed()) {
        return;
    }
    if (auto pool = m_pool.lock()) {
        detail::EventLoop::Instance().RunAndWait(
            [&pool, this, &request] { pool->EndOnLoop(this, request, true); });
    }
    Finish(request, kBroken, false);
}

std::string CurlConn::PackageFields(const Fields& fields, bool encode) {
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty()) {
            out += '&';
        }
        out += key;
        out += '=';
        out += encode ? CurlGlobal::UrlEncode(value) : value;
    }
    return out;
}

bool CurlConn::OpenReadFileToStream(std::fstream& stream, std::wstring& path, int64_t offset) {
    try {
        if (stream.is_open()) {
            stream.close();
        }
        stream.clear();
        stream.open(detail::ToSystemPath(path), std::ios::in | std::ios::binary);
        if (!stream.is_open()) {
            stream.setstate(std::ios::failbit);
            return false;
        }
        if (offset < 1) {
            return true;
        }
        if (stream.seekg(offset, std::ios::beg)) {
            return true;
        }
        stream.close();
        stream.clear();
        return false;
    } catch (const std::exception& e) {
        CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlConn::OpenReadFileToStream", e.what(), m_poolId);
        return false;
    }
}

void CurlConn::OnRequestDone(CURLcode code) {
    if (m_running) {
        Finish(m_running, code, true);
    }
}

void CurlConn::Finish(const std::shared_ptr<detail::Request>& request, CURLcode code,
                      bool logFailure, bool beforeNextPoll) {
    if (request->Completed()) {
        return;
    }
    if (logFailure && m_resMode == kResMemory) {
        const long status = GetResCode();
        if (code != CURLE_OK || status < 200 || status > 299) {
            CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlConn::OnRequestDone",
                        "errCode=" + std::to_string(code) +
                            " and httpCode=" + std::to_string(status),
                        m_poolId);
        }
    }
    if (m_uploadFile.is_open()) {
        m_uploadFile.close();
    }
    m_uploadFile.clear();
    if (beforeNextPoll) {
        request->CompleteBeforeNextPoll(code);
    } else {
        request->Complete(code);
    }
}

void CurlConn::ClearReply() {
    m_resHeader.clear();
    m_resBody.str(std::string());
    m_resBody.clear();
}

bool CurlConn::PrepareRetry() {
    if (m_uploadRead > 0 && !RewindUpload(0)) {
        return false;
    }
    m_resHeader.clear();
    if (m_resMode == kResMemory) {
        m_resBody.str(std::string());
        m_resBody.clear();
    }
    return true;
}

bool CurlConn::RewindUpload(int64_t offset) {
    bool rewound = false;
    switch (m_reqMode) {
    case kReqMemory:
        rewound = offset >= 0 && static_cast<size_t>(offset) <= m_reqBody.size();
        if (rewound) {
            m_reqBodySent = static_cast<size_t>(offset);
        }
        break;
    case kReqFile:
        m_uploadFile.clear();
        rewound = m_uploadFile.is_open() &&
                  static_cast<bool>(m_uploadFile.seekg(m_uploadOffset + offset, std::ios::beg));
        break;
    case kReqCallback:
        if (const auto seek = m_seekFunc) {
            rewound = (*seek)(offset, m_userData);
        }
        break;
    default:
        rewound = true;
        break;
    }
    if (rewound) {
        m_uploadRead = offset;
    }
    return rewound;
}

int CurlConn::SeekCallback(void* userp, curl_off_t offset, int origin) {
    auto* conn = static_cast<CurlConn*>(userp);
    if (conn == nullptr || origin != SEEK_SET) {
        return CURL_SEEKFUNC_CANTSEEK;
    }
    detail::CallbackFrame frame(conn, true);
    const bool rewound = conn->RewindUpload(offset);
    if (frame.ConnLetGo()) {
        return CURL_SEEKFUNC_FAIL;
    }
    return rewound ? CURL_SEEKFUNC_OK : CURL_SEEKFUNC_CANTSEEK;
}

// ---- Data callbacks (loop thread) -----------------------------------------

bool CurlConn::BreakRequested() const {
    return m_breakConn.load(std::memory_order_relaxed) || (m_running && m_running->BreakAsked());
}

size_t CurlConn::WriteCallback(char* ptr, size_t size, size_t nmemb, void* userp) {
    auto* conn = static_cast<CurlConn*>(userp);
    size_t bytes = 0;
    if (ptr == nullptr || conn == nullptr || !Product(size, nmemb, bytes)) {
        return 0;
    }
    if (conn->BreakRequested()) {
        return kAbortWrite;
    }
    switch (conn->m_resMode) {
    case kResMemory:
        conn->m_resBody.write(ptr, static_cast<std::streamsize>(bytes));
        return bytes;
    case kResCallback: {
        const auto write = conn->m_writeFunc;
        if (!write) {
            return bytes;
        }
        detail::CallbackFrame frame(conn, true);
        const size_t taken = (*write)(ptr, size, nmemb, conn->m_userData);
        // The sink may have broken, cleared or dropped the connection.
        return frame.ConnLetGo() || conn->BreakRequested() ? kAbortWrite : taken;
    }
    default:
        return kAbortWrite;
    }
}

size_t CurlConn::ReadCallback(char* buffer, size_t size, size_t nitems, void* userp) {
    auto* conn = static_cast<CurlConn*>(userp);
    size_t bytes = 0;
    if (buffer == nullptr || !Product(size, nitems, bytes)) {
        return 0;
    }
    // Without its connection a source has nothing more to give, and 0 would
    // end the body short as if it were complete.
    if (conn == nullptr || conn->BreakRequested()) {
        return CURL_READFUNC_ABORT;
    }
    try {
        switch (conn->m_reqMode) {
        case kReqMemory: {
            const size_t left = conn->m_reqBody.size() - conn->m_reqBodySent;
            const size_t n = std::min(left, bytes);
            conn->m_reqBody.copy(buffer, n, conn->m_reqBodySent);
            conn->m_reqBodySent += n;
            conn->m_uploadRead += static_cast<int64_t>(n);
            return n;
        }
        case kReqFile: {
            auto& file = conn->m_uploadFile;
            if (file.eof()) {
                return 0;
            }
            if (!file.is_open() || !file.good()) {
                return CURL_READFUNC_ABORT;
            }
            file.read(buffer, static_cast<std::streamsize>(bytes));
            conn->m_uploadRead += file.gcount();
            return static_cast<size_t>(file.gcount());
        }
        case kReqCallback: {
            const auto read = conn->m_readFunc;
            if (!read) {
                return CURL_READFUNC_ABORT;
            }
            detail::CallbackFrame frame(conn, true);
            const size_t given = (*read)(buffer, bytes, buffer + bytes, conn->m_userData);
            if (frame.ConnLetGo() || conn->BreakRequested()) {
                return CURL_READFUNC_ABORT;
            }
            if (given <= bytes) {
                conn->m_uploadRead += static_cast<int64_t>(given);
            }
            return given;
        }
        default:
            return CURL_READFUNC_ABORT;
        }
    } catch (...) {
        return CURL_READFUNC_ABORT;
    }
}

size_t CurlConn::HeaderCallback(char* buffer, size_t size, size_t nitems, void* userp) {
    auto* conn = static_cast<CurlConn*>(userp);
    size_t bytes = 0;
    if (buffer == nullptr || conn == nullptr || !Product(size, nitems, bytes)) {
        return 0;
    }
    const char* end = buffer + bytes;
    const char* colon = std::find(static_cast<const char*>(buffer), end, ':');
    if (colon != end && colon + 1 != end) {
        std::string name = Trim(buffer, colon);
        std::string value = Trim(colon + 1, end);
        if (!name.empty() && !value.empty()) {
            if (SameName(name, "Location") && conn->RefuseRedirect(value)) {
                return 0;
            }
            conn->m_resHeader[std::move(name)] = std::move(value);
        }
    }
    if (conn->BreakRequested()) {
        return 0;
    }
    return bytes;
}

bool CurlConn::CarriesCredentials() {
    for (const auto& [name, value] : m_header.ToMap()) {
        if (SameName(name, "Token") || SameName(name, "Cookie") ||
            SameName(name, "Authorization")) {
            return true;
        }
    }
    return m_bearer || m_urlHasUser;
}

bool CurlConn::RefuseRedirect(const std::string& location) {
    long status = 0;
    char* current = nullptr;
    curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_getinfo(m_handle, CURLINFO_EFFECTIVE_URL, &current);
    // libcurl follows a Location only in a 3xx reply, and not in a 304.
    if (status < 300 || status > 399 || status == 304) {
        return false;
    }
    std::string target = m_redirectGuard->Refusal(current != nullptr ? current : "", location);
    if (target.empty()) {
        return false;
    }
    CURLPPX_LOG(CURL_LOG_ERROR, "curlppx::CurlConn::HeaderCallback", "redirect refused: " + target,
                m_poolId);
    m_refusedRedirect = std::move(target);
    return true;
}

std::string CurlConn::GetRefusedRedirect() {
    return m_refusedRedirect;
}

int CurlConn::ProgressCallback(void* userp, curl_off_t dltotal, curl_off_t dlnow,
                               curl_off_t ultotal, curl_off_t ulnow) {
    auto* conn = static_cast<CurlConn*>(userp);
    if (conn == nullptr) {
        return CURLE_ABORTED_BY_CALLBACK;
    }
    conn->UpdateSpeed(dlnow, ulnow);
    if (conn->BreakRequested()) {
        return CURLE_ABORTED_BY_CALLBACK;
    }
    const auto progress = conn->m_progressFunc;
    if ((dltotal < 1 && dlnow < 1 && ultotal < 1 && ulnow < 1) || !progress) {
        return CURL_PROGRESSFUNC_CONTINUE;
    }
    const double dlFraction =
        dltotal == 0 ? 0.0 : static_cast<double>(dlnow) / static_cast<double>(dltotal);
    const double ulFraction =
        ultotal == 0 ? 0.0 : static_cast<double>(ulnow) / static_cast<double>(ultotal);
    detail::CallbackFrame frame(conn, true);
    (*progress)(dlFraction, ulFraction, conn->GetDownloadSpeed(), conn->GetUploadSpeed());
    return frame.ConnLetGo() || conn->BreakRequested() ? CURLE_ABORTED_BY_CALLBACK
                                                       : CURL_PROGRESSFUNC_CONTINUE;
}

void CurlConn::UpdateSpeed(int64_t dlnow, int64_t ulnow) {
    const int64_t now = NowMs();
    m_speedSamples.emplace_back(now, ulnow, dlnow);
    bool removed = false;
    std::tuple<int64_t, int64_t, int64_t> last;
    while (!m_speedSamples.empty() && std::get<0>(m_speedSamples.front()) < now - kSpeedWindowMs) {
        last = m_speedSamples.front();
        m_speedSamples.pop_front();
        removed = true;
    }
    if (removed) {
        m_speedSamples.push_front(last);
    }
    const auto& front = m_speedSamples.front();
    const auto& back = m_speedSamples.back();
    m_dlDelta.store(std::get<2>(back) - std::get<2>(front));
    m_ulDelta.store(std::get<1>(back) - std::get<1>(front));
    m_windowStart.store(std::get<0>(front));
}

int64_t CurlConn::GetDownloadSpeed() {
    const int64_t elapsed = NowMs() - m_windowStart.load();
    const int64_t delta = m_dlDelta.load();
    if (elapsed == 0 || (elapsed >= kSpeedStaleMs && delta < 1)) {
        return 0;
    }
    const int64_t speed = delta * 1000 / elapsed;
    return speed < 0 ? 0 : speed;
}

int64_t CurlConn::GetUploadSpeed() {
    const int64_t elapsed = NowMs() - m_windowStart.load();
    if (elapsed == 0 || elapsed >= kSpeedStaleMs) {
        return 0;
    }
    const int64_t speed = m_ulDelta.load() * 1000 / elapsed;
    return speed < 0 ? 0 : speed;
}

// ---- Control and results --------------------------------------------------

void CurlConn::Break() {
    auto request = CurrentRequest();
    if (!request || request->Completed() || !request->AskBreak()) {
        return;
    }
    if (auto pool = m_pool.lock()) {
        // Waits for the loop thread, except on the loop thread itself.
        detail::EventLoop::Instance().RunAndWait(
            [&pool, this, &request] { pool->EndOnLoop(this, request, false); });
    }
}

void CurlConn::BreakConn() {
    m_breakConn.store(true);
}

bool CurlConn::NeedBreakCallback() {
    return m_running && m_running->BreakAsked();
}

void CurlConn::InitDefaultRetryCallback() {
    // Judges the connection it is called with, so one instance serves all.
    static const auto kDefault = Hold<RetryFunc>([](CurlConn* conn, CURLcode code) {
        const long status = conn->GetResCode();
        if (status == conn->m_expiredCode) {
            CurlGlobal::SetAtIsExpired(true);
            conn->m_resCode = 0;
            CURLPPX_LOG(CURL_LOG_INFO, kRetryFunc, "SetAtIsExpired", conn->m_poolId);
            return false;
        }
        if (code != CURLE_OK) {
            const bool retry = conn->CheckNeedRetry(code);
            Scribo::Output(Scribo::subTrans, Scribo::LOG_ERROR, __LINE__, kRetryFunc,
                           "DoRetryCallback errCode: " + std::to_string(code) +
                               ", isNeedRetry: " + (retry ? "true" : "false"),
                           true);
            if (retry) {
                return true;
            }
        }
        if (CurlGlobal::GetStandByDnsFlag()) {
            conn->Opt(CURLOPT_DNS_SERVERS, CurlGlobal::GetStandByDns().c_str());
        }
        return false;
    });
    m_retryFunc = kDefault;
}

bool CurlConn::CheckNeedRetry(int code) {
    if (code == CURLE_OK || code == kBroken || !m_needRetry) {
        return false;
    }
    return m_retryCount < kMaxRetries;
}

void CurlConn::SetNeedRetry(bool needRetry) {
    m_needRetry = needRetry;
}

unsigned char CurlConn::GetRetryCount() {
    return m_retryCount;
}

void CurlConn::SetResCode(long code) {
    m_resCode = code;
}

long CurlConn::GetResCode() {
    if (m_resCode != 0) {
        return m_resCode;
    }
    long status = 0;
    if (m_handle != nullptr) {
        curl_easy_getinfo(m_handle, CURLINFO_RESPONSE_CODE, &status);
    }
    return status;
}

void CurlConn::SetResHeader(std::map<std::string, std::string>& header) {
    m_resHeader.swap(header);
}

std::map<std::string, std::string> CurlConn::GetResHeader() {
    return m_resHeader;
}

void CurlConn::SetResBody(std::string& body) {
    m_resMode = kResMemory;
    m_resBody.str(std::string());
    m_resBody.clear();
    m_resBody << body;
}

std::string CurlConn::GetRespones() {
    return m_resMode == kResMemory ? m_resBody.str() : std::string();
}

namespace {

int64_t TimeInfo(CURL* handle, CURLINFO info) {
    curl_off_t value = 0;
    if (handle == nullptr || curl_easy_getinfo(handle, info, &value) != CURLE_OK) {
        return 0;
    }
    return value;
}

} // namespace

int64_t CurlConn::GetReqTotalTime() {
    return TimeInfo(m_handle, CURLINFO_TOTAL_TIME_T);
}
int64_t CurlConn::GetReqDNSTime() {
    return TimeInfo(m_handle, CURLINFO_NAMELOOKUP_TIME_T);
}
int64_t CurlConn::GetReqConnTime() {
    return TimeInfo(m_handle, CURLINFO_CONNECT_TIME_T);
}
int64_t CurlConn::GetReqSSLTime() {
    return TimeInfo(m_handle, CURLINFO_APPCONNECT_TIME_T);
}
int64_t CurlConn::GetRedirectTime() {
    return TimeInfo(m_handle, CURLINFO_REDIRECT_TIME_T);
}

int64_t CurlConn::GetReqUlTime() {
    if (m_handle == nullptr) {
        return -1;
    }
    curl_off_t start = 0;
    curl_off_t pre = 0;
    if (curl_easy_getinfo(m_handle, CURLINFO_STARTTRANSFER_TIME_T, &start) != CURLE_OK ||
        curl_easy_getinfo(m_handle, CURLINFO_PRETRANSFER_TIME_T, &pre) != CURLE_OK) {
        return -1;
    }
    return start - pre;
}

long CurlConn::GetRedirectCount() {
    long count = 0;
    if (m_handle != nullptr) {
        curl_easy_getinfo(m_handle, CURLINFO_REDIRECT_COUNT, &count);
    }
    return count;
}

} // namespace curlppx
