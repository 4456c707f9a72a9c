#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace testsupport {

// Plays the host application for device requests: registers the connection,
// capability, data-connection and far-data-service callbacks and a TLS hook
// that lets the handshake go on, all pointing at a test server. Unregisters
// everything on destruction, so process-wide state never leaks between tests.
class DeviceHost {
public:
    static constexpr const char* kCookieId = "cookie-1";
    static constexpr const char* kToken = "token-1";

    explicit DeviceHost(std::string baseUrl, bool registerSslHook = true);
    ~DeviceHost();
    DeviceHost(const DeviceHost&) = delete;
    DeviceHost& operator=(const DeviceHost&) = delete;

    void SetBaseUrl(std::string baseUrl);
    void SetFarDataService(bool far);
    // Answer of the capability callback for (category, capability); 0 when unset.
    void SetCapability(int category, int capability, int answer);
    int ConnInfoCalls() const;

private:
    static void ConnInfo(std::string& baseUrl, std::string& cookieId, std::string& token);
    static int DevCap(int category, int capability);
    static bool FarDataService();
    static int AcceptTls(void* curl, void* sslCtx, void* userPtr);

    struct State {
        std::mutex mutex;
        std::string baseUrl;
        bool far = false;
        int connInfoCalls = 0;
        std::map<std::pair<int, int>, int> capabilities;
    };
    static State& Shared();
};

} // namespace testsupport
