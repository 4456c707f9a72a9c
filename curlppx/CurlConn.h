#pragma once

#include "curlppx/CurlGlobal.h"
#include "curlppx/CurlHeader.h"
#include "curlppx/CurlUrl.h"
#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <tuple>

namespace curlppx {

class CurlConnPool;
class CurlShare;

namespace detail {
class RedirectGuard;
class Request;
} // namespace detail

enum CurlReqMethod : int {
    CURL_REQ_GET = 0,
    CURL_REQ_POST = 1,
    CURL_REQ_PUT = 2,
    CURL_REQ_DELETE = 3,
    CURL_REQ_PATCH = 4,
    CURL_REQ_HEAD = 5,
    CURL_REQ_OPTIONS = 6,
    CURL_REQ_TRACE = 7,
};

// One reusable transfer: an easy handle plus the description of a request and
// its results. Configured and started by one thread at a time; while a
// request runs only the loop thread touches the handle. Break may come from
// any thread. Clearing or destroying a connection whose request runs ends
// that request with 42 first, from any thread or callback.
class HTTPLIB_API CurlConn {
public:
    using DoneFunc = std::function<void(CURLcode)>;
    // Download sink: (data, size, count, user data); returns size * count
    // when everything was taken.
    using WriteFunc = std::function<size_t(char*, size_t, size_t, void*)>;
    // Upload source: (buffer, capacity in bytes, end of buffer, user data);
    // returns the bytes written, 0 at the end, or CURL_READFUNC_ABORT.
    using ReadFunc = std::function<size_t(char*, size_t, char*, void*)>;
    // Moves an upload source back to offset bytes from the start of its
    // body: (offset, user data); false when it cannot. Without one, a
    // request whose source has been read is not sent again.
    using SeekFunc = std::function<bool(int64_t, void*)>;
    using RetryFunc = std::function<bool(CurlConn*, CURLcode)>;
    using ProgressFunc = std::function<void(double, double, int64_t, int64_t)>;
    // Sees the TLS context of every connection this connection opens, before
    // its handshake; a non-zero result fails the handshake with that code.
    // libcurl's own verification stays as configured. Connections and TLS
    // sessions are shared within a pool (CurlShare): a request may reuse a
    // connection or resume a session that another connection of the pool
    // opened without the hook, and then the hook is not asked. A caller that
    // pins a certificate therefore uses a pool of its own where every
    // connection carries the hook (CurlConnPool::SetConnInitFunc).
    using SslCtxFunc = std::function<CURLcode(CURL* easy, void* sslCtx)>;
    using Fields = std::map<std::string, std::string>;

    CurlConn();
    CurlConn(const CurlConn& other);
    CurlConn& operator=(const CurlConn& other);
    virtual ~CurlConn();

    void Clear();
    void InitDefaultCurlOption();

    // Configuration: only while no request of this connection runs.
    static std::string GetMethodStr(CurlReqMethod method);
    CURLcode SetMethod(CurlReqMethod method);
    CURLcode SetURL(const CurlUrl& url);
    CURLcode SetURL(const std::string& url);
    std::string GetURL();
    CURLcode SetSSLVerify(const std::string& certType);
    CURLcode SetSSLUnVerify();
    CURLcode SetCA(const std::wstring& file);
    CURLcode SetCAs(const std::wstring& dir);
    CURLcode ClearCA();
    CURLcode SetRange(int64_t from, int64_t to);
    CURLcode ClearRange();
    CURLcode SetUserAgent(const std::string& userAgent);
    CURLcode ClearUserAgent();
    CurlHeader GetHeader();
    CURLcode SetHeader(const std::string& name, const std::string& value);
    CURLcode SetHeader(CurlHeader& header);
    CURLcode UpdateHeader();
    CURLcode ClearHeader();
    CURLcode SetShare(std::shared_ptr<CurlShare> share);
    CURLcode ClearShare();
    CURLcode OauthByBearer(const std::string& token);
    CURLcode OauthClear();
    CURLcode ProgressEnable(bool on);
    void SetProgressCB(ProgressFunc fn);
    void SetRetryCallback(RetryFunc fn);
    // Stays on the connection across requests until Clear; an empty
    // function removes it.
    void SetSslCtxFunction(SslCtxFunc fn);
    std::string UrlEncode(const std::string& text);
    std::string UrlUncode(const std::string& text);
    bool IsRecycled();
    void SetRecycled(bool recycled);

    // Requests. A future form returns the request's future; a callback form
    // calls cb once, on a thread of its own. A request started while one runs
    // on this connection ends that one with kBroken first; started from one of
    // the running request's own callbacks, it completes at once with
    // kEngineError instead.
    std::future<CURLcode> HttpHead();
    void HttpHead(DoneFunc cb);
    std::future<CURLcode> HttpGet();
    void HttpGet(DoneFunc cb);
    std::future<CURLcode> HttpPost(const Fields& fields, bool encode = true);
    void HttpPost(const Fields& fields, DoneFunc cb, bool encode = true);
    std::future<CURLcode> HttpPost(const std::string& body,
                                   const char* contentType = kJsonContentType);
    void HttpPost(const std::string& body, DoneFunc cb, const char* contentType = kJsonContentType);
    std::future<CURLcode> HttpPut(const Fields& fields, bool encode = true);
    void HttpPut(const Fields& fields, DoneFunc cb, bool encode = true);
    std::future<CURLcode> HttpPut(const std::string& body,
                                  const char* contentType = kJsonContentType);
    void HttpPut(const std::string& body, DoneFunc cb, const char* contentType = kJsonContentType);
    std::future<CURLcode> HttpPatch(const Fields& fields, bool encode = true);
    void HttpPatch(const Fields& fields, DoneFunc cb, bool encode = true);
    std::future<CURLcode> HttpPatch(const std::string& body,
                                    const char* contentType = kJsonContentType);
    void HttpPatch(const std::string& body, DoneFunc cb,
                   const char* contentType = kJsonContentType);
    std::future<CURLcode> HttpDelete();
    void HttpDelete(DoneFunc cb);
    std::future<CURLcode> HttpDownload(WriteFunc fn, void* userData);
    std::future<CURLcode> HttpUpload(std::wstring path, int64_t offset);
    std::future<CURLcode> HttpUpload(int64_t size, ReadFunc fn, void* userData,
                                     SeekFunc seek = nullptr);

    // Control and results.
    // An https request never follows a redirect to a non-https URL, and a
    // request carrying credentials (a "Token", "Cookie" or "Authorization"
    // header, a bearer token, or a user in its URL) never follows one to
    // another origin. Such a redirect ends the request, without a retry,
    // with kRedirectRefused; GetResCode() then gives the redirect's status
    // and GetRefusedRedirect() its target (empty when nothing was refused;
    // emptied when the next request starts).
    static constexpr CURLcode kRedirectRefused = CURLE_HTTP_RETURNED_ERROR;
    // The engine's own completion codes: a request ended by Break, Clear,
    // FreeConn or the destructor; and the pool gone, no share, or a header
    // object that failed.
    static constexpr CURLcode kBroken = CURLE_ABORTED_BY_CALLBACK;
    static constexpr CURLcode kEngineError = static_cast<CURLcode>(99);
    std::string GetRefusedRedirect();
    // Ends the request in flight (or the one just started) with 42 and
    // returns when it has ended. Called on the loop thread from one of the
    // connection's callbacks it cannot wait: the transfer then ends as soon
    // as that callback returns. A request that has completed is left alone.
    void Break();
    void BreakConn();
    void InitDefaultRetryCallback();
    bool CheckNeedRetry(int code);
    void SetNeedRetry(bool needRetry);
    unsigned char GetRetryCount();
    void SetResCode(long code);
    long GetResCode();
    void SetResHeader(std::map<std::string, std::string>& header);
    std::map<std::string, std::string> GetResHeader();
    void SetResBody(std::string& body);
    std::string GetRespones();
    int64_t GetDownloadSpeed();
    int64_t GetUploadSpeed();
    int64_t GetReqTotalTime();
    int64_t GetReqDNSTime();
    int64_t GetReqConnTime();
    int64_t GetReqSSLTime();
    int64_t GetRedirectTime();
    int64_t GetReqUlTime();
    long GetRedirectCount();
    size_t GetPoolId() const { return m_poolId; }

    // libcurl's data callbacks; userp is the connection.
    static size_t WriteCallback(char* ptr, size_t size, size_t nmemb, void* userp);
    static size_t ReadCallback(char* buffer, size_t size, size_t nitems, void* userp);
    static size_t HeaderCallback(char* buffer, size_t size, size_t nitems, void* userp);
    static int ProgressCallback(void* userp, curl_off_t dltotal, curl_off_t dlnow,
                                curl_off_t ultotal, curl_off_t ulnow);

    static constexpr const char* kJsonContentType = "application/json; charset=utf-8";

protected:
    std::future<CURLcode> Request();
    std::future<CURLcode> RequestByFields(const Fields& fields, bool encode);
    std::future<CURLcode> RequestByString(const std::string& body, const char* contentType);
    std::future<CURLcode> RequestToString();
    std::future<CURLcode> RequestHeaderOnly();
    void RequestAsync();
    void RequestByFieldsAsync(const Fields& fields, bool encode);
    void RequestByStringAsync(const std::string& body, const char* contentType);
    void RequestToStringAsync();
    void RequestHeaderOnlyAsync();
    std::string PackageFields(const Fields& fields, bool encode);
    bool OpenReadFileToStream(std::fstream& stream, std::wstring& path, int64_t offset);
    void OnRequestDone(CURLcode code);
    void UpdateSpeed(int64_t dlnow, int64_t ulnow);
    bool NeedBreakCallback();

private:
    friend class CurlConnPool;

    enum ResMode : int { kResNone = 0, kResMemory = 1, kResCallback = 3 };
    enum ReqMode : int { kReqNone = 0, kReqMemory = 1, kReqFile = 2, kReqCallback = 3 };

    // What a request sends and where its answer goes. Every request form is
    // one of these, started by Run.
    struct Description {
        enum class Body { None, Text, File, Source };
        enum class Sink { Memory, Writer, None };
        // Selected for Body::None and Body::Text; a File or Source body is
        // sent as a POST upload and keeps m_method.
        CurlReqMethod method = CURL_REQ_GET;
        Body body = Body::None;
        Sink sink = Sink::Memory;
        std::string text;
        const char* contentType = nullptr;
        std::wstring path;
        int64_t offset = 0; // into the file
        int64_t size = 0;   // of the source's body
        ReadFunc read;
        SeekFunc seek;
        WriteFunc write;
        void* userData = nullptr;
    };
    static Description Fetch(CurlReqMethod method);
    static Description Send(CurlReqMethod method, std::string body, const char* contentType);
    Description Form(CurlReqMethod method, const Fields& fields, bool encode);
    static std::future<CURLcode> FutureOf(const std::shared_ptr<detail::Request>& request);

    template <typename T> CURLcode Opt(CURLoption option, T value);
    CURLcode ResetMethodOptions();
    CURLcode ApplyCA(const std::wstring& path, bool isDir, const char* func);
    void TakeUrl(CurlUrl url);
    // Sets the handle up as desc says and starts the request; a file that
    // cannot be read completes it at once with 37.
    std::shared_ptr<detail::Request> Run(Description desc, DoneFunc done);
    void SelectMethod(CurlReqMethod method);
    void ApplySink(Description& desc);
    bool ApplyBody(Description& desc);
    // The one start path: gives the request its identity and hands its
    // start to the loop thread.
    std::shared_ptr<detail::Request> Start(DoneFunc done);
    std::shared_ptr<detail::Request> CurrentRequest();
    // beforeNextPoll: on the loop thread, in a socket or timer callback
    // (Request::CompleteBeforeNextPoll).
    void Finish(const std::shared_ptr<detail::Request>& request, CURLcode code, bool logFailure,
                bool beforeNextPoll = false);
    // Empties the last reply's headers and body. On the loop thread for a
    // request that reaches it, so that what it wrote there is freed there.
    void ClearReply();
    // Empties what the last attempt collected and moves the upload back to
    // its start; false when the body was read and cannot be read again.
    bool PrepareRetry();
    bool RewindUpload(int64_t offset);
    // Ends the request in flight with 42 before the connection is cleared,
    // copied over or destroyed.
    void LetGoOfRequest();
    bool BreakRequested() const;
    static int64_t NowMs();
    static CURLcode SslCtxCallback(CURL* easy, void* sslCtx, void* userp);
    static int SeekCallback(void* userp, curl_off_t offset, int origin);
    bool CarriesCredentials();
    // Loop thread: true when the Location of the response being read must
    // not be followed.
    bool RefuseRedirect(const std::string& location);

    CURL* m_handle = nullptr;
    CurlUrl m_url;
    // m_url as text and whether it names a user, read once when it is set
    // rather than at every request.
    std::string m_urlText;
    bool m_urlHasUser = false;
    CurlReqMethod m_method = CURL_REQ_GET;
    CurlHeader m_header;
    std::shared_ptr<CurlShare> m_share;
    std::string m_reqBody;
    long m_resCode = 0;
    std::map<std::string, std::string> m_resHeader;
    std::stringstream m_resBody;
    std::fstream m_uploadFile;
    int m_resMode = kResNone;
    int m_reqMode = kReqNone;
    void* m_userData = nullptr;
    // The caller's functions are held by shared pointer: the loop thread
    // keeps the one it runs alive, even when that function clears or drops
    // the connection.
    std::shared_ptr<const WriteFunc> m_writeFunc;
    std::shared_ptr<const ReadFunc> m_readFunc;
    std::shared_ptr<const SeekFunc> m_seekFunc;
    std::shared_ptr<const RetryFunc> m_retryFunc;
    unsigned char m_retryCount = 0;
    // Atomic: BreakConn may be called from any thread while the loop thread
    // reads it in the data callbacks.
    std::atomic<bool> m_breakConn{false};
    bool m_needRetry = true;
    std::shared_ptr<const ProgressFunc> m_progressFunc;
    std::shared_ptr<const SslCtxFunc> m_sslCtxFunc;
    bool m_bearer = false;
    std::unique_ptr<detail::RedirectGuard> m_redirectGuard;
    std::string m_refusedRedirect;
    std::atomic<int64_t> m_dlDelta{0};
    std::atomic<int64_t> m_ulDelta{0};
    std::atomic<int64_t> m_windowStart{0};
    std::deque<std::tuple<int64_t, int64_t, int64_t>> m_speedSamples;
    std::weak_ptr<CurlConnPool> m_pool;
    size_t m_poolId = static_cast<size_t>(-1);
    int m_expiredCode = 401;
    // Exchanged by FreeConn, so that two threads freeing one connection
    // queue it once.
    std::atomic<bool> m_recycled{false};

    // The request started last, read by a Break on any thread.
    std::mutex m_requestMtx;
    std::shared_ptr<detail::Request> m_request;
    // Loop thread only: the request whose start task has run, and whether
    // its handle is in the pool's multi handle.
    std::shared_ptr<detail::Request> m_running;
    bool m_inMulti = false;
    size_t m_reqBodySent = 0;
    int64_t m_uploadOffset = 0;
    // Bytes the source has given in this attempt.
    int64_t m_uploadRead = 0;
};

} // namespace curlppx
