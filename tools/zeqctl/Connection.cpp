#include "Connection.h"

#include "CommandError.h"
#include "TlsCheck.h"

#include "core/HttpReqZEQ.h"
#include "emulator/Emulator.h"
#include "platform/GlobalParamWrapper.h"
#include "platform/TextCodec.h"

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <unistd.h>

namespace zeqctl {

namespace {

// The callbacks are plain function pointers; they find the connection here.
const Connection* g_active = nullptr;
std::string g_baseUrl;
std::string g_cookieId;
std::string g_token;
std::set<int> g_caps;
const zeqemu::Emulator* g_emulator = nullptr;

// Generous: a copy of the demo folders takes well under a second.
constexpr std::chrono::seconds kTaskDrainBound{120};
// The device request tries each call this often before it gives up.
constexpr int kDeviceRequestAttempts = 3;

std::filesystem::path ExecutableDir() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::current_path() : self.parent_path();
}

std::set<int> ParseCaps(const std::string& text) {
    std::set<int> caps;
    if (text == "none") {
        return caps;
    }
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        if (item.empty()) {
            continue;
        }
        if (item != "6" && item != "7" && item != "8" && item != "10") {
            throw CommandError::Usage("--caps: \"" + item +
                                      "\" is not a known capability (6, 7, 8, 10)");
        }
        caps.insert(std::stoi(item));
    }
    return caps;
}

std::string NormalisedBaseUrl(std::string url) {
    if (url.rfind("https://", 0) != 0 || url.size() <= 8) {
        throw CommandError::Usage("--device must be an https URL, e.g. https://192.168.1.20:8443/");
    }
    if (url.back() != '/') {
        url += '/';
    }
    // The library cuts the Host header at the last "/" after the scheme, so
    // a base URL with a path of its own would be sent with a wrong Host.
    if (url.find('/', 8) != url.size() - 1) {
        throw CommandError::Usage("--device takes scheme, host and port only, e.g. "
                                  "https://192.168.1.20:8443/");
    }
    return url;
}

// "https://HOST:PORT/" -> HOST, without the brackets of an IPv6 address.
std::string HostOf(const std::string& baseUrl) {
    const auto start = baseUrl.find("://") + 3;
    const auto authority = baseUrl.substr(start, baseUrl.find('/', start) - start);
    if (!authority.empty() && authority.front() == '[') {
        return authority.substr(1, authority.find(']') - 1);
    }
    return authority.substr(0, authority.rfind(':'));
}

std::wstring Wide(const std::string& text) {
    std::wstring out;
    return platform::Utf8ToWide(text, out) ? out : std::wstring();
}

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof(name) - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

} // namespace

std::filesystem::path Connection::CaFile() {
    return ExecutableDir() / "config" / "ca.pem";
}

std::filesystem::path Connection::DefaultDataHome() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        return std::filesystem::path(xdg) / "zeqctl";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".local" / "share" / "zeqctl";
    }
    return std::filesystem::temp_directory_path() / "zeqctl";
}

Connection::Connection(ConnectionOptions options) {
    if (g_active != nullptr) {
        throw std::logic_error("one device connection per process");
    }
    std::optional<Fingerprint> pin;
    if (!options.pin.empty()) {
        pin = TlsCheck::Parse(options.pin);
        if (!pin) {
            throw CommandError::Usage("--pin must be sha256: followed by 64 hex digits");
        }
    }

    if (options.deviceUrl.empty()) {
        if (!options.cookieId.empty() || !options.token.empty()) {
            throw CommandError::Usage("--cookie and --token need --device");
        }
        m_dataDir = options.dataDir.empty() ? DefaultDataHome() / "device" : options.dataDir;
        std::error_code ec;
        std::filesystem::create_directories(m_dataDir, ec);
        if (ec) {
            throw CommandError::Usage("cannot make the data folder " + m_dataDir.string() + ": " +
                                      ec.message());
        }
        zeqemu::EmulatorOptions emu;
        emu.port = 0;
        emu.dataDir = m_dataDir;
        emu.stepDelay = options.stepDelay;
        // Room for "zeqctl put": the emulator holds an upload's body in memory.
        emu.maxBodyBytes = std::size_t{256} * 1024 * 1024;
        // The pair the build placed beside the executable, so an installed
        // tool does not depend on the build tree.
        const auto config = ExecutableDir() / "config";
        if (std::filesystem::exists(config / "emulator-server.pem") &&
            std::filesystem::exists(config / "emulator-server.key")) {
            emu.certFile = (config / "emulator-server.pem").string();
            emu.keyFile = (config / "emulator-server.key").string();
        }
        try {
            m_emulator = std::make_unique<zeqemu::Emulator>(emu);
        } catch (const std::exception& e) {
            throw CommandError(ExitCode::Connection,
                               std::string("cannot start the embedded emulator: ") + e.what());
        }
        m_baseUrl = m_emulator->BaseUrl();
        m_cookieId = m_emulator->CookieId();
        m_token = m_emulator->Token();
    } else {
        if (options.cookieId.empty() || options.token.empty()) {
            throw CommandError::Usage("--device needs --cookie and --token (or ZEQ_COOKIE and "
                                      "ZEQ_TOKEN)");
        }
        m_baseUrl = NormalisedBaseUrl(options.deviceUrl);
        m_cookieId = options.cookieId;
        m_token = options.token;
        m_caps = ParseCaps(options.caps);
    }

    g_active = this;
    g_baseUrl = m_baseUrl;
    g_cookieId = m_cookieId;
    g_token = m_token;
    g_caps = m_caps;
    g_emulator = m_emulator.get();

    // Set before the first service is touched: the first device request reads
    // the ids once for the life of the process.
    auto* params = GlobalParamWrapper::GetInstance();
    params->SetReqDeviceId("zeqctl-" + HostName());
    params->SetCurrentUserId(Wide(options.userId));
    params->SetAppDataLocalPath(Wide(DefaultDataHome().string()));
    std::error_code ignored; // the copyright page is the only thing saved there
    std::filesystem::create_directories(DefaultDataHome(), ignored);

    TlsCheck::Require(pin, HostOf(m_baseUrl));
    // The attempts of one call share the time-out, so a silent device ends
    // a command after about --timeout, not three times that.
    const auto timeout = static_cast<int>(options.timeout.count());
    HttpReqZEQ::SetStallLimit(
        std::max(1, (timeout + kDeviceRequestAttempts - 1) / kDeviceRequestAttempts));
    HttpReqZEQ::RegHttpReqZeqApi(&ConnInfo, &DevCap, &ConnInfo, &FarDataService);
    HttpReqZEQ::RegSslFunction(&TlsCheck::Hook);
}

Connection::~Connection() {
    if (m_emulator) {
        for (const auto id : m_startedTasks) {
            m_emulator->WaitForTask(id, zeqemu::Emulator::TaskWait::Settled, kTaskDrainBound);
        }
        m_emulator->Stop();
    }
    g_emulator = nullptr;
    g_active = nullptr;
}

std::string Connection::Describe() const {
    if (m_emulator) {
        return "embedded emulator at " + m_baseUrl + " (data " + m_dataDir.string() + ")";
    }
    return m_baseUrl;
}

void Connection::NoteStartedTask(std::int64_t taskId) {
    if (taskId > 0) {
        m_startedTasks.push_back(taskId);
    }
}

void Connection::ConnInfo(std::string& baseUrl, std::string& cookieId, std::string& token) {
    baseUrl = g_baseUrl;
    cookieId = g_cookieId;
    token = g_token;
}

int Connection::DevCap(int category, int capability) {
    if (g_emulator != nullptr) {
        return g_emulator->DevCap(category, capability);
    }
    // Task-center capabilities come under category 2, file ones under 1.
    const bool taskCenterCap = capability == 6 || capability == 7;
    const bool fileCap = capability == 8 || capability == 10;
    if ((category == 2 && taskCenterCap) || (category == 1 && fileCap)) {
        return g_caps.count(capability) > 0 ? 1 : 0;
    }
    return 0;
}

bool Connection::FarDataService() {
    return false;
}

} // namespace zeqctl
