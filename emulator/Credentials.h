#pragma once

#include <string>

namespace zeqemu {

// The session cookie id and token a client must present. Values never reach a
// log line from here; only the start-up banner of the executable shows them.
class Credentials {
public:
    // Empty arguments are replaced by fresh random values.
    Credentials(std::string cookieId, std::string token);

    const std::string& CookieId() const { return m_cookieId; }
    const std::string& Token() const { return m_token; }

    // cookieHeader is the whole "Cookie" header ("ID=..." possibly among other
    // pairs); both checks run in time independent of where a mismatch is.
    bool Accepts(const std::string& cookieHeader, const std::string& tokenHeader) const;

    static std::string RandomHex(std::size_t bytes);

private:
    std::string m_cookieId;
    std::string m_token;
};

} // namespace zeqemu
