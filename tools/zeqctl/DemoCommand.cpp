#include "AlbumCommands.h"
#include "Commands.h"
#include "DeviceCommands.h"
#include "FileCommands.h"
#include "Session.h"
#include "Tasks.h"
#include "Transfer.h"
#include "TransferCommands.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace zeqctl {

namespace {

constexpr const char* kCopySource = "/Photos";
constexpr const char* kCopyTarget = "/Documents";
constexpr const char* kDownload = "/Videos/birthday.mp4";

// A fresh device for the tour, so it neither depends on nor changes the
// persistent one; removed afterwards.
class TourFolder {
public:
    TourFolder() {
        auto pattern = (std::filesystem::temp_directory_path() / "zeqctl-demo-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            throw CommandError(ExitCode::Connection, "cannot make a folder for the demo device");
        }
        m_path = pattern;
    }
    ~TourFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TourFolder(const TourFolder&) = delete;
    TourFolder& operator=(const TourFolder&) = delete;
    const std::filesystem::path& Path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

struct DemoArgs {
    std::int64_t stepDelayMs = 150;
};

void Step(Session& s, const std::string& title, const std::string& command) {
    if (!s.Out().Json()) {
        s.Out().Heading(title);
        s.Out().Line("$ zeqctl " + command);
    }
}

void Demo(Session& s, const DemoArgs& args, TourFolder* folder) {
    auto& pending = s.PendingConnection();
    if (!pending.deviceUrl.empty()) {
        throw CommandError::Usage(
            "the demo runs against the embedded emulator; leave out --device");
    }
    if (pending.dataDir.empty()) {
        pending.dataDir = folder->Path();
    }
    // Slow enough that the copy's progress can be watched.
    pending.stepDelay = std::chrono::milliseconds(args.stepDelayMs);

    Json::Value doc;
    if (!s.Out().Json()) {
        s.Out().Line("zeqctl demo: a tour of the device through the client library, against an "
                     "emulated device on this machine.");
    }
    Step(s, "1. The device", "device info");
    doc["device"] = FetchDeviceInfo(s);
    if (!s.Out().Json()) {
        ShowDeviceInfo(s, doc["device"]);
    }

    Step(s, "2. Albums of the gallery", "albums ls");
    doc["albums"] = FetchAlbums(s)["albums"];
    if (!s.Out().Json()) {
        Json::Value albums;
        albums["albums"] = doc["albums"];
        ShowAlbums(s, albums);
    }

    Step(s, "3. The top folder", "files ls /");
    ListingArgs listing;
    doc["listing"] = FetchListing(s, listing);
    if (!s.Out().Json()) {
        ShowListing(s, doc["listing"]);
    }

    Step(s, std::string("4. A copy on the device, followed to its end"),
         std::string("files cp ") + kCopySource + " " + kCopyTarget + " --wait");
    const auto ids = StartCopy(s, {kCopySource}, kCopyTarget, "user", false);
    s.Device().NoteStartedTask(ids.front());
    const auto status =
        TaskFollower(s).Follow(TASK_SUPER_TYPE_TRANS, ids.front(), std::chrono::milliseconds(100));
    doc["copy"] = status.ToJson();
    listing.path = kCopyTarget;
    doc["copied"] = FetchListing(s, listing);
    if (!s.Out().Json()) {
        s.Out().Line("task " + std::to_string(status.taskId) + " " + status.State());
        s.Out().Line("");
        ShowListing(s, doc["copied"]);
    }
    if (status.Failed()) {
        throw CommandError::Device("the copy task failed with code " +
                                   std::to_string(status.errorCode));
    }

    Step(s, "5. A download through the transfer engine, with its progress",
         std::string("files get ") + kDownload + " -o birthday.mp4");
    const auto downloads = folder->Path() / "downloads";
    std::filesystem::create_directories(downloads);
    doc["download"] = GetDeviceFile(s, kDownload, "user", downloads / "birthday.mp4");
    s.Out().Emit(doc, [&] {
        ShowTransfer(s, doc["download"]);
        s.Out().Line("");
        s.Out().Line("Next: zeqctl --help lists every command; without --device each one runs "
                     "against the persistent emulated device in " +
                     (Connection::DefaultDataHome() / "device").string() + ".");
    });
}

} // namespace

void AddDemoCommand(CLI::App& app, Action& chosen) {
    auto args = std::make_shared<DemoArgs>();
    auto* demo = app.add_subcommand("demo", "A guided tour against the embedded emulator");
    demo->add_option("--step-delay", args->stepDelayMs,
                     "Milliseconds per task step of the emulated device")
        ->check(CLI::Range(0, 5000));
    OnRun(demo, chosen, [args](Session& s) {
        TourFolder folder;
        // The emulated device stops before its folder goes, also on failure.
        struct Disconnect {
            Session& session;
            ~Disconnect() { session.Disconnect(); }
        } disconnect{s};
        Demo(s, *args, &folder);
    });
}

} // namespace zeqctl
