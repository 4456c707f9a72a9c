#pragma once

#include "emulator/Capabilities.h"
#include "emulator/Credentials.h"
#include "emulator/FaultInjector.h"
#include "emulator/Router.h"

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace httplib {
class Request;
class Response;
class Server;
} // namespace httplib

namespace zeqemu {

// The HTTPS side: a cpp-httplib TLS server on 127.0.0.1 that applies injected
// faults, checks the credentials, hands the request to the router and writes
// the reply. Started by the constructor, stopped by Stop or the destructor.
class HttpsFrontend {
public:
    struct Settings {
        int port = 0;
        std::string certFile;
        std::string keyFile;
        std::size_t maxBodyBytes = 0;
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
    void Handle(const httplib::Request& req, httplib::Response& res);
    // Waits for duration unless stopping; false when stopping.
    bool Pause(std::chrono::milliseconds duration);
    void Write(const ApiReply& reply, httplib::Response& res);

    const Router& m_router;
    const Credentials& m_credentials;
    const Capabilities& m_caps;
    FaultInjector m_faults;
    bool m_logRequests;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_started = false;
    bool m_finished = false;
    bool m_stopping = false;
    bool m_stopped = false;
};

} // namespace zeqemu
