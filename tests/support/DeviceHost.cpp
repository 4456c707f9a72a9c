#include "support/DeviceHost.h"

#include "core/HttpReqZEQ.h"

namespace testsupport {

DeviceHost::State& DeviceHost::Shared() {
    static State state;
    return state;
}

DeviceHost::DeviceHost(std::string baseUrl, bool registerSslHook) {
    {
        State& state = Shared();
        std::lock_guard lock(state.mutex);
        state.baseUrl = std::move(baseUrl);
        state.far = false;
        state.connInfoCalls = 0;
        state.capabilities.clear();
    }
    HttpReqZEQ::RegHttpReqZeqApi(&ConnInfo, &DevCap, &ConnInfo, &FarDataService);
    HttpReqZEQ::RegSslFunction(registerSslHook ? &AcceptTls : nullptr);
}

DeviceHost::~DeviceHost() {
    HttpReqZEQ::RegHttpReqZeqApi(nullptr, nullptr, nullptr, nullptr);
    HttpReqZEQ::RegSslFunction(nullptr);
}

void DeviceHost::SetBaseUrl(std::string baseUrl) {
    std::lock_guard lock(Shared().mutex);
    Shared().baseUrl = std::move(baseUrl);
}

void DeviceHost::SetFarDataService(bool far) {
    std::lock_guard lock(Shared().mutex);
    Shared().far = far;
}

void DeviceHost::SetCapability(int category, int capability, int answer) {
    std::lock_guard lock(Shared().mutex);
    Shared().capabilities[{category, capability}] = answer;
}

int DeviceHost::ConnInfoCalls() const {
    std::lock_guard lock(Shared().mutex);
    return Shared().connInfoCalls;
}

void DeviceHost::ConnInfo(std::string& baseUrl, std::string& cookieId, std::string& token) {
    std::lock_guard lock(Shared().mutex);
    ++Shared().connInfoCalls;
    baseUrl = Shared().baseUrl;
    cookieId = kCookieId;
    token = kToken;
}

int DeviceHost::DevCap(int category, int capability) {
    std::lock_guard lock(Shared().mutex);
    const auto it = Shared().capabilities.find({category, capability});
    return it == Shared().capabilities.end() ? 0 : it->second;
}

bool DeviceHost::FarDataService() {
    std::lock_guard lock(Shared().mutex);
    return Shared().far;
}

int DeviceHost::AcceptTls(void*, void*, void*) {
    return 0;
}

} // namespace testsupport
