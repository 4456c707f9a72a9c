#pragma once

#include "curlppx/CurlConn.h"
#include "curlppx/CurlConnPool.h"
#include "curlppx/CurlGlobal.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace enginetest {

using namespace std::chrono_literals;

// Generous: only a wedged machine reaches it, and then the test fails
// instead of hanging.
inline constexpr auto kBound = 60s;

// One HTTP and one HTTPS server for the whole binary; tests keep apart by path.
testsupport::TestServer& Http();
testsupport::TestServer& Https();

// A path unique to the running test, so scripts and request counts of one
// test never see another's.
std::string UniquePath(const std::string& suffix = "");

// Requests that reached path on server.
std::vector<testsupport::RecordedRequest> RequestsTo(const testsupport::TestServer& server,
                                                     const std::string& path);

// Waits for a future with the bound; a timed-out wait is reported as -1.
int Await(std::future<CURLcode>& future);

// Collects completion callbacks: code, count and the calling thread.
class Completion {
public:
    curlppx::CurlConn::DoneFunc Callback();
    // Waits until at least n completions arrived; false at the bound.
    bool WaitFor(size_t n = 1);
    std::vector<CURLcode> Codes() const;
    std::vector<std::thread::id> Threads() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<CURLcode> m_codes;
    std::vector<std::thread::id> m_threads;
};

// Records the engine's log hook while alive and restores "nothing" after.
class EngineLog {
public:
    struct Line {
        curlppx::CurlLogLevel level;
        std::string func;
        std::string msg;
        size_t poolId;
    };
    explicit EngineLog(curlppx::CurlLogLevel level = curlppx::CURL_LOG_INFO);
    ~EngineLog();
    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;
    std::vector<Line> Lines() const;
    size_t Count(const std::string& msg) const;

private:
    std::shared_ptr<std::mutex> m_mutex = std::make_shared<std::mutex>();
    std::shared_ptr<std::vector<Line>> m_lines = std::make_shared<std::vector<Line>>();
};

// A connection from pool id, pointed at url.
std::shared_ptr<curlppx::CurlConn> ConnTo(size_t poolId, const std::string& url);

// A bare TCP listener on 127.0.0.1 for replies the test server cannot give:
// each accepted connection goes to the handler on the listener's thread.
// The destructor wakes a handler waiting in Held() and joins.
class RawListener {
public:
    using Handler = std::function<void(int fd, RawListener& self)>;
    // receiveBuffer, when set, bounds what the kernel takes in unread.
    explicit RawListener(Handler handler, int receiveBuffer = 0);
    ~RawListener();
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;
    std::string BaseUrl() const;
    // Blocks until the listener is destroyed.
    void Held();

private:
    int m_fd = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stopping = false;
    std::thread m_thread;
};

// Reads from fd up to the end of a request's head; false if it closed first.
bool ReadRequestHead(int fd);

// Runs a task on the loop thread and keeps the loop there until Release, so
// that tasks queued meanwhile stay queued.
class LoopGate {
public:
    LoopGate();
    ~LoopGate();
    void Release();
    // Waits until the engine queue holds at least n tasks behind the gate.
    bool WaitQueued(size_t n);

private:
    std::promise<void> m_entered;
    std::promise<void> m_release;
    bool m_released = false;
};

} // namespace enginetest
