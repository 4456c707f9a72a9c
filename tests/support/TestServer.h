#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// One request as the server received it.
struct RecordedRequest {
    std::string method;
    std::string target; // path and query exactly as sent, no decoding
    std::string path;   // target up to the "?"
    std::string query;  // target after the "?", raw; empty when none
    // Every header line; repeated names keep their order. cpp-httplib keeps no
    // order across different names: the list is sorted by name. Values come
    // percent-decoded (cpp-httplib decodes them), so "%2fa" is recorded as "/a".
    HeaderList headers;
    std::string body;

    // Values of every header with this name (case-insensitive), in order.
    std::vector<std::string> HeaderValues(const std::string& name) const;
    // First value, or "" when the header is absent.
    std::string Header(const std::string& name) const;
    bool HasHeader(const std::string& name) const;
};

// One scripted answer.
struct Reply {
    enum class Fault {
        None,
        DropMidBody, // announce the full length, send half the body, close
        Trickle,     // send the body in chunks of trickleChunk bytes, one per trickleInterval
    };

    int status = 200;
    std::string body;
    std::string contentType = "application/json"; // "" sends no Content-Type
    // Added as given; a Content-Type here replaces contentType. The server sets
    // Content-Length, Connection and Keep-Alive itself.
    HeaderList headers;
    std::chrono::milliseconds delay{0}; // before the reply starts
    Fault fault = Fault::None;
    std::size_t trickleChunk = 1;
    std::chrono::milliseconds trickleInterval{10};

    static Reply Json(std::string body, int status = 200);
    static Reply Status(int status, std::string body = {});
};

// A real HTTP(S) server on 127.0.0.1 and an ephemeral port, started by the
// constructor (ready when it returns) and stopped by the destructor. Every
// request is recorded; answers come from per-path scripts.
class TestServer {
public:
    enum class Mode {
        Https,        // certificate signed by the test CA (config/ca.pem)
        HttpsOtherCa, // certificate signed by an unrelated CA: peer verification must fail
        Http,         // plain HTTP
    };

    explicit TestServer(Mode mode = Mode::Https);
    // HTTPS presenting this certificate, e.g. one from a CA that a client
    // under test trusts instead of the test CA.
    TestServer(std::string certFile, std::string keyFile);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const;
    // "https://127.0.0.1:PORT/" (or "http://..."), closing slash included.
    std::string BaseUrl() const;

    // Answers for requests to path (the part before "?"), used in order; the
    // last one repeats once the others are used. Replaces an earlier script; an
    // empty list removes it. The path is matched as sent, without decoding.
    void Script(const std::string& path, std::vector<Reply> replies);
    // Answer for paths without a script. Initially 404 with an empty body.
    void SetDefault(Reply reply);
    // HTTPS: every second handshake from now on (the 2nd, 4th, ...) presents
    // this certificate instead of the server's own, as an interceptor of some
    // connections would; a client must check each connection.
    void AlternateCertificate(const std::string& certFile, const std::string& keyFile);

    std::vector<RecordedRequest> Requests() const;
    std::size_t RequestCount() const;
    // Waits until at least count requests were recorded; false at the bound.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds bound) const;
    void ClearRequests();

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

// A loopback port with nothing listening: bound to 127.0.0.1:0, read, closed.
int RefusedPort();

// Files made at build time by scripts/make-certs.sh.
std::string TestCertPath(const std::string& fileName);

} // namespace testsupport
