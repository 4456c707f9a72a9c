#include "E2eDevice.h"

#include "core/HttpReqZEQ.h"
#include "platform/GlobalParamWrapper.h"
#include "support/TestServer.h"


namespace e2e {

LibraryHost::State& LibraryHost::Shared() {
    static State state;
    return state;
}

LibraryHost::LibraryHost() {
    {
        std::lock_guard lock(Shared().mutex);
        Shared().device = nullptr;
        Shared().token.reset();
        Shared().connInfoCalls = 0;
    }
    HttpReqZEQ::RegHttpReqZeqApi(&ConnInfo, &DevCap, &ConnInfo, &FarDataService);
    HttpReqZEQ::RegSslFunction(&AcceptTls);
}

LibraryHost::~LibraryHost() {
    HttpReqZEQ::RegHttpReqZeqApi(nullptr, nullptr, nullptr, nullptr);
    HttpReqZEQ::RegSslFunction(nullptr);
    Attach(nullptr);
}

void LibraryHost::Attach(const zeqemu::Emulator* device) {
    std::lock_guard lock(Shared().mutex);
    Shared().device = device;
}

void LibraryHost::ForgeToken(std::optional<std::string> token) {
    std::lock_guard lock(Shared().mutex);
    Shared().token = std::move(token);
}

int LibraryHost::ConnInfoCalls() const {
    std::lock_guard lock(Shared().mutex);
    return Shared().connInfoCalls;
}

void LibraryHost::ConnInfo(std::string& baseUrl, std::string& cookieId, std::string& token) {
    std::lock_guard lock(Shared().mutex);
    ++Shared().connInfoCalls;
    if (Shared().device == nullptr) {
        return; // an empty base URL: the library refuses to send
    }
    baseUrl = Shared().device->BaseUrl();
    cookieId = Shared().device->CookieId();
    token = Shared().token.value_or(Shared().device->Token());
}

int LibraryHost::DevCap(int category, int capability) {
    std::lock_guard lock(Shared().mutex);
    return Shared().device == nullptr ? 0 : Shared().device->DevCap(category, capability);
}

E2eTest::E2eTest() : m_dir(m_temp.Path() / "device"), m_appData(m_temp.Path() / "appdata") {
    std::filesystem::create_directories(m_appData);
    // Set before any service is touched: the device request caches the id.
    GlobalParamWrapper::GetInstance()->SetReqDeviceId("e2e-client");
    GlobalParamWrapper::GetInstance()->SetAppDataLocalPath(m_appData.wstring());
}

E2eTest::~E2eTest() {
    m_host.Attach(nullptr);
    m_device.reset();
}

void E2eTest::Start(const std::function<void(zeqemu::EmulatorOptions&)>& adjust) {
    m_options = {};
    m_options.dataDir = m_dir;
    // Fixed, so a restarted device still accepts the session.
    m_options.cookieId = "e2e-cookie-id";
    m_options.token = "e2e-device-token";
    // The library trusts the test CA beside the test executable.
    m_options.certFile = testsupport::TestCertPath("server.pem");
    m_options.keyFile = testsupport::TestCertPath("server.key");
    if (adjust) {
        adjust(m_options);
    }
    m_device = std::make_unique<zeqemu::Emulator>(m_options);
    m_host.Attach(m_device.get());
}

void E2eTest::Restart() {
    m_host.Attach(nullptr);
    m_device.reset();
    m_device = std::make_unique<zeqemu::Emulator>(m_options);
    m_host.Attach(m_device.get());
}

bool E2eTest::Settled(std::int64_t taskId) const {
    return m_device->WaitForTask(taskId, zeqemu::Emulator::TaskWait::Settled, kTaskBound);
}

} // namespace e2e
