#include "emulator/HttpsFrontend.h"

#include "emulator/ApiReply.h"
#include "emulator/ApiRequest.h"
#include "emulator/ErrorCodes.h"

#include <httplib.h>

#include <iostream>
#include <stdexcept>
#include <strings.h>

namespace zeqemu {

namespace {

// Each open keep-alive connection holds a worker.
constexpr std::size_t kWorkers = 8;
// cpp-httplib notices stop() on an idle keep-alive connection only when this
// expires, so it bounds how long a shutdown takes.
constexpr time_t kKeepAliveSeconds = 1;
constexpr std::chrono::seconds kStartBound{60};

bool SameName(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

// Runs before cpp-httplib reads the body. Left visible, Content-Encoding makes
// it inflate the body, a multipart type splits it and a form type caps it at
// 8 KiB; hidden, the body arrives as sent and the size limit below is the only
// one. A POST without Content-Length would be read until the timeout.
void PrepareBodyRead(const httplib::Request& constReq) {
    // cpp-httplib hands handlers a const view of its own mutable request.
    auto& req = const_cast<httplib::Request&>(constReq);
    httplib::Headers kept;
    for (auto& [name, value] : req.headers) {
        if (SameName(name, "Content-Type") || SameName(name, "Content-Encoding")) {
            kept.emplace("X-Zeq-Hidden-" + name, value);
        } else {
            kept.emplace(name, value);
        }
    }
    if (!kept.count("Content-Length") && !kept.count("Transfer-Encoding")) {
        kept.emplace("Content-Length", "0");
    }
    req.headers = std::move(kept);
    // cpp-httplib would cut every routed reply to a requested range itself,
    // JSON refusals included; the file content route answers ranges instead.
    req.ranges.clear();
}

const char* DescribeStatus(int status) {
    switch (status) {
    case 400:
        return "malformed request";
    case 404:
        return "no such path";
    case 413:
        return "request body too large";
    case 414:
        return "request target too long";
    default:
        return "request refused";
    }
}

std::int64_t CodeForStatus(int status) {
    switch (status) {
    case 404:
        return code::kUnknownPath;
    case 413:
        return code::kTooLarge;
    default:
        return code::kBadJson;
    }
}

} // namespace

HttpsFrontend::HttpsFrontend(const Settings& settings, const Router& router,
                             const Credentials& credentials, const Capabilities& caps,
                             const FaultOptions& faults)
    : m_router(router), m_credentials(credentials), m_caps(caps), m_faults(faults),
      m_logRequests(settings.logRequests) {
    auto server =
        std::make_unique<httplib::SSLServer>(settings.certFile.c_str(), settings.keyFile.c_str());
    if (!server->is_valid()) {
        throw std::runtime_error("cannot load the server certificate " + settings.certFile +
                                 " and key " + settings.keyFile);
    }
    m_server = std::move(server);
    m_server->set_keep_alive_timeout(kKeepAliveSeconds);
    m_server->set_tcp_nodelay(true);
    m_server->set_payload_max_length(settings.maxBodyBytes);
    // listen_after_bind sets is_running before it makes the task queue, and
    // stop() does nothing until then: this hook is the event Stop waits for.
    m_server->new_task_queue = [this] {
        {
            std::lock_guard lock(m_mutex);
            m_started = true;
        }
        m_changed.notify_all();
        return new httplib::ThreadPool(kWorkers);
    };
    m_server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        PrepareBodyRead(req);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Errors cpp-httplib answers itself (oversize body, unreadable request)
    // get the same JSON envelope as the device's own.
    m_server->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& res) {
            if (!res.body.empty()) {
                return httplib::Server::HandlerResponse::Unhandled;
            }
            const auto reply =
                ApiReply::Error(res.status, CodeForStatus(res.status), DescribeStatus(res.status));
            res.set_content(reply.body, reply.contentType);
            return httplib::Server::HandlerResponse::Handled;
        }));
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Handle(req, res);
    };
    const std::string any = ".*";
    m_server->Get(any, handler);
    m_server->Post(any, handler);
    m_server->Put(any, handler);
    m_server->Patch(any, handler);
    m_server->Delete(any, handler);
    m_server->Options(any, handler);

    m_port = settings.port == 0
                 ? m_server->bind_to_any_port("127.0.0.1")
                 : (m_server->bind_to_port("127.0.0.1", settings.port) ? settings.port : -1);
    if (m_port <= 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(settings.port));
    }
    m_thread = std::thread([this] {
        m_server->listen_after_bind();
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_changed.notify_all();
    });
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, kStartBound, [this] { return m_started || m_finished; });
    if (!m_started) {
        lock.unlock();
        Stop();
        throw std::runtime_error("the HTTPS listener did not start");
    }
}

HttpsFrontend::~HttpsFrontend() {
    Stop();
}

void HttpsFrontend::Stop() {
    {
        std::unique_lock lock(m_mutex);
        if (m_stopped) {
            return;
        }
        m_stopped = true;
        m_stopping = true;
        m_changed.notify_all();
        // stop() before the loop has started would be lost and the join would hang.
        m_changed.wait(lock, [this] { return m_started || m_finished; });
    }
    m_server->stop();
    if (m_thread.joinable()) {
        m_thread.join(); // also joins the workers: no handler outlives this
    }
}

bool HttpsFrontend::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, duration, [this] { return m_stopping; });
}

void HttpsFrontend::Handle(const httplib::Request& req, httplib::Response& res) {
    const auto& faults = m_faults.Options();
    if (faults.latency.count() > 0 && !Pause(faults.latency)) {
        Write(ApiReply::Error(503, code::kInternal, "shutting down"), res);
        return;
    }
    const auto action = m_faults.Pick();
    if (action == FaultInjector::Action::Fail) {
        Write(ApiReply::Error(500, code::kInjectedFault, "injected failure"), res);
    } else if (action == FaultInjector::Action::Drop) {
        // Headers promise a body that never comes: the client sees the
        // connection close mid-reply.
        res.set_content_provider(
            64, "application/json",
            [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
    } else if (!m_credentials.Accepts(req.get_header_value("Cookie"),
                                      req.get_header_value("Token"))) {
        Write(ApiReply::Error(401, code::kUnauthorized, "wrong or missing cookie id or token"),
              res);
    } else {
        std::multimap<std::string, std::string> params(req.params.begin(), req.params.end());
        std::multimap<std::string, std::string> headers(req.headers.begin(), req.headers.end());
        const auto path =
            req.path.empty() || req.path.front() != '/' ? req.path : req.path.substr(1);
        const ApiRequest request(req.method, path, std::move(params), std::move(headers), req.body);
        Write(m_router.Dispatch(request, m_caps), res);
    }
    if (m_logRequests) {
        // Method, path and status only: headers carry the credentials.
        std::cerr << req.method << ' ' << req.path << ' ' << res.status << '\n';
    }
}

void HttpsFrontend::Write(const ApiReply& reply, httplib::Response& res) {
    res.status = reply.status;
    for (const auto& [name, value] : reply.headers) {
        res.set_header(name, value);
    }
    const auto& faults = m_faults.Options();
    if (faults.slowChunkBytes == 0 || reply.body.empty()) {
        res.set_content(reply.body, reply.contentType);
        return;
    }
    const auto body = std::make_shared<const std::string>(reply.body);
    const auto chunk = faults.slowChunkBytes;
    const auto interval = faults.slowInterval;
    // cpp-httplib checks for stop() between provider calls, so each call
    // writes one chunk and the pause ends early on shutdown.
    res.set_content_provider(body->size(), reply.contentType,
                             [this, body, chunk, interval](std::size_t offset, std::size_t length,
                                                           httplib::DataSink& sink) {
                                 if (offset > 0 && !Pause(interval)) {
                                     return false;
                                 }
                                 return sink.write(body->data() + offset, std::min(length, chunk));
                             });
}

} // namespace zeqemu
