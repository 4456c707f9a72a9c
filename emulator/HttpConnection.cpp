#include "emulator/HttpConnection.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>

#include <algorithm>
#include <stdexcept>

namespace zeqemu {

HttpConnection::HttpConnection(UniqueFd socket, SSL_CTX* ctx, int stopFd)
    : m_socket(std::move(socket)), m_ssl(SSL_new(ctx)), m_stopFd(stopFd) {
    if (m_ssl == nullptr || SSL_set_fd(m_ssl, m_socket.Get()) != 1) {
        SSL_free(m_ssl);
        throw std::runtime_error("cannot set up TLS on a connection");
    }
}

HttpConnection::~HttpConnection() {
    if (m_handshaken) {
        // One non-blocking close_notify; a peer that is gone gets nothing.
        SSL_shutdown(m_ssl);
    }
    SSL_free(m_ssl);
    // The thread's OpenSSL error queue would otherwise keep this
    // connection's errors until the next call on it.
    ERR_clear_error();
}

bool HttpConnection::HeadComplete() const {
    return m_in.find("\r\n\r\n") != std::string::npos;
}

HttpConnection::Progress HttpConnection::Advance() {
    if (!m_handshaken) {
        const auto result = SSL_accept(m_ssl);
        if (result != 1) {
            const auto error = SSL_get_error(m_ssl, result);
            ERR_clear_error();
            return error == SSL_ERROR_WANT_READ    ? Progress::WantRead
                   : error == SSL_ERROR_WANT_WRITE ? Progress::WantWrite
                                                   : Progress::Closed;
        }
        m_handshaken = true;
    }
    char buffer[4096];
    for (;;) {
        if (HeadComplete()) {
            return Progress::HeadReady;
        }
        if (m_in.size() > kMaxHeadBytes) {
            return Progress::Closed;
        }
        const auto got = SSL_read(m_ssl, buffer, sizeof buffer);
        if (got > 0) {
            if (!m_draining) {
                m_in.append(buffer, static_cast<std::size_t>(got));
            }
            continue;
        }
        const auto error = SSL_get_error(m_ssl, got);
        ERR_clear_error();
        return error == SSL_ERROR_WANT_READ    ? Progress::WantRead
               : error == SSL_ERROR_WANT_WRITE ? Progress::WantWrite
                                               : Progress::Closed;
    }
}

std::string HttpConnection::TakeHead() {
    const auto end = m_in.find("\r\n\r\n");
    auto head = m_in.substr(0, end);
    m_in.erase(0, end + 4);
    return head;
}

bool HttpConnection::WaitFor(bool write, std::chrono::milliseconds timeout) const {
    pollfd fds[2] = {{m_socket.Get(), static_cast<short>(write ? POLLOUT : POLLIN), 0},
                     {m_stopFd, POLLIN, 0}};
    const auto ready = ::poll(fds, 2, static_cast<int>(timeout.count()));
    return ready > 0 && (fds[1].revents & POLLIN) == 0;
}

bool HttpConnection::Fill(std::chrono::milliseconds timeout) {
    char buffer[16384];
    for (;;) {
        const auto got = SSL_read(m_ssl, buffer, sizeof buffer);
        if (got > 0) {
            m_in.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
        const auto error = SSL_get_error(m_ssl, got);
        ERR_clear_error();
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            !WaitFor(error == SSL_ERROR_WANT_WRITE, timeout)) {
            return false;
        }
    }
}

bool HttpConnection::Write(std::string_view bytes, std::chrono::milliseconds timeout) {
    while (!bytes.empty()) {
        const auto written = SSL_write(
            m_ssl, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 20)));
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        const auto error = SSL_get_error(m_ssl, written);
        ERR_clear_error();
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            !WaitFor(error == SSL_ERROR_WANT_WRITE, timeout)) {
            return false;
        }
    }
    return true;
}

} // namespace zeqemu
