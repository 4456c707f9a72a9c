#include "support/TestServer.h"

#include <httplib.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Handlers sleep in delays and trickles, and each open keep-alive connection
// holds a worker, so the library's default pool (8) would queue concurrent tests.
constexpr std::size_t kWorkers = 16;
// cpp-httplib only notices stop() on an idle keep-alive connection when this expires.
constexpr time_t kKeepAliveSeconds = 1;
// Bounds waits that only a wedged machine would reach.
constexpr std::chrono::seconds kStartBound{60};
// cpp-httplib checks for stop() between provider calls, so a large body is
// written in slices to let the destructor cut it short.
constexpr std::size_t kWriteSlice = 64 * 1024;

// cpp-httplib adds these to the request's headers itself; no client sent them.
bool IsServerAddedHeader(const std::string& name) {
    return name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
           name == "LOCAL_PORT";
}

// Request headers renamed before cpp-httplib reads the body and restored when
// recording, and a mark for a Content-Length the client did not send; see
// PrepareBodyRead.
const std::string kHiddenPrefix = "X-TestServer-Hidden-";
const std::string kAddedLength = "X-TestServer-Added-Content-Length";

} // namespace

std::vector<std::string> RecordedRequest::HeaderValues(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) {
            values.push_back(value);
        }
    }
    return values;
}

std::string RecordedRequest::Header(const std::string& name) const {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) {
            return value;
        }
    }
    return {};
}

bool RecordedRequest::HasHeader(const std::string& name) const {
    return std::any_of(headers.begin(), headers.end(),
                       [&](const auto& header) { return SameName(header.first, name); });
}

Reply Reply::Json(std::string body, int status) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

Reply Reply::Status(int status, std::string body) {
    Reply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
}

struct TestServer::Impl {
    // Replies are shared, not copied, per request: copying a large body
    // for every request would load the server with work no server does.
    using SharedReply = std::shared_ptr<const Reply>;

    struct PathScript {
        std::vector<SharedReply> replies;
        std::size_t next = 0;
    };

    Mode mode;
    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;

    mutable std::mutex mutex;
    // Signalled on every recorded request, on start, on the end of the listen
    // loop and on stop, so delays and trickles end promptly when stopping.
    mutable std::condition_variable changed;
    bool started = false;
    bool finished = false;
    bool stopping = false;
    std::vector<RecordedRequest> requests;
    std::map<std::string, PathScript> scripts;
    SharedReply fallback = std::make_shared<const Reply>(Reply::Status(404));

    // Empty: the pair that the mode names.
    std::string certFile;
    std::string keyFile;
    // The other certificate of AlternateCertificate and the handshakes so
    // far, under mutex: the handshakes run on the server's workers.
    std::unique_ptr<X509, decltype(&X509_free)> otherCert{nullptr, &X509_free};
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> otherKey{nullptr, &EVP_PKEY_free};
    unsigned handshakes = 0;

    explicit Impl(Mode m) : mode(m) {}

    void Start();
    void Stop();
    void Handle(const httplib::Request& req, httplib::Response& res);
    SharedReply NextReplyLocked(const std::string& path);
    // False when the server is stopping, true once the wait has run out.
    bool Pause(std::chrono::milliseconds duration);
};

namespace {

std::unique_ptr<httplib::Server> MakeServer(TestServer::Mode mode, std::string cert,
                                            std::string key) {
    if (mode == TestServer::Mode::Http) {
        return std::make_unique<httplib::Server>();
    }
    if (cert.empty()) {
        const std::string prefix = mode == TestServer::Mode::Https ? "server" : "other-server";
        cert = TestCertPath(prefix + ".pem");
        key = TestCertPath(prefix + ".key");
    }
    auto server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
    if (!server->is_valid()) {
        throw std::runtime_error("TestServer: cannot load " + cert + " and " + key);
    }
    return server;
}

// Prepares a request before cpp-httplib reads its body; Record undoes it. The
// Request is a mutable object inside cpp-httplib that only the handler
// signature makes const.
// - Left visible, Content-Encoding makes cpp-httplib inflate the body (or answer
//   415), a multipart Content-Type splits it into parts and leaves the body
//   empty, and a form Content-Type caps it at 8 KiB (413, and libcurl sends
//   that type for any POSTFIELDS body by default). Hidden, the bytes arrive as sent.
// - It reads a POST, PUT or PATCH without Content-Length or Transfer-Encoding
//   until the read timeout and answers 400, where HTTP says there is no body.
void PrepareBodyRead(const httplib::Request& constReq) {
    auto& req = const_cast<httplib::Request&>(constReq);
    httplib::Headers kept;
    for (auto& [name, value] : req.headers) {
        if (SameName(name, "Content-Type") || SameName(name, "Content-Encoding")) {
            kept.emplace(kHiddenPrefix + name, value);
        } else {
            kept.emplace(name, value);
        }
    }
    if (!kept.count("Content-Length") && !kept.count("Transfer-Encoding")) {
        kept.emplace("Content-Length", "0");
        kept.emplace(kAddedLength, "");
    }
    req.headers = std::move(kept);
}

RecordedRequest Record(const httplib::Request& req) {
    RecordedRequest rec;
    rec.method = req.method;
    rec.target = req.target;
    const auto mark = rec.target.find('?');
    rec.path = rec.target.substr(0, mark);
    if (mark != std::string::npos) {
        rec.query = rec.target.substr(mark + 1);
    }
    const bool addedLength = req.headers.count(kAddedLength) > 0;
    for (const auto& [name, value] : req.headers) {
        if (IsServerAddedHeader(name) || name == kAddedLength ||
            (addedLength && SameName(name, "Content-Length"))) {
            continue;
        }
        if (name.starts_with(kHiddenPrefix)) {
            rec.headers.emplace_back(name.substr(kHiddenPrefix.size()), value);
        } else {
            rec.headers.emplace_back(name, value);
        }
    }
    // Restored names sort elsewhere; keep the order cpp-httplib gives the rest.
    std::stable_sort(rec.headers.begin(), rec.headers.end(), [](const auto& a, const auto& b) {
        return strcasecmp(a.first.c_str(), b.first.c_str()) < 0;
    });
    rec.body = req.body;
    return rec;
}

} // namespace

void TestServer::Impl::Start() {
    server = MakeServer(mode, certFile, keyFile);
    server->set_keep_alive_timeout(kKeepAliveSeconds);
    // Headers and body go out in separate writes; with Nagle the body waits
    // for the client's delayed ACK, about 40 ms a response.
    server->set_tcp_nodelay(true);
    // listen_internal sets is_running before it makes the task queue, and stop()
    // is a no-op until is_running is set: this hook is the event that makes the
    // destructor's stop() reliable.
    server->new_task_queue = [this] {
        {
            std::lock_guard lock(mutex);
            started = true;
        }
        changed.notify_all();
        return new httplib::ThreadPool(kWorkers);
    };
    server->set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        PrepareBodyRead(req);
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const auto handler = [this](const httplib::Request& req, httplib::Response& res) {
        Handle(req, res);
    };
    const std::string any = ".*";
    server->Get(any, handler); // HEAD is routed here too
    server->Post(any, handler);
    server->Put(any, handler);
    server->Patch(any, handler);
    server->Delete(any, handler);
    server->Options(any, handler);

    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        throw std::runtime_error("TestServer: cannot bind to 127.0.0.1");
    }
    thread = std::thread([this] {
        server->listen_after_bind();
        {
            std::lock_guard lock(mutex);
            finished = true;
        }
        changed.notify_all();
    });

    std::unique_lock lock(mutex);
    changed.wait_for(lock, kStartBound, [this] { return started || finished; });
    if (!started) {
        lock.unlock();
        Stop();
        throw std::runtime_error("TestServer: the listen loop did not start");
    }
}

void TestServer::Impl::Stop() {
    {
        std::unique_lock lock(mutex);
        stopping = true;
        changed.notify_all();
        // stop() before the loop has started would be lost and the join would hang.
        changed.wait(lock, [this] { return started || finished; });
    }
    server->stop();
    if (thread.joinable()) {
        thread.join(); // also joins the workers, so no handler outlives this
    }
}

bool TestServer::Impl::Pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex);
    return !changed.wait_for(lock, duration, [this] { return stopping; });
}

TestServer::Impl::SharedReply TestServer::Impl::NextReplyLocked(const std::string& path) {
    const auto found = scripts.find(path);
    if (found == scripts.end()) {
        return fallback;
    }
    auto& script = found->second;
    const auto index = std::min(script.next, script.replies.size() - 1);
    script.next = index + 1;
    return script.replies[index];
}

void TestServer::Impl::Handle(const httplib::Request& req, httplib::Response& res) {
    auto rec = Record(req);
    SharedReply next;
    {
        // One lock for both keeps the reply order equal to the arrival order.
        std::lock_guard lock(mutex);
        next = NextReplyLocked(rec.path);
        requests.push_back(std::move(rec));
    }
    const Reply& reply = *next;
    changed.notify_all();

    if (reply.delay.count() > 0 && !Pause(reply.delay)) {
        res.status = 503; // stopping: no test is left to see the scripted answer
        return;
    }

    res.status = reply.status;
    const std::shared_ptr<const std::string> body(next, &reply.body);
    const auto size = body->size();
    if (size > 0) {
        // A provider with a known length is never compressed by cpp-httplib,
        // whatever the client accepts, so the client gets exactly these bytes.
        httplib::ContentProvider provider;
        switch (reply.fault) {
        case Reply::Fault::None:
            provider = [body](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                // cpp-httplib passes a client's Range through unchecked.
                if (offset >= body->size()) {
                    return false;
                }
                length = std::min({length, kWriteSlice, body->size() - offset});
                return sink.write(body->data() + offset, length);
            };
            break;
        case Reply::Fault::DropMidBody:
            provider = [body](std::size_t, std::size_t, httplib::DataSink& sink) {
                sink.write(body->data(), body->size() / 2);
                return false; // cpp-httplib closes the connection
            };
            break;
        case Reply::Fault::Trickle: {
            const auto chunk = std::max<std::size_t>(reply.trickleChunk, 1);
            const auto interval = reply.trickleInterval;
            provider = [this, body, chunk, interval](std::size_t offset, std::size_t length,
                                                     httplib::DataSink& sink) {
                if (offset >= body->size() || (offset > 0 && !Pause(interval))) {
                    return false;
                }
                return sink.write(body->data() + offset,
                                  std::min({length, chunk, body->size() - offset}));
            };
            break;
        }
        }
        res.set_content_provider(size, reply.contentType, std::move(provider));
    }
    // set_content_provider always writes a Content-Type, even an empty one.
    res.headers.erase("Content-Type");
    const bool typeGiven =
        std::any_of(reply.headers.begin(), reply.headers.end(),
                    [](const auto& header) { return SameName(header.first, "Content-Type"); });
    if (!typeGiven && !reply.contentType.empty()) {
        res.headers.emplace("Content-Type", reply.contentType);
    }
    for (const auto& [name, value] : reply.headers) {
        res.headers.emplace(name, value);
    }
}

TestServer::TestServer(Mode mode) : m_impl(std::make_unique<Impl>(mode)) {
    m_impl->Start();
}

TestServer::TestServer(std::string certFile, std::string keyFile)
    : m_impl(std::make_unique<Impl>(Mode::Https)) {
    m_impl->certFile = std::move(certFile);
    m_impl->keyFile = std::move(keyFile);
    m_impl->Start();
}

TestServer::~TestServer() {
    m_impl->Stop();
}

int TestServer::Port() const {
    return m_impl->port;
}

std::string TestServer::BaseUrl() const {
    const char* scheme = m_impl->mode == Mode::Http ? "http" : "https";
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(m_impl->port) + "/";
}

void TestServer::Script(const std::string& path, std::vector<Reply> replies) {
    std::lock_guard lock(m_impl->mutex);
    if (replies.empty()) {
        m_impl->scripts.erase(path);
    } else {
        Impl::PathScript script;
        for (Reply& reply : replies) {
            script.replies.push_back(std::make_shared<const Reply>(std::move(reply)));
        }
        m_impl->scripts[path] = std::move(script);
    }
}

namespace {

template <typename T, T* (*Read)(FILE*, T**, pem_password_cb*, void*)>
T* ReadPem(const std::string& file) {
    std::unique_ptr<FILE, decltype(&std::fclose)> in(std::fopen(file.c_str(), "r"), &std::fclose);
    T* value = in ? Read(in.get(), nullptr, nullptr, nullptr) : nullptr;
    if (value == nullptr) {
        throw std::runtime_error("TestServer: cannot read " + file);
    }
    return value;
}

} // namespace

void TestServer::AlternateCertificate(const std::string& certFile, const std::string& keyFile) {
    auto* ssl = dynamic_cast<httplib::SSLServer*>(m_impl->server.get());
    if (ssl == nullptr) {
        throw std::logic_error("TestServer: only an HTTPS server presents certificates");
    }
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->otherCert.reset(ReadPem<X509, PEM_read_X509>(certFile));
        m_impl->otherKey.reset(ReadPem<EVP_PKEY, PEM_read_PrivateKey>(keyFile));
    }
    // OpenSSL asks this once per handshake, before it picks the certificate.
    SSL_CTX_set_cert_cb(
        ssl->ssl_context(),
        [](SSL* connection, void* arg) {
            auto* impl = static_cast<Impl*>(arg);
            std::lock_guard lock(impl->mutex);
            if (impl->handshakes++ % 2 == 0) {
                return 1;
            }
            return SSL_use_certificate(connection, impl->otherCert.get()) == 1 &&
                           SSL_use_PrivateKey(connection, impl->otherKey.get()) == 1
                       ? 1
                       : 0;
        },
        m_impl.get());
}

void TestServer::SetDefault(Reply reply) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->fallback = std::make_shared<const Reply>(std::move(reply));
}

std::vector<RecordedRequest> TestServer::Requests() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->requests;
}

std::size_t TestServer::RequestCount() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->requests.size();
}

bool TestServer::WaitForRequests(std::size_t count, std::chrono::milliseconds bound) const {
    std::unique_lock lock(m_impl->mutex);
    return m_impl->changed.wait_for(lock, bound, [&] { return m_impl->requests.size() >= count; });
}

void TestServer::ClearRequests() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->requests.clear();
}

int RefusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        throw std::runtime_error("RefusedPort: socket failed");
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0;
    ::close(fd);
    if (!ok) {
        throw std::runtime_error("RefusedPort: cannot bind to 127.0.0.1");
    }
    return ntohs(addr.sin_port);
}

std::string TestCertPath(const std::string& fileName) {
    return std::string(HTTPLIB_TEST_CERT_DIR) + "/" + fileName;
}

} // namespace testsupport
