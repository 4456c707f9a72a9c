#include "emulator/HttpsFrontend.h"

#include "emulator/ApiError.h"
#include "emulator/ApiReply.h"
#include "emulator/ApiRequest.h"
#include "emulator/BodyReader.h"
#include "emulator/ErrorCodes.h"
#include "emulator/HttpConnection.h"
#include "emulator/RequestHead.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <csignal>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace zeqemu {

namespace {

using Clock = std::chrono::steady_clock;

// Handlers are short; only a client's own body or a reply it reads slowly
// holds a worker, and only once its credentials were accepted.
constexpr int kWorkers = 8;
// Connections whose heads are still coming; more are closed at once.
constexpr std::size_t kMaxWaiting = 1024;
// The longest wait for one read or write of a body or reply.
constexpr std::chrono::seconds kIoTimeout{30};
// Bodies that are parsed are held in memory whatever the configured limit.
constexpr std::uint64_t kMaxHeldBody = 16 * 1024 * 1024;
constexpr std::size_t kFileBlock = 64 * 1024;

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 413:
        return "Payload Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

void Signal(int eventFd) {
    const std::uint64_t one = 1;
    (void)!::write(eventFd, &one, sizeof one);
}

UniqueFd Listen(int port, int& bound) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (!fd.Valid() || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd.Get(), 512) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1:" + std::to_string(port));
    }
    bound = ntohs(address.sin_port);
    return fd;
}

} // namespace

HttpsFrontend::HttpsFrontend(const Settings& settings, const Router& router,
                             const Credentials& credentials, const Capabilities& caps,
                             const FaultOptions& faults)
    : m_router(router), m_credentials(credentials), m_caps(caps), m_faults(faults),
      m_settings(settings), m_ctx(SSL_CTX_new(TLS_server_method()), &SSL_CTX_free) {
    if (!m_ctx || SSL_CTX_set_min_proto_version(m_ctx.get(), TLS1_2_VERSION) != 1 ||
        SSL_CTX_use_certificate_chain_file(m_ctx.get(), settings.certFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(m_ctx.get(), settings.keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(m_ctx.get()) != 1) {
        throw std::runtime_error("cannot load the server certificate " + settings.certFile +
                                 " and key " + settings.keyFile);
    }
    SSL_CTX_set_mode(m_ctx.get(),
                     SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // A peer that vanished mid-reply must cost an error code, not the process.
    std::signal(SIGPIPE, SIG_IGN);

    m_listen = Listen(settings.port, m_port);
    m_epoll = UniqueFd(::epoll_create1(EPOLL_CLOEXEC));
    m_wake = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    m_stop = UniqueFd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_epoll.Valid() || !m_wake.Valid() || !m_stop.Valid()) {
        throw std::runtime_error("cannot set up the connection loop");
    }
    for (const int fd : {m_listen.Get(), m_wake.Get(), m_stop.Get()}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, fd, &event);
    }
    m_loop = std::thread([this] { Loop(); });
    for (int i = 0; i < kWorkers; ++i) {
        m_workers.emplace_back([this] { Work(); });
    }
}

HttpsFrontend::~HttpsFrontend() {
    Stop();
}

void HttpsFrontend::Stop() {
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping) {
            return;
        }
        m_stopping = true;
    }
    m_changed.notify_all();
    Signal(m_stop.Get());
    m_loop.join();
    for (auto& worker : m_workers) {
        worker.join(); // no handler outlives this
    }
    m_ready.clear();
    m_returned.clear();
}

void HttpsFrontend::Loop() {
    std::vector<epoll_event> events(64);
    for (;;) {
        auto wait = std::chrono::milliseconds(1000);
        const auto now = Clock::now();
        for (const auto& [fd, waiting] : m_waiting) {
            wait = std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(
                                      std::max(waiting.deadline - now, Clock::duration::zero())));
        }
        const auto count =
            ::epoll_wait(m_epoll.Get(), events.data(), static_cast<int>(events.size()),
                         static_cast<int>(wait.count()));
        for (int i = 0; i < count; ++i) {
            const auto fd = events[static_cast<std::size_t>(i)].data.fd;
            if (fd == m_stop.Get()) {
                m_waiting.clear();
                return;
            }
            if (fd == m_listen.Get()) {
                Accept();
            } else if (fd == m_wake.Get()) {
                std::uint64_t ignored = 0;
                (void)!::read(m_wake.Get(), &ignored, sizeof ignored);
                std::vector<std::unique_ptr<HttpConnection>> returned;
                {
                    std::lock_guard lock(m_mutex);
                    returned.swap(m_returned);
                }
                for (auto& connection : returned) {
                    Track(std::move(connection));
                }
            } else {
                Drive(fd);
            }
        }
        const auto late = Clock::now();
        for (auto it = m_waiting.begin(); it != m_waiting.end();) {
            const auto fd = it->first;
            const bool expired = it->second.deadline <= late;
            ++it;
            if (expired) {
                Forget(fd);
            }
        }
    }
}

void HttpsFrontend::Accept() {
    for (;;) {
        UniqueFd socket(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!socket.Valid()) {
            return;
        }
        if (m_waiting.size() >= kMaxWaiting) {
            continue; // closed unread: the device is full of half-sent requests
        }
        const int on = 1;
        ::setsockopt(socket.Get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        try {
            Track(std::make_unique<HttpConnection>(std::move(socket), m_ctx.get(), m_stop.Get()));
        } catch (const std::exception& e) {
            std::cerr << "zeq-emulator: " << e.what() << '\n';
        }
    }
}

void HttpsFrontend::Track(std::unique_ptr<HttpConnection> connection) {
    const auto fd = connection->Fd();
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_ADD, fd, &event);
    const auto bound = connection->Draining() ? m_settings.drainTime : m_settings.headerTimeout;
    m_waiting[fd] = Waiting{std::move(connection), Clock::now() + bound};
    // Bytes of the next request may already sit in the buffer or in TLS's own.
    Drive(fd);
}

void HttpsFrontend::Forget(int fd) {
    ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_DEL, fd, nullptr);
    m_waiting.erase(fd);
}

void HttpsFrontend::Drive(int fd) {
    const auto found = m_waiting.find(fd);
    if (found == m_waiting.end()) {
        return;
    }
    const auto progress = found->second.connection->Advance();
    if (progress == HttpConnection::Progress::Closed) {
        Forget(fd);
        return;
    }
    if (progress == HttpConnection::Progress::HeadReady) {
        auto connection = std::move(found->second.connection);
        Forget(fd);
        {
            std::lock_guard lock(m_mutex);
            m_ready.push_back(std::move(connection));
        }
        m_changed.notify_all();
        return;
    }
    epoll_event event{};
    event.events = progress == HttpConnection::Progress::WantWrite ? EPOLLOUT : EPOLLIN;
    event.data.fd = fd;
    ::epoll_ctl(m_epoll.Get(), EPOLL_CTL_MOD, fd, &event);
}

void HttpsFrontend::Work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stopping || !m_ready.empty(); });
        if (m_stopping) {
            return;
        }
        auto connection = std::move(m_ready.front());
        m_ready.pop_front();
        lock.unlock();
        const auto after = Serve(*connection);
        if (after == After::Drain) {
            connection->Drain();
        }
        lock.lock();
        if (after != After::Close && !m_stopping) {
            m_returned.push_back(std::move(connection));
            Signal(m_wake.Get());
        }
    }
}

bool HttpsFrontend::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(m_mutex);
    return !m_changed.wait_for(lock, duration, [this] { return m_stopping; });
}

HttpsFrontend::After HttpsFrontend::Serve(HttpConnection& connection) {
    const auto head = RequestHead::Parse(connection.TakeHead());
    if (!head) {
        WriteReply(connection, ApiReply::Error(400, code::kBadJson, "malformed request head"),
                   false);
        return After::Close;
    }
    bool bodyDone = !head->HasBody();
    bool drop = false;
    const auto reply = Answer(connection, *head, bodyDone, drop);
    // A body left unread would be taken for the next request.
    const bool keep = head->keepAlive && bodyDone && !drop;
    const bool written = WriteReply(connection, reply, keep, drop);
    if (m_settings.logRequests) {
        // Method, path and status only: headers carry the credentials.
        std::cerr << head->method << ' ' << head->path << ' ' << reply.status << '\n';
    }
    if (!written || drop) {
        return After::Close;
    }
    return keep ? After::KeepAlive : bodyDone ? After::Close : After::Drain;
}

ApiReply HttpsFrontend::Answer(HttpConnection& connection, const RequestHead& head, bool& bodyDone,
                               bool& drop) {
    const auto& faults = m_faults.Options();
    if (faults.latency.count() > 0 && !Pause(faults.latency)) {
        return ApiReply::Error(503, code::kInternal, "shutting down");
    }
    const auto action = m_faults.Pick();
    if (action == FaultInjector::Action::Fail) {
        return ApiReply::Error(500, code::kInjectedFault, "injected failure");
    }
    if (action == FaultInjector::Action::Drop) {
        drop = true;
        return ApiReply::Ok();
    }
    // Before any byte of the body: a stranger's body is never read.
    if (!m_credentials.Accepts(head.Header("Cookie"), head.Header("Token"))) {
        return ApiReply::Error(401, code::kUnauthorized, "wrong or missing cookie id or token");
    }
    const auto path = head.path.substr(1);
    const bool streams = m_router.StreamsBody(head.method, path);
    const std::uint64_t limit =
        streams ? m_settings.maxBodyBytes
                : std::min<std::uint64_t>(m_settings.maxBodyBytes, kMaxHeldBody);
    try {
        BodyReader body(connection, head, limit, kIoTimeout);
        if (head.expectContinue && head.HasBody() &&
            !connection.Write("HTTP/1.1 100 Continue\r\n\r\n", kIoTimeout)) {
            return ApiReply::Error(400, code::kBadJson, "the client went away");
        }
        ApiRequest request(head.method, path, head.query, head.headers,
                           streams ? std::string() : body.ReadAll());
        if (streams) {
            request.SetBodyStream(
                [&body](char* out, std::size_t size) { return body.Read(out, size); });
        }
        auto reply = m_router.Dispatch(request, m_caps);
        bodyDone = body.Finished();
        return reply;
    } catch (const ApiError& e) {
        return ApiReply::Error(e.HttpStatus(), e.Code(), e.what());
    }
}

bool HttpsFrontend::WriteReply(HttpConnection& connection, const ApiReply& reply, bool keepAlive,
                               bool drop) {
    // A dropped reply's head promises a body that never comes: the client
    // sees the connection close mid-reply.
    const auto length = drop         ? std::int64_t{64}
                        : reply.file ? reply.file->length
                                     : static_cast<std::int64_t>(reply.body.size());
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) +
                       "\r\nContent-Type: " + reply.contentType + "\r\n";
    for (const auto& [name, value] : reply.headers) {
        head += name + ": " + value + "\r\n";
    }
    head += "Content-Length: " + std::to_string(length) + "\r\n";
    head += keepAlive ? "Connection: keep-alive\r\n\r\n" : "Connection: close\r\n\r\n";
    if (drop) {
        connection.Write(head, kIoTimeout);
        return false;
    }
    const auto& faults = m_faults.Options();
    const auto chunk = faults.slowChunkBytes;
    // Slow replies: one chunk, then a pause that ends early on shutdown.
    const auto send = [&](std::string_view bytes) {
        if (chunk == 0) {
            return connection.Write(bytes, kIoTimeout);
        }
        while (!bytes.empty()) {
            const auto piece = bytes.substr(0, chunk);
            if (!connection.Write(piece, kIoTimeout)) {
                return false;
            }
            bytes.remove_prefix(piece.size());
            if (!bytes.empty() && !Pause(faults.slowInterval)) {
                return false;
            }
        }
        return true;
    };
    if (!reply.file) {
        return connection.Write(head, kIoTimeout) && send(reply.body);
    }
    if (!connection.Write(head, kIoTimeout)) {
        return false;
    }
    std::string block(kFileBlock, '\0');
    for (std::int64_t done = 0; done < length;) {
        const auto want = static_cast<std::size_t>(
            std::min<std::int64_t>(length - done, static_cast<std::int64_t>(block.size())));
        const auto got = ::pread(reply.file->file->Get(), block.data(), want,
                                 static_cast<off_t>(reply.file->offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // A file that shrank meanwhile: the client sees a short body.
        if (got <= 0 || !send(std::string_view(block.data(), static_cast<std::size_t>(got)))) {
            return false;
        }
        done += got;
    }
    return true;
}

} // namespace zeqemu
