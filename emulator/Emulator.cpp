#include "emulator/Emulator.h"

#include "emulator/Credentials.h"
#include "emulator/DemoSeeder.h"
#include "emulator/DeviceRoutes.h"
#include "emulator/DeviceState.h"
#include "emulator/FileArea.h"
#include "emulator/FileRoutes.h"
#include "emulator/FileTasks.h"
#include "emulator/Gallery.h"
#include "emulator/GalleryRoutes.h"
#include "emulator/HttpsFrontend.h"
#include "emulator/Router.h"
#include "emulator/TaskCenter.h"
#include "emulator/TaskRoutes.h"
#include "emulator/TransferRoutes.h"

#include <cstdlib>
#include <stdexcept>

#ifndef ZEQ_EMULATOR_CERT_DIR
#error "ZEQ_EMULATOR_CERT_DIR must name the folder of the development certificates"
#endif

namespace zeqemu {

// Members in start order; destruction runs the other way: the server stops
// before the workers, and both before the state they work on goes.
struct Emulator::Impl {
    EmulatorOptions options;
    bool seedDemo = false; // set while the device state starts, used once all is up
    Credentials credentials;
    DeviceState device;
    FileArea files;
    Gallery gallery;
    TaskCenter tasks;
    Router router;
    GalleryRoutes galleryRoutes;
    FileRoutes fileRoutes;
    TransferRoutes transferRoutes;
    TaskRoutes taskRoutes;
    DeviceRoutes deviceRoutes;
    std::unique_ptr<HttpsFrontend> frontend;

    explicit Impl(EmulatorOptions opts)
        : options(std::move(opts)), credentials(options.cookieId, options.token),
          device(options.dataDir), files(options.dataDir),
          gallery(options.dataDir, OwnerOf(device).uid, OwnerOf(device).name),
          tasks(options.dataDir, options.taskWorkers, options.stepDelay),
          galleryRoutes(ServicesOf()), fileRoutes(ServicesOf()), transferRoutes(ServicesOf()),
          taskRoutes(ServicesOf()), deviceRoutes(ServicesOf()) {
        galleryRoutes.Register(router);
        fileRoutes.Register(router);
        transferRoutes.Register(router);
        taskRoutes.Register(router);
        deviceRoutes.Register(router);
        const FileTasks fileTasks(ServicesOf());
        tasks.Revive([&](const Json::Value& recipe) { return fileTasks.Planner(recipe); },
                     [&](const Json::Value& intent) { return fileTasks.Happened(intent); });
    }

    void Serve() {
        HttpsFrontend::Settings settings;
        settings.port = options.port;
        settings.certFile = options.certFile.empty() ? DevelopmentCertFile() : options.certFile;
        settings.keyFile = options.keyFile.empty() ? DevelopmentKeyFile() : options.keyFile;
        settings.maxBodyBytes = options.maxBodyBytes;
        settings.headerTimeout = options.headerTimeout;
        settings.logRequests = options.logRequests;
        frontend = std::make_unique<HttpsFrontend>(settings, router, credentials,
                                                   options.capabilities, options.faults);
    }

    Services ServicesOf() {
        return Services{
            device, files, gallery, tasks, options.capabilities, options.galleryPageSize};
    }

    // The first start of a data directory seeds the device before anything
    // reads it, so the gallery knows its owner.
    DeviceState::User OwnerOf(DeviceState& state) {
        if (state.IsNew()) {
            state.Seed();
            seedDemo = options.seedDemo;
        }
        return state.Owner();
    }
};

namespace {

EmulatorOptions Checked(EmulatorOptions options) {
    if (options.dataDir.empty()) {
        options.dataDir = Emulator::DefaultDataDir();
    }
    std::filesystem::create_directories(options.dataDir);
    if (options.galleryPageSize <= 0 || options.taskWorkers <= 0 || options.maxBodyBytes == 0) {
        throw std::invalid_argument("page size, workers and body limit must be above 0");
    }
    return options;
}

} // namespace

Emulator::Emulator(EmulatorOptions options)
    : m_impl(std::make_unique<Impl>(Checked(std::move(options)))) {
    if (m_impl->seedDemo) {
        DemoSeeder::Seed(m_impl->options.dataDir, m_impl->gallery);
    }
    m_impl->Serve();
}

Emulator::~Emulator() {
    Stop();
}

void Emulator::Stop() {
    if (m_impl->frontend) {
        m_impl->frontend->Stop();
    }
    m_impl->tasks.Stop();
}

int Emulator::Port() const {
    return m_impl->frontend->Port();
}

std::string Emulator::BaseUrl() const {
    return "https://127.0.0.1:" + std::to_string(Port()) + "/";
}

const std::string& Emulator::CookieId() const {
    return m_impl->credentials.CookieId();
}

const std::string& Emulator::Token() const {
    return m_impl->credentials.Token();
}

const std::filesystem::path& Emulator::DataDir() const {
    return m_impl->options.dataDir;
}

const Capabilities& Emulator::Caps() const {
    return m_impl->options.capabilities;
}

int Emulator::DevCap(int category, int capability) const {
    return Caps().DevCap(category, capability);
}

bool Emulator::WaitForTask(std::int64_t taskId, TaskWait what,
                           std::chrono::milliseconds bound) const {
    using State = TaskCenter::State;
    return m_impl->tasks.WaitFor(
        taskId,
        [what](const TaskCenter::Snapshot& s) {
            if (what == TaskWait::Running) {
                return s.state != State::Waiting;
            }
            return s.state == State::Done || s.state == State::Failed ||
                   s.state == State::Cancelled;
        },
        bound);
}

void Emulator::SimulateDiskEvent(int slot, int eventType) {
    m_impl->device.SimulateDiskEvent(slot, eventType);
}

std::filesystem::path Emulator::DefaultDataDir() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / "zeq-emulator";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".local" / "share" / "zeq-emulator";
    }
    throw std::runtime_error("neither XDG_DATA_HOME nor HOME is set: pass a data directory");
}

std::string Emulator::DevelopmentCaFile() {
    return std::string(ZEQ_EMULATOR_CERT_DIR) + "/ca.pem";
}

std::string Emulator::DevelopmentCertFile() {
    return std::string(ZEQ_EMULATOR_CERT_DIR) + "/server.pem";
}

std::string Emulator::DevelopmentKeyFile() {
    return std::string(ZEQ_EMULATOR_CERT_DIR) + "/server.key";
}

} // namespace zeqemu
