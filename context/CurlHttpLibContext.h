#pragma once

#include "context/IHttpLibContext.h"
#include "platform/HttpLibExport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <utility>

// Performs a strategy's request synchronously on the caller's thread, one easy
// handle per call, up to three attempts. Between calls only per-thread state
// survives (a DNS cache per form, and the Lock-Token line of the text and
// download forms) plus the process-wide standby DNS flag.
class HTTPLIB_API CurlHttpLibContext : public IHttpLibContext {
public:
    explicit CurlHttpLibContext(gsl::not_null<IHttpLibStrategy*> strategy);
    CurlHttpLibContext(const CurlHttpLibContext&) = delete;
    CurlHttpLibContext& operator=(const CurlHttpLibContext&) = delete;
    ~CurlHttpLibContext() override;

    int Request(std::string& response, int timeout) override;
    int Request(std::string& text, void* sink) override;
    int Request(std::string& response,
                std::map<std::string, std::string>& responseHeaders) override;

    // The request forms never look at the flag; the host's sink does.
    void StopDownload();
    void StartDownload();
    bool IsStopDownload();

    // bytes is a running total; the speed covers about the last two seconds.
    void UpdateSpeed(std::int64_t bytes);
    // UpdateSpeed with the clock reading given, in milliseconds since 1970.
    void UpdateSpeedAt(std::int64_t bytes, std::int64_t nowMs);
    std::int64_t GetSpeedBytesBySecond();

    void SetContentRange(const std::int64_t& range);
    std::int64_t GetContentRange();

    // Blocks while the stop flag is set (until another thread clears it), then
    // clears the flag and the speed meter.
    void Reset();

    // The libcurl result of the last attempt of the last request (0 before
    // any). A 200 may come with a failed transfer (a body cut short, a sink
    // that stopped it): the status alone does not say the body is whole.
    int GetLastCurlCode() const;

    // Sent as "userId" and "unionID" by the header form.
    void SetUerID(std::wstring id);
    std::wstring GetUserID() const;

private:
    // What sets one request form apart from the others (CurlHttpLibContext.cpp).
    struct Form;

    // The preparation and attempt loop that every form shares; status holds
    // the last HTTP status reached, also when an exception leaves early.
    int Run(const Form& form, long& status);

    static std::size_t ResponseStream(char* data, std::size_t size, std::size_t count,
                                      void* userData);
    static std::size_t ResponseHeader(char* data, std::size_t size, std::size_t count, void* line);
    static std::size_t ResponseHeaderCallBack(char* data, std::size_t size, std::size_t count,
                                              void* headers);
    static std::size_t WriteDownloadDataCallBackFun(char* data, std::size_t size, std::size_t count,
                                                    void* handler);

    std::int64_t contentRange;
    std::atomic<bool> stopFlag;
    std::mutex speedMutex;
    std::deque<std::pair<std::int64_t, std::int64_t>> speedSamples;
    // Atomic so GetSpeedBytesBySecond may read it without the mutex.
    std::atomic<std::int64_t> speedBytesPerSecond;
    std::wstring userID;
    int lastCurlCode = 0;
};
