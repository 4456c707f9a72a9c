#include "TlsCheck.h"

#include "Output.h"

#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cctype>
#include <memory>
#include <mutex>

#include <arpa/inet.h>

namespace zeqctl {

namespace {

std::mutex g_mutex;
std::optional<Fingerprint> g_pin;
std::string g_host;
TlsObservation g_seen;

bool IsIpAddress(const std::string& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.c_str(), address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), address) == 1;
}

bool HoldsName(X509* cert, const std::string& host) {
    if (IsIpAddress(host)) {
        return X509_check_ip_asc(cert, host.c_str(), 0) == 1;
    }
    return X509_check_host(cert, host.data(), host.size(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS,
                           nullptr) == 1;
}

// The names a certificate is for: its subject alternative names, else its
// common name, which is all a host-name check looks at.
std::string NamesOf(X509* cert) {
    std::string names;
    const auto add = [&names](const std::string& name) {
        names += (names.empty() ? "" : ", ") + name;
    };
    const std::unique_ptr<GENERAL_NAMES, decltype(&GENERAL_NAMES_free)> alternatives(
        static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)),
        &GENERAL_NAMES_free);
    for (int i = 0; alternatives && i < sk_GENERAL_NAME_num(alternatives.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alternatives.get(), i);
        if (name->type == GEN_DNS) {
            const auto* text = name->d.dNSName;
            add(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(text)),
                            static_cast<std::size_t>(ASN1_STRING_length(text))));
        } else if (name->type == GEN_IPADD) {
            const auto* bytes = name->d.iPAddress;
            const int length = ASN1_STRING_length(bytes);
            char text[INET6_ADDRSTRLEN] = {};
            if ((length == 4 || length == 16) &&
                ::inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(bytes), text,
                            sizeof(text)) != nullptr) {
                add(text);
            }
        }
    }
    if (names.empty()) {
        char common[256] = {};
        if (X509_NAME_get_text_by_NID(X509_get_subject_name(cert), NID_commonName, common,
                                      sizeof(common)) > 0) {
            add(common);
        }
    }
    return names.empty() ? "no name at all" : names;
}

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
    const bool named = HoldsName(cert, g_host);
    if (!named) {
        g_seen.nameMismatch = true;
        g_seen.expectedName = g_host;
        g_seen.certificateNames = NamesOf(cert);
    }
    if (g_pin) {
        // The pin names the certificate itself; its names no longer matter.
        if (*g_pin != leaf) {
            g_seen.pinMismatch = true;
            X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
            return 0;
        }
    } else if (!named) {
        X509_STORE_CTX_set_error(store, IsIpAddress(g_host) ? X509_V_ERR_IP_ADDRESS_MISMATCH
                                                            : X509_V_ERR_HOSTNAME_MISMATCH);
        return 0;
    }
    g_seen.accepted = true;
    return 1;
}

} // namespace

std::optional<Fingerprint> TlsCheck::Parse(const std::string& text) {
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

std::string TlsCheck::Format(const Fingerprint& fingerprint) {
    return "sha256:" + Output::Hex(fingerprint.data(), fingerprint.size());
}

void TlsCheck::Require(std::optional<Fingerprint> pin, std::string host) {
    std::lock_guard lock(g_mutex);
    g_pin = pin;
    g_host = std::move(host);
}

void TlsCheck::ResetObservation() {
    std::lock_guard lock(g_mutex);
    const auto leaf = g_seen.leaf;
    g_seen = TlsObservation{};
    // The leaf stays known: a later command in the same process may show it.
    g_seen.leaf = leaf;
}

TlsObservation TlsCheck::Observation() {
    std::lock_guard lock(g_mutex);
    return g_seen;
}

int TlsCheck::Hook(void* /*curl*/, void* sslCtx, void* /*userPtr*/) {
    // libcurl set SSL_VERIFY_PEER with no callback just before calling us;
    // replacing the callback keeps the chain check and adds ours.
    SSL_CTX_set_verify(static_cast<SSL_CTX*>(sslCtx), SSL_VERIFY_PEER, &VerifyPeer);
    return 0;
}

} // namespace zeqctl
