#pragma once

#include <string>

namespace curlppx::detail {

// Decides, per request, which redirects libcurl may follow: an https request
// never goes on to a non-https URL, and a request that carries credentials
// never leaves its origin (scheme, host and port).
class RedirectGuard {
public:
    // Taken on the caller's thread when the request starts; the URL is read
    // only should a redirect come.
    void Arm(const std::string& requestUrl, bool carriesCredentials);
    // The absolute target of location, resolved against currentUrl, when
    // following it would break a rule; empty when it may be followed. The
    // target comes without any user name or password it named.
    std::string Refusal(const std::string& currentUrl, const std::string& location) const;

private:
    struct Origin {
        std::string scheme;
        std::string host;
        std::string port;
        bool operator==(const Origin&) const = default;
    };
    // Lower-case scheme and host, and the port with the scheme's default.
    static bool ReadOrigin(const std::string& url, const std::string& relative, Origin& origin,
                           std::string& withoutUser);

    bool m_httpsOnly = false;
    bool m_sameOriginOnly = false;
    std::string m_requestUrl;
};

} // namespace curlppx::detail
