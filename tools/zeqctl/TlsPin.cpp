#include "TlsPin.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cctype>
#include <mutex>

namespace zeqctl {

namespace {

std::mutex g_mutex;
std::optional<Fingerprint> g_pin;
TlsObservation g_seen;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower >= 'a' && lower <= 'f') {
        return lower - 'a' + 10;
    }
    return -1;
}

// Runs once per certificate of the chain, leaf last (depth 0). Returning 0
// fails the handshake, which libcurl then reports as a failed attempt.
int VerifyPeer(int preverified, X509_STORE_CTX* store) {
    std::lock_guard lock(g_mutex);
    if (preverified == 0) {
        g_seen.chainFailed = true;
        g_seen.chainError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
        return 0;
    }
    if (X509_STORE_CTX_get_error_depth(store) != 0) {
        return 1;
    }
    Fingerprint leaf{};
    unsigned int length = 0;
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    if (cert == nullptr || X509_digest(cert, EVP_sha256(), leaf.data(), &length) != 1 ||
        length != leaf.size()) {
        g_seen.chainFailed = true;
        g_seen.chainError = "cannot compute the certificate's fingerprint";
        return 0;
    }
    g_seen.leaf = leaf;
    if (g_pin && *g_pin != leaf) {
        g_seen.pinMismatch = true;
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }
    g_seen.accepted = true;
    return 1;
}

} // namespace

std::optional<Fingerprint> TlsPin::Parse(const std::string& text) {
    constexpr std::string_view kScheme = "sha256:";
    if (text.size() < kScheme.size() || text.compare(0, kScheme.size(), kScheme) != 0) {
        return std::nullopt;
    }
    Fingerprint out{};
    std::size_t nibbles = 0;
    for (std::size_t i = kScheme.size(); i < text.size(); ++i) {
        if (text[i] == ':') {
            continue;
        }
        const int digit = HexDigit(text[i]);
        if (digit < 0 || nibbles >= out.size() * 2) {
            return std::nullopt;
        }
        auto& byte = out[nibbles / 2];
        byte = static_cast<std::uint8_t>(byte << 4 | digit);
        ++nibbles;
    }
    if (nibbles != out.size() * 2) {
        return std::nullopt;
    }
    return out;
}

std::string TlsPin::Format(const Fingerprint& fingerprint) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "sha256:";
    for (const auto byte : fingerprint) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

void TlsPin::Require(std::optional<Fingerprint> pin) {
    std::lock_guard lock(g_mutex);
    g_pin = pin;
}

void TlsPin::ResetObservation() {
    std::lock_guard lock(g_mutex);
    const auto leaf = g_seen.leaf;
    g_seen = TlsObservation{};
    // The leaf stays known: a later command in the same process may show it.
    g_seen.leaf = leaf;
}

TlsObservation TlsPin::Observation() {
    std::lock_guard lock(g_mutex);
    return g_seen;
}

int TlsPin::Hook(void* /*curl*/, void* sslCtx, void* /*userPtr*/) {
    // libcurl set SSL_VERIFY_PEER with no callback just before calling us;
    // replacing the callback keeps the chain check and adds the pin.
    SSL_CTX_set_verify(static_cast<SSL_CTX*>(sslCtx), SSL_VERIFY_PEER, &VerifyPeer);
    return 0;
}

} // namespace zeqctl
