#include "EngineTestSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

RawListener::RawListener(Handler handler, int receiveBuffer) {
    m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) {
        // Set before listen, so that accepted sockets inherit it.
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(receiveBuffer));
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof(addr);
    if (::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(m_fd, 4) != 0 ||
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ADD_FAILURE() << "RawListener: cannot listen on 127.0.0.1";
        return;
    }
    m_port = ntohs(addr.sin_port);
    m_thread = std::thread([this, handler = std::move(handler)] {
        for (;;) {
            const int client = ::accept(m_fd, nullptr, nullptr);
            if (client < 0) {
                return; // the destructor shut the listener down
            }
            handler(client, *this);
            ::close(client);
        }
    });
}

RawListener::~RawListener() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_cv.notify_all();
    ::shutdown(m_fd, SHUT_RDWR); // ends the accept
    if (m_thread.joinable()) {
        m_thread.join();
    }
    ::close(m_fd);
}

std::string RawListener::BaseUrl() const {
    return "http://127.0.0.1:" + std::to_string(m_port) + "/";
}

void RawListener::Held() {
    std::unique_lock lock(m_mutex);
    m_cv.wait(lock, [this] { return m_stopping; });
}

bool ReadRequestHead(int fd) {
    std::string head;
    char c = 0;
    while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
        if (::recv(fd, &c, 1, 0) != 1) {
            return false;
        }
        head += c;
    }
    return true;
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
