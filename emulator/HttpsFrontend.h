#pragma once

#include "emulator/Capabilities.h"
#include "emulator/Credentials.h"
#include "emulator/FaultInjector.h"
#include "emulator/Router.h"
#include "emulator/UniqueFd.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

namespace zeqemu {

class HttpConnection;
struct RequestHead;

// The HTTPS side. One event-loop thread owns accepting, TLS handshakes and
// reading request heads, for any number of connections, each with a deadline
// for its head; only a connection whose head is complete goes to one of a few
// workers, which check the credentials, read the body (bounded, streamed to
// the routes that take it so), dispatch and write the reply. A kept-alive
// connection then goes back to the loop. A slow or silent client therefore
// holds a slot in the loop, never a worker.
class HttpsFrontend {
public:
    struct Settings {
        int port = 0;
        std::string certFile;
        std::string keyFile;
        std::size_t maxBodyBytes = 0;
        std::chrono::milliseconds headerTimeout{10000};
        std::chrono::milliseconds drainTime{2000};
        bool logRequests = false;
    };

    HttpsFrontend(const Settings& settings, const Router& router, const Credentials& credentials,
                  const Capabilities& caps, const FaultOptions& faults);
    ~HttpsFrontend();
    HttpsFrontend(const HttpsFrontend&) = delete;
    HttpsFrontend& operator=(const HttpsFrontend&) = delete;

    int Port() const { return m_port; }
    void Stop();

private:
    struct Waiting {
        std::unique_ptr<HttpConnection> connection;
        std::chrono::steady_clock::time_point deadline;
    };

    void Loop();
    void Accept();
    void Track(std::unique_ptr<HttpConnection> connection);
    void Drive(int fd);
    void Forget(int fd);
    void Work();
    // What becomes of a connection after its request.
    enum class After { Close, KeepAlive, Drain };
    After Serve(HttpConnection& connection);
    // The reply to a parsed head; drop asks for the injected mid-reply close.
    ApiReply Answer(HttpConnection& connection, const RequestHead& head, bool& bodyDone,
                    bool& drop);
    bool WriteReply(HttpConnection& connection, const ApiReply& reply, bool keepAlive,
                    bool drop = false);
    // Waits for duration unless stopping; false when stopping.
    bool Pause(std::chrono::milliseconds duration);

    const Router& m_router;
    const Credentials& m_credentials;
    const Capabilities& m_caps;
    FaultInjector m_faults;
    Settings m_settings;
    std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> m_ctx;
    UniqueFd m_listen;
    UniqueFd m_epoll;
    UniqueFd m_wake; // connections handed back to the loop
    UniqueFd m_stop; // written once by Stop, then readable for good
    int m_port = 0;

    std::map<int, Waiting> m_waiting; // loop thread only

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stopping = false;
    std::deque<std::unique_ptr<HttpConnection>> m_ready; // heads in, for the workers
    // Kept alive or draining, back to the loop.
    std::vector<std::unique_ptr<HttpConnection>> m_returned;
    std::thread m_loop;
    std::vector<std::thread> m_workers;
};

} // namespace zeqemu
