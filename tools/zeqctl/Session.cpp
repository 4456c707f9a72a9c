#include "Session.h"

#include "TlsCheck.h"

#include <curl/curl.h>

#include <iostream>
#include <stdexcept>
#include <thread>

namespace zeqctl {

namespace {

// A read that failed on the way is tried this often in all, a little later
// each time.
constexpr int kReadTries = 3;
constexpr std::chrono::milliseconds kReadBackOff{250};

bool BrokeOffMidReply(int curlCode) {
    return curlCode == CURLE_PARTIAL_FILE || curlCode == CURLE_GOT_NOTHING ||
           curlCode == CURLE_SEND_ERROR || curlCode == CURLE_RECV_ERROR;
}

} // namespace

Session::Session(const GlobalOptions& options)
    : m_options(options), m_out(options.json, std::cout), m_diagnostics(options.verbose) {}

Session::~Session() = default;

Connection& Session::Device() {
    if (!m_connection) {
        m_connection = std::make_unique<Connection>(m_options.connection);
        if (m_options.verbose) {
            std::cerr << "zeqctl: device " << m_connection->Describe() << ", CA "
                      << Connection::CaFile().string() << '\n';
        }
    }
    return *m_connection;
}

ConnectionOptions& Session::PendingConnection() {
    if (m_connection) {
        throw std::logic_error("the device is connected already");
    }
    return m_options.connection;
}

void Session::Begin() {
    Device();
    m_diagnostics.Reset();
    TlsCheck::ResetObservation();
}

void Session::Require(const std::string& what, const std::function<bool()>& operation) {
    Begin();
    if (!operation()) {
        Fail(what);
    }
}

void Session::RequireCoded(const std::string& what,
                           const std::function<bool(HttpPostRspCode*)>& operation) {
    Begin();
    HttpPostRspCode rsp;
    if (!operation(&rsp)) {
        Fail(what, rsp.code, rsp.des);
    }
}

void Session::Retrying(const std::function<void()>& step) {
    for (int tries = 1;; ++tries) {
        try {
            step();
            return;
        } catch (const CommandError& e) {
            if (!e.Transient() || tries == kReadTries) {
                throw;
            }
        }
        std::this_thread::sleep_for(kReadBackOff * tries);
    }
}

void Session::Read(const std::string& what, const std::function<bool()>& operation) {
    Retrying([&] { Require(what, operation); });
}

void Session::ReadCoded(const std::string& what,
                        const std::function<bool(HttpPostRspCode*)>& operation) {
    Retrying([&] { RequireCoded(what, operation); });
}

void Session::FailIfLogged(const std::string& what) {
    const auto clues = m_diagnostics.Clues();
    if (clues.transportFailed || clues.curlCode != 0 || clues.downloadCurlCode != 0 ||
        clues.downloadHttpStatus != 0) {
        Fail(what);
    }
}

std::string Session::DeviceUrl() const {
    return m_connection ? m_connection->BaseUrl() : std::string("the device");
}

CommandError Session::TransportError(const std::string& what, int curlCode) const {
    const auto tls = TlsCheck::Observation();
    const std::string url = DeviceUrl();
    const auto failed = [&](const std::string& why) {
        return CommandError(ExitCode::Connection, what + ": " + why);
    };
    if (tls.pinMismatch && tls.leaf) {
        return failed("certificate pin mismatch: " + url + " presents " +
                      TlsCheck::Format(*tls.leaf) + ", but --pin expects " +
                      m_options.connection.pin +
                      ". If the device's certificate was renewed on purpose, pin the new "
                      "fingerprint");
    }
    // With --pin the name decides only where libcurl checks it too.
    if (tls.nameMismatch &&
        (m_options.connection.pin.empty() || curlCode == CURLE_PEER_FAILED_VERIFICATION)) {
        return failed("TLS: the certificate of " + url + " is for " + tls.certificateNames +
                      ", not for " + tls.expectedName +
                      ". Reach the device by a name its certificate holds" +
                      (tls.leaf ? ", or, if you trust this certificate, pin it with --pin " +
                                      TlsCheck::Format(*tls.leaf)
                                : std::string()));
    }
    if (tls.chainFailed || curlCode == CURLE_PEER_FAILED_VERIFICATION) {
        return failed("TLS: the certificate of " + url + " is not trusted by " +
                      Connection::CaFile().string() +
                      (tls.chainError.empty() ? "" : " (" + tls.chainError + ")") +
                      ". Put the CA that signed the device's certificate there");
    }
    switch (curlCode) {
    case CURLE_COULDNT_CONNECT:
        return CommandError(ExitCode::Connection,
                            what + ": connection refused by " + url +
                                ": is the device on and the port right?",
                            true);
    case CURLE_COULDNT_RESOLVE_HOST:
        return failed("cannot resolve the host of " + url);
    case CURLE_OPERATION_TIMEDOUT:
        // Once a handshake has passed, the time-out can only be the stall limit.
        if (tls.accepted) {
            return StalledError(what);
        }
        return failed("no answer from " + url + " in time");
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ISSUER_ERROR:
        return failed("TLS handshake with " + url + " failed (libcurl code " +
                      std::to_string(curlCode) +
                      "): the device does not speak TLS 1.2 with the client's ciphers, or the "
                      "certificate check refused it");
    default:
        break;
    }
    if (BrokeOffMidReply(curlCode)) {
        return CommandError(ExitCode::Connection,
                            what + ": the connection to " + url +
                                " broke off before the whole reply came (" +
                                curl_easy_strerror(static_cast<CURLcode>(curlCode)) +
                                ", libcurl code " + std::to_string(curlCode) + ")",
                            true);
    }
    return failed("no answer from " + url + ": " +
                  curl_easy_strerror(static_cast<CURLcode>(curlCode)) + " (libcurl code " +
                  std::to_string(curlCode) + ")");
}

CommandError Session::StalledError(const std::string& what) const {
    return CommandError(ExitCode::Stalled, what + ": the device " + DeviceUrl() +
                                               " stopped answering: nothing came for " +
                                               std::to_string(Timeout().count()) +
                                               " s (--timeout)");
}

void Session::FailTransport(const std::string& what, int curlCode) {
    throw TransportError(what, curlCode);
}

void Session::FailStalled(const std::string& what) {
    throw StalledError(what);
}

void Session::Fail(const std::string& what, std::int64_t deviceCode,
                   const std::string& deviceText) {
    const auto clues = m_diagnostics.Clues();
    if (clues.transportFailed) {
        throw TransportError(what, clues.curlCode);
    }
    if (clues.downloadCurlCode != 0) {
        throw TransportError(what, clues.downloadCurlCode);
    }
    const auto device = [&](std::int64_t code, const std::string& text) {
        return CommandError::Device(what + ": the device refused with code " +
                                    std::to_string(code) + (text.empty() ? "" : ": " + text));
    };
    if (deviceCode != 0) {
        throw device(deviceCode, deviceText);
    }
    if (clues.deviceCode && *clues.deviceCode != 0) {
        throw device(*clues.deviceCode, clues.deviceText);
    }
    if (clues.downloadHttpStatus != 0) {
        throw CommandError::Device(what + ": the device answered HTTP " +
                                   std::to_string(clues.downloadHttpStatus));
    }
    // A status came, so the library handed over what the body held when the
    // transfer failed: no refusal of the device, a reply lost on the way.
    if (clues.curlCode != 0) {
        throw TransportError(what, clues.curlCode);
    }
    throw CommandError::Device(what + ": the device's answer could not be used" +
                               (m_options.verbose ? "" : " (--verbose shows the library's log)"));
}

} // namespace zeqctl
