#include "EngineTestSupport.h"

namespace enginetest {

testsupport::TestServer& Http() {
    static testsupport::TestServer server(testsupport::TestServer::Mode::Http);
    return server;
}

testsupport::TestServer& Https() {
    static testsupport::TestServer server(testsupport::TestServer::Mode::Https);
    return server;
}

std::string UniquePath(const std::string& suffix) {
    static std::atomic<int> counter{0};
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info != nullptr ? std::string(info->test_suite_name()) + "-" + info->name()
                                       : std::string("none");
    for (char& c : name) {
        if (c == '/') {
            c = '-';
        }
    }
    return "/" + name + "-" + std::to_string(counter.fetch_add(1)) + suffix;
}

std::vector<testsupport::RecordedRequest> RequestsTo(const testsupport::TestServer& server,
                                                     const std::string& path) {
    std::vector<testsupport::RecordedRequest> out;
    for (auto& request : server.Requests()) {
        if (request.path == path) {
            out.push_back(std::move(request));
        }
    }
    return out;
}

int Await(std::future<CURLcode>& future) {
    if (!future.valid() || future.wait_for(kBound) != std::future_status::ready) {
        return -1;
    }
    return future.get();
}

curlppx::CurlConn::DoneFunc Completion::Callback() {
    return [this](CURLcode code) {
        // Notified under the lock: the waiter may destroy this object as
        // soon as it can take the lock.
        std::lock_guard lock(m_mutex);
        m_codes.push_back(code);
        m_threads.push_back(std::this_thread::get_id());
        m_cv.notify_all();
    };
}

bool Completion::WaitFor(size_t n) {
    std::unique_lock lock(m_mutex);
    return m_cv.wait_for(lock, kBound, [&] { return m_codes.size() >= n; });
}

std::vector<CURLcode> Completion::Codes() const {
    std::lock_guard lock(m_mutex);
    return m_codes;
}

std::vector<std::thread::id> Completion::Threads() const {
    std::lock_guard lock(m_mutex);
    return m_threads;
}

EngineLog::EngineLog(curlppx::CurlLogLevel level) {
    curlppx::CurlGlobal::SetLogFun(
        [mutex = m_mutex, lines = m_lines](curlppx::CurlLogLevel l, int, const std::string& func,
                                           const std::string& msg, size_t poolId) {
            std::lock_guard lock(*mutex);
            lines->push_back({l, func, msg, poolId});
        });
    curlppx::CurlGlobal::SetLogLevel(level);
}

EngineLog::~EngineLog() {
    curlppx::CurlGlobal::SetLogLevel(curlppx::CURL_LOG_NONE);
    curlppx::CurlGlobal::SetLogFun(nullptr);
}

std::vector<EngineLog::Line> EngineLog::Lines() const {
    std::lock_guard lock(*m_mutex);
    return *m_lines;
}

size_t EngineLog::Count(const std::string& msg) const {
    std::lock_guard lock(*m_mutex);
    size_t n = 0;
    for (const auto& line : *m_lines) {
        n += line.msg == msg ? 1 : 0;
    }
    return n;
}

std::shared_ptr<curlppx::CurlConn> ConnTo(size_t poolId, const std::string& url) {
    auto conn = curlppx::CurlGlobal::GetInstance().GetConn(poolId);
    if (conn) {
        EXPECT_EQ(CURLE_OK, conn->SetURL(url));
    }
    return conn;
}

LoopGate::LoopGate() {
    auto entered = m_entered.get_future();
    auto release = m_release.get_future().share();
    curlppx::CurlGlobal::RunAtUvThread([this, release] {
        m_entered.set_value();
        release.wait_for(kBound);
    });
    entered.wait_for(kBound);
}

LoopGate::~LoopGate() {
    Release();
}

void LoopGate::Release() {
    if (!m_released) {
        m_released = true;
        m_release.set_value();
    }
}

bool LoopGate::WaitQueued(size_t n) {
    // The queue has no waitable event; poll its depth with a bound.
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (curlppx::CurlGlobal::uvThreadQueue.unsafe_size() < n) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

} // namespace enginetest
