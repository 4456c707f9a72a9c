#include "emulator/Credentials.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <stdexcept>
#include <vector>

namespace zeqemu {

namespace {

bool SameSecret(const std::string& given, const std::string& expected) {
    if (given.size() != expected.size()) {
        return false;
    }
    return CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

// The value of the "ID" pair of a Cookie header, or nothing.
bool IdFromCookie(const std::string& header, std::string& id) {
    std::size_t start = 0;
    while (start <= header.size()) {
        auto end = header.find(';', start);
        if (end == std::string::npos) {
            end = header.size();
        }
        const auto pair = Trim(header.substr(start, end - start));
        if (pair.rfind("ID=", 0) == 0) {
            id = pair.substr(3);
            return true;
        }
        start = end + 1;
    }
    return false;
}

} // namespace

Credentials::Credentials(std::string cookieId, std::string token)
    : m_cookieId(cookieId.empty() ? RandomHex(16) : std::move(cookieId)),
      m_token(token.empty() ? RandomHex(24) : std::move(token)) {}

bool Credentials::Accepts(const std::string& cookieHeader, const std::string& tokenHeader) const {
    std::string id;
    const bool hasId = IdFromCookie(cookieHeader, id);
    // Both comparisons always run, so timing does not tell which one failed.
    const bool idOk = SameSecret(id, m_cookieId);
    const bool tokenOk = SameSecret(tokenHeader, m_token);
    return hasId && idOk && tokenOk;
}

std::string Credentials::RandomHex(std::size_t bytes) {
    std::vector<unsigned char> raw(bytes);
    if (RAND_bytes(raw.data(), static_cast<int>(raw.size())) != 1) {
        throw std::runtime_error("no random numbers for the credentials");
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const auto byte : raw) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
    }
    return text;
}

} // namespace zeqemu
