#include "RawTlsClient.h"

#include "emulator/Emulator.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <charconv>

namespace emutest {

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point until) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

} // namespace

RawTlsClient::RawTlsClient(int port, std::chrono::milliseconds bound) {
    const auto until = Clock::now() + bound;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS) {
        return;
    }
    if (Wait(true, until) != 1) {
        return;
    }
    m_ctx = SSL_CTX_new(TLS_client_method());
    SSL_CTX_load_verify_locations(m_ctx, zeqemu::Emulator::DevelopmentCaFile().c_str(), nullptr);
    SSL_CTX_set_verify(m_ctx, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_mode(m_ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    auto* ssl = SSL_new(m_ctx);
    SSL_set_fd(ssl, m_fd);
    for (;;) {
        const auto result = SSL_connect(ssl);
        if (result == 1) {
            m_ssl = ssl;
            return;
        }
        const auto error = SSL_get_error(ssl, result);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            Wait(error == SSL_ERROR_WANT_WRITE, until) != 1) {
            SSL_free(ssl);
            return;
        }
    }
}

RawTlsClient::~RawTlsClient() {
    if (m_ssl != nullptr) {
        SSL_free(m_ssl);
    }
    if (m_ctx != nullptr) {
        SSL_CTX_free(m_ctx);
    }
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

int RawTlsClient::Wait(bool forWrite, Clock::time_point until, int stopFd) const {
    pollfd fds[2] = {{m_fd, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0},
                     {stopFd, POLLIN, 0}};
    const auto ready = ::poll(fds, stopFd >= 0 ? 2 : 1, MsLeft(until));
    if (ready > 0 && stopFd >= 0 && (fds[1].revents & POLLIN) != 0) {
        return -1;
    }
    return ready > 0 ? 1 : 0;
}

bool RawTlsClient::Send(std::string_view bytes, std::chrono::milliseconds bound) {
    const auto until = Clock::now() + bound;
    while (Ok() && !bytes.empty()) {
        const auto written = SSL_write(m_ssl, bytes.data(), static_cast<int>(bytes.size()));
        if (written > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        const auto error = SSL_get_error(m_ssl, written);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            Wait(error == SSL_ERROR_WANT_WRITE, until) != 1) {
            return false;
        }
    }
    return Ok();
}

bool RawTlsClient::Fill(Clock::time_point until) {
    char buffer[16384];
    for (;;) {
        const auto got = SSL_read(m_ssl, buffer, sizeof buffer);
        if (got > 0) {
            m_in.append(buffer, static_cast<std::size_t>(got));
            return true;
        }
        const auto error = SSL_get_error(m_ssl, got);
        if ((error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) ||
            Wait(error == SSL_ERROR_WANT_WRITE, until) != 1) {
            return false;
        }
    }
}

std::optional<RawTlsClient::Reply> RawTlsClient::ReadReply(std::chrono::milliseconds bound,
                                                           std::size_t keep) {
    const auto until = Clock::now() + bound;
    if (!Ok()) {
        return std::nullopt;
    }
    std::size_t end = 0;
    while ((end = m_in.find("\r\n\r\n")) == std::string::npos) {
        if (!Fill(until)) {
            return std::nullopt;
        }
    }
    Reply reply;
    reply.head = m_in.substr(0, end);
    m_in.erase(0, end + 4);
    const auto space = reply.head.find(' ');
    if (space == std::string::npos) {
        return std::nullopt;
    }
    std::from_chars(reply.head.data() + space + 1, reply.head.data() + reply.head.size(),
                    reply.status);
    std::uint64_t length = 0;
    const auto lower = [](std::string text) {
        for (auto& c : text) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return text;
    };
    const auto at = lower(reply.head).find("\r\ncontent-length:");
    if (at != std::string::npos) {
        auto first = reply.head.find_first_not_of(' ', at + 17);
        std::from_chars(reply.head.data() + first, reply.head.data() + reply.head.size(), length);
    }
    while (reply.bodyBytes < length) {
        if (m_in.empty() && !Fill(until)) {
            return std::nullopt;
        }
        const auto take = std::min<std::uint64_t>(m_in.size(), length - reply.bodyBytes);
        if (reply.body.size() < keep) {
            reply.body.append(m_in, 0, std::min<std::size_t>(take, keep - reply.body.size()));
        }
        m_in.erase(0, take);
        reply.bodyBytes += take;
    }
    return reply;
}

bool RawTlsClient::WaitClosed(std::chrono::milliseconds bound, int stopFd) {
    const auto until = Clock::now() + bound;
    char buffer[4096];
    while (Ok()) {
        const auto got = SSL_read(m_ssl, buffer, sizeof buffer);
        if (got > 0) {
            continue;
        }
        const auto error = SSL_get_error(m_ssl, got);
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            return true;
        }
        const auto waited = Wait(error == SSL_ERROR_WANT_WRITE, until, stopFd);
        if (waited != 1) {
            return false;
        }
    }
    return true;
}

} // namespace emutest
