#include "context/CurlHttpLibContext.h"

#include "context/ClientTexts.h"
#include "context/ClientUtils.h"
#include "context/FileTransferHandler.h"
#include "core/detail/CurlHandles.h"
#include "core/detail/TlsOptions.h"
#include "curlppx/CurlGlobal.h"
#include "platform/TextCodec.h"

#include <curl/curl.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>

namespace {

using curlhandles::EasyHandle;
using curlhandles::HeaderList;
using curlhandles::ShareHandle;

constexpr int kMaxAttempts = 3;
constexpr long kDnsCacheSeconds = 300;
constexpr std::int64_t kSpeedWindowMs = 2000;
constexpr auto kResetPoll = std::chrono::milliseconds(10);
constexpr const wchar_t* kCaFile = L"config/cacert.pem";
constexpr const char* kJsonContentType = "Content-Type:application/json; charset=UTF-8";
constexpr std::string_view kLockTokenPrefix = "Lock-Token:";

// What one request form keeps per thread. A share handle is touched by its own
// thread only, so it needs no lock callbacks; it goes when the thread ends.
struct FormState {
    ShareHandle share;
    std::string lockTokenLine;

    CURLSH* Share() {
        if (!share) {
            share.reset(curl_share_init());
            if (share) {
                curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
            }
        }
        return share.get();
    }
};

thread_local FormState t_textForm;
thread_local FormState t_downloadForm;
thread_local FormState t_headerForm;

bool SizeOverflows(std::size_t size, std::size_t count) {
    return count != 0 && size > std::numeric_limits<std::size_t>::max() / count;
}

// A strategy may hold an empty callable; there is then nobody to tell.
void Tell(const IHttpLibStrategy::LogFunction& function, const std::wstring& message) {
    if (function) {
        function(message);
    }
}

std::string Narrow(const std::wstring& text) {
    std::string out;
    UnicodeToMultiByte(text, out, platform::kCodePageUtf8);
    return out;
}

void UseStandbyDns(CURL* curl) {
    // A libcurl built with the threaded resolver cannot choose DNS servers and
    // answers CURLE_NOT_BUILT_IN; the system resolver then stays in use.
    const std::string servers = curlppx::CurlGlobal::GetStandByDns();
    [[maybe_unused]] const CURLcode result =
        curl_easy_setopt(curl, CURLOPT_DNS_SERVERS, servers.c_str());
}

void SetTimeLimits(CURL* curl, std::optional<long> ownTimeLimit) {
    if (ownTimeLimit) {
        curl_easy_setopt(curl, CURLOPT_TIMEOUT, *ownTimeLimit);
        return;
    }
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, curlppx::CurlGlobal::GetTimeoutConnect());
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT,
                     static_cast<long>(curlppx::CurlGlobal::GetLimitLowSpeed()));
    curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(curlppx::CurlGlobal::GetTimeoutLowSpeed()));
}

void Append(HeaderList& list, const std::string& line) {
    if (curl_slist* next = curl_slist_append(list.get(), line.c_str())) {
        list.release();
        list.reset(next);
    }
}

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

// The three request forms differ only in these; everything else about a
// request is the same for all of them.
struct CurlHttpLibContext::Form {
    FormState& state;
    // Emptied before every attempt, so the caller gets the last attempt's body.
    std::string* response;
    curl_write_callback bodySink;
    void* bodyTarget;
    curl_write_callback headerSink;
    void* headerTarget;
    // A whole-request limit in seconds instead of the process-wide connect
    // and low-speed limits.
    std::optional<long> ownTimeLimit;
    bool sendsLockToken;
    bool sendsUserIds;
    bool reportsFailures; // to the error log callable too
    bool (*sendsBody)(HttpRequestMethod);

    // The header lines in the order the device expects them.
    HeaderList Headers(IHttpLibStrategy& description, const std::wstring& userID) const {
        HeaderList headers;
        Append(headers, kJsonContentType);
        if (sendsLockToken && !state.lockTokenLine.empty()) {
            Append(headers, state.lockTokenLine);
        }
        for (const auto& [key, value] : description.GetHeaders()) {
            Append(headers, UnicodeToUTF8(key + L":" + value));
        }
        if (sendsUserIds) {
            Append(headers, "userId:" + UnicodeToAnsi(userID));
            Append(headers, "unionID:" + UnicodeToAnsi(userID));
        }
        // "name:" with nothing after it tells libcurl to send no such header,
        // which is what an empty client mode means.
        Append(headers, "x-qx-client-mode:" + Narrow(curlppx::CurlGlobal::GetQxClientMode()));
        Append(headers, "x-qx-os-brand:" + Narrow(g_osBrand));
        return headers;
    }

    // The thread's DNS cache, the time limits and where the reply goes.
    void Attach(CURL* curl) const {
        curl_easy_setopt(curl, CURLOPT_SHARE, state.Share());
        curl_easy_setopt(curl, CURLOPT_DNS_CACHE_TIMEOUT, kDnsCacheSeconds);
        SetTimeLimits(curl, ownTimeLimit);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, bodySink);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, bodyTarget);
        curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, headerSink);
        curl_easy_setopt(curl, CURLOPT_HEADERDATA, headerTarget);
    }
};

CurlHttpLibContext::CurlHttpLibContext(gsl::not_null<IHttpLibStrategy*> strategyPointer)
    : IHttpLibContext(strategyPointer), contentRange(-1), stopFlag(false), speedBytesPerSecond(0) {}

CurlHttpLibContext::~CurlHttpLibContext() = default;

int CurlHttpLibContext::Request(std::string& response, int timeout) {
    const Form text{
        .state = t_textForm,
        .response = &response,
        .bodySink = &ResponseStream,
        .bodyTarget = &response,
        .headerSink = &ResponseHeader,
        .headerTarget = &t_textForm.lockTokenLine,
        .ownTimeLimit = timeout == -1 ? std::nullopt : std::optional<long>(timeout),
        .sendsLockToken = true,
        .sendsUserIds = false,
        .reportsFailures = true,
        .sendsBody = [](HttpRequestMethod method) { return method == HTTP_POST; },
    };
    long status = 0;
    try {
        return Run(text, status);
    } catch (const std::exception&) {
        try {
            Tell(strategy->GetLogFunction(), L"BaseNetInterface HttpRequest exception");
        } catch (...) {
            // The host's log callable failed too; the status still goes back.
        }
    } catch (...) {
        try {
            Tell(strategy->GetLogFunction(), L"BaseNetInterface HttpRequest Unknown");
        } catch (...) {
        }
    }
    return static_cast<int>(status);
}

int CurlHttpLibContext::Request(std::string& /*text*/, void* sink) {
    const Form download{
        .state = t_downloadForm,
        .response = nullptr,
        .bodySink = &WriteDownloadDataCallBackFun,
        .bodyTarget = sink,
        .headerSink = &ResponseHeader,
        .headerTarget = &t_downloadForm.lockTokenLine,
        .ownTimeLimit = std::nullopt,
        .sendsLockToken = true,
        .sendsUserIds = false,
        .reportsFailures = false,
        .sendsBody = [](HttpRequestMethod method) { return method != HTTP_GET; },
    };
    long status = 0;
    return Run(download, status);
}

int CurlHttpLibContext::Request(std::string& response,
                                std::map<std::string, std::string>& responseHeaders) {
    const Form header{
        .state = t_headerForm,
        .response = &response,
        .bodySink = &ResponseStream,
        .bodyTarget = &response,
        .headerSink = &ResponseHeaderCallBack,
        .headerTarget = &responseHeaders,
        .ownTimeLimit = std::nullopt,
        .sendsLockToken = false,
        .sendsUserIds = true,
        .reportsFailures = false,
        .sendsBody = [](HttpRequestMethod) { return false; },
    };
    long status = 0;
    return Run(header, status);
}

int CurlHttpLibContext::Run(const Form& form, long& status) {
    IHttpLibStrategy& description = *strategy;
    const HttpRequestMethod method = description.GetHttpRequestMethod();
    // A number outside the table has no name to send; guessing one could turn
    // a read into a write, so such a request does not go out.
    const auto methodName = g_httpMethodNames.find(method);
    if (methodName == g_httpMethodNames.end()) {
        Tell(description.GetLogFunction(), L"BaseNetInterface HttpRequest method(" +
                                               std::to_wstring(static_cast<int>(method)) +
                                               L") is not supported");
        return 0;
    }

    // Declared before the handle, which reads both until it is cleaned up.
    HeaderList headers;
    std::string body;
    const EasyHandle easy(curl_easy_init());
    if (!easy) {
        Tell(description.GetLogFunction(),
             L"BaseNetInterface HttpRequest curl_easy_init return null");
        return 0;
    }
    CURL* const curl = easy.get();

    form.Attach(curl);
    headers = form.Headers(description, userID);
    curl_easy_setopt(curl, CURLOPT_URL, UnicodeToUTF8(description.GetUrl()).c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    if (curlppx::CurlGlobal::GetStandByDnsFlag()) {
        UseStandbyDns(curl);
    }
    curlhandles::SetTlsOptions(curl, UnicodeToUTF8(GetExeDirectory() + kCaFile), 2L);

    if (method == HTTP_POST) {
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
    } else if (method != HTTP_GET) {
        curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, UnicodeToUTF8(methodName->second).c_str());
    }
    const bool sendsBody = form.sendsBody(method);
    // A POST without post fields would make libcurl read the body from stdin;
    // the header form's POST goes out with an empty body instead.
    if (sendsBody || method == HTTP_POST) {
        if (sendsBody) {
            body = UnicodeToUTF8(description.GetPostData());
        }
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body.c_str());
    }

    int attempts = 0;
    while (status != 200 && status != 204 && attempts < kMaxAttempts) {
        if (form.response != nullptr) {
            form.response->clear();
        }
        const CURLcode result = curl_easy_perform(curl);
        lastCurlCode = static_cast<int>(result);
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (result == CURLE_COULDNT_RESOLVE_HOST) {
            curlppx::CurlGlobal::SetStandByDnsFlag(true);
            UseStandbyDns(curl);
        }
        const std::wstring message = L"httpRequest Method:" + methodName->second + L"\nCurlCode: " +
                                     std::to_wstring(static_cast<int>(result)) + L"\nHttpCode= " +
                                     std::to_wstring(status);
        if (form.reportsFailures && (result != CURLE_OK || status != 200)) {
            Tell(description.GetErrorLogFunction(), message);
        }
        Tell(description.GetLogFunction(), message);
        ++attempts;
    }
    return static_cast<int>(status);
}

std::size_t CurlHttpLibContext::ResponseStream(char* data, std::size_t size, std::size_t count,
                                               void* userData) {
    if (data == nullptr || userData == nullptr || SizeOverflows(size, count)) {
        return 0;
    }
    const std::size_t total = size * count;
    try {
        static_cast<std::string*>(userData)->append(data, total);
    } catch (const std::exception&) {
        return 0; // nothing may cross libcurl's C frames; a short count stops it
    }
    return total;
}

std::size_t CurlHttpLibContext::ResponseHeader(char* data, std::size_t size, std::size_t count,
                                               void* line) {
    if (data == nullptr || line == nullptr || SizeOverflows(size, count)) {
        return 0;
    }
    const std::size_t total = size * count;
    const std::string_view text(data, total);
    if (text.starts_with(kLockTokenPrefix)) {
        try {
            *static_cast<std::string*>(line) = std::string(text.substr(0, text.size() - 2));
        } catch (const std::exception&) {
            return 0;
        }
    }
    return total;
}

std::size_t CurlHttpLibContext::ResponseHeaderCallBack(char* data, std::size_t size,
                                                       std::size_t count, void* headers) {
    if (data == nullptr || headers == nullptr || SizeOverflows(size, count)) {
        return 0;
    }
    const std::size_t total = size * count;
    if (total == 0) {
        return 0;
    }
    try {
        const std::string_view text(data, total);
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            return total;
        }
        std::string_view value = text.substr(colon + 1);
        const std::size_t first = value.find_first_not_of(' ');
        value = first == std::string_view::npos ? std::string_view{} : value.substr(first);
        const std::size_t last = value.find_last_not_of(' ');
        value = last == std::string_view::npos ? std::string_view{} : value.substr(0, last + 1);
        while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) {
            value.remove_suffix(1);
        }
        (*static_cast<std::map<std::string, std::string>*>(
            headers))[std::string(text.substr(0, colon))] = std::string(value);
    } catch (const std::exception&) {
        // One header the host cannot keep is no reason to break the transfer.
    }
    return total;
}

std::size_t CurlHttpLibContext::WriteDownloadDataCallBackFun(char* data, std::size_t size,
                                                             std::size_t count, void* handler) {
    if (data == nullptr || handler == nullptr || SizeOverflows(size, count)) {
        return 0;
    }
    std::uint64_t written = size * count;
    try {
        if (!static_cast<FileTransferHandler*>(handler)->WriteData(
                reinterpret_cast<unsigned char*>(data), written, true)) {
            // What went to the debugger on the client's home platform goes to
            // standard error here.
            std::fputs("Recall back function failed!\n", stderr);
        }
    } catch (...) {
        // The host's sink threw; an exception must not cross libcurl's C
        // frames, so the transfer stops with a write error instead.
        std::fputs("Recall back function failed!\n", stderr);
        return 0;
    }
    return static_cast<std::size_t>(written);
}

void CurlHttpLibContext::StopDownload() {
    stopFlag.exchange(true);
}

void CurlHttpLibContext::StartDownload() {
    stopFlag.store(false);
}

bool CurlHttpLibContext::IsStopDownload() {
    return stopFlag.load();
}

void CurlHttpLibContext::UpdateSpeed(std::int64_t bytes) {
    UpdateSpeedAt(bytes, NowMs());
}

void CurlHttpLibContext::UpdateSpeedAt(std::int64_t bytes, std::int64_t nowMs) {
    std::lock_guard lock(speedMutex);
    std::int64_t baseline = speedSamples.empty() ? 0 : speedSamples.front().first;
    speedSamples.emplace_back(bytes, nowMs);
    // The sample just added is never older than the window, so this stops
    // before the queue runs empty.
    while (speedSamples.front().second < nowMs - kSpeedWindowMs) {
        baseline = speedSamples.front().first;
        speedSamples.pop_front();
    }
    const std::int64_t oldest = speedSamples.front().second;
    // Time 0 makes this the first sample to leave on the next call, handing
    // its byte count over as that call's baseline.
    speedSamples.emplace_front(baseline, 0);
    speedBytesPerSecond =
        nowMs == oldest ? bytes - baseline : (bytes - baseline) * 1000 / (nowMs - oldest);
}

std::int64_t CurlHttpLibContext::GetSpeedBytesBySecond() {
    return speedBytesPerSecond.load();
}

void CurlHttpLibContext::SetContentRange(const std::int64_t& range) {
    contentRange = range;
}

std::int64_t CurlHttpLibContext::GetContentRange() {
    return contentRange;
}

void CurlHttpLibContext::Reset() {
    // The host's contract is a poll: the flag is cleared by a thread that
    // knows nothing of this context's waiters.
    while (stopFlag.load()) {
        std::this_thread::sleep_for(kResetPoll);
    }
    stopFlag.store(false);
    std::lock_guard lock(speedMutex);
    speedSamples.clear();
    speedBytesPerSecond = 0;
}

void CurlHttpLibContext::SetUerID(std::wstring id) {
    userID = std::move(id);
}

int CurlHttpLibContext::GetLastCurlCode() const {
    return lastCurlCode;
}

std::wstring CurlHttpLibContext::GetUserID() const {
    return userID;
}
