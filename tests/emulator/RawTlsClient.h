#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace emutest {

// A TLS client that sends exactly the bytes a test gives it, when the test
// says so: for requests no well-behaved client library would send (headers
// a byte at a time, bodies that never end, chunked bodies over a limit).
class RawTlsClient {
public:
    struct Reply {
        int status = 0;
        std::string head;
        std::string body;            // at most the kept bytes
        std::uint64_t bodyBytes = 0; // all of them
    };

    // Connects to 127.0.0.1:port and completes the handshake (trusting the
    // development CA) within bound; Ok() tells whether it did.
    RawTlsClient(int port, std::chrono::milliseconds bound);
    ~RawTlsClient();
    RawTlsClient(const RawTlsClient&) = delete;
    RawTlsClient& operator=(const RawTlsClient&) = delete;

    bool Ok() const { return m_ssl != nullptr; }
    bool Send(std::string_view bytes, std::chrono::milliseconds bound = std::chrono::seconds(30));
    // One reply with a Content-Length body, or nothing within bound.
    std::optional<Reply> ReadReply(std::chrono::milliseconds bound, std::size_t keep = 1 << 20);
    // True once the server has closed the connection; false when bound ran
    // out first or stopFd (when given) became readable.
    bool WaitClosed(std::chrono::milliseconds bound, int stopFd = -1);

private:
    // Waits for the socket (and stopFd): 1 ready, 0 bound ran out, -1 stopped.
    int Wait(bool forWrite, std::chrono::steady_clock::time_point until, int stopFd = -1) const;
    bool Fill(std::chrono::steady_clock::time_point until);

    int m_fd = -1;
    SSL_CTX* m_ctx = nullptr;
    SSL* m_ssl = nullptr;
    std::string m_in;
};

} // namespace emutest
