#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace zeqctl {

using Fingerprint = std::array<std::uint8_t, 32>;

// What the last handshakes showed; read after a failed operation to explain it.
struct TlsObservation {
    bool chainFailed = false;
    std::string chainError; // OpenSSL's reason, e.g. "unable to get local issuer certificate"
    bool pinMismatch = false;
    // The certificate does not hold the device's host name or IP (noted with
    // --pin too, where only the pin decides).
    bool nameMismatch = false;
    std::string expectedName;
    std::string certificateNames;    // e.g. "evil.example, www.evil.example"
    std::optional<Fingerprint> leaf; // the device's certificate, once seen
    bool accepted = false;           // a handshake got past every check
};

// The device request's TLS hook. libcurl has already loaded config/ca.pem into
// the context when the hook runs; the hook adds a verify callback that keeps
// that chain check and then demands, of the leaf certificate, the pinned
// SHA-256 fingerprint when there is a pin and the device's host name or IP
// otherwise (the device request leaves libcurl's host check off). The hook is
// a plain function pointer, so its settings are process-wide.
class TlsCheck {
public:
    // "sha256:" followed by 64 hex digits, optionally separated by colons.
    static std::optional<Fingerprint> Parse(const std::string& text);
    static std::string Format(const Fingerprint& fingerprint);

    // host: the device's host name or IP, as its base URL gives it.
    static void Require(std::optional<Fingerprint> pin, std::string host);
    static void ResetObservation();
    static TlsObservation Observation();

    // Registered with HttpReqZEQ::RegSslFunction: (CURL*, SSL_CTX*, user) -> CURLcode.
    static int Hook(void* curl, void* sslCtx, void* userPtr);
};

} // namespace zeqctl
