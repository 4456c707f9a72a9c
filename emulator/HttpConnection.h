#pragma once

#include "emulator/UniqueFd.h"

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace zeqemu {

// One accepted TLS connection on a non-blocking socket, with the bytes read
// but not yet used. The event loop drives it without blocking (Advance) until
// a request's headers are in; a worker then reads and writes with bounds
// (Fill, Write), each wait ending early when stopFd becomes readable. Only one
// thread uses it at a time; the hand-over between them is what orders it.
class HttpConnection {
public:
    enum class Progress { WantRead, WantWrite, HeadReady, Closed };

    HttpConnection(UniqueFd socket, SSL_CTX* ctx, int stopFd);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    int Fd() const { return m_socket.Get(); }

    // Handshake, then reads until a whole request head is buffered, the
    // socket has nothing more, or the peer went away (or sent too much).
    Progress Advance();
    // The head of the buffered request (without the blank line), taken out
    // of the buffer; the bytes behind it stay for the body.
    std::string TakeHead();
    // From now on Advance reads and drops whatever arrives: the rest of a
    // refused body, so that the client still gets to read the refusal
    // instead of a reset. The loop's deadline bounds it.
    bool Draining() const { return m_draining; }
    void Drain() {
        m_draining = true;
        m_in.clear();
    }

    // Worker side. Appends what arrives within timeout; false on end of
    // stream, error, timeout or stop.
    bool Fill(std::chrono::milliseconds timeout);
    std::string& Buffered() { return m_in; }
    bool Write(std::string_view bytes, std::chrono::milliseconds timeout);

    static constexpr std::size_t kMaxHeadBytes = 64 * 1024;

private:
    // 1 ready, 0 timeout or stop.
    bool WaitFor(bool write, std::chrono::milliseconds timeout) const;
    bool HeadComplete() const;

    UniqueFd m_socket;
    SSL* m_ssl = nullptr;
    int m_stopFd;
    bool m_handshaken = false;
    bool m_draining = false;
    std::string m_in;
};

} // namespace zeqemu
