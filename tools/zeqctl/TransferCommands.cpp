#include "TransferCommands.h"

#include "Commands.h"
#include "FileCommands.h"
#include "Session.h"
#include "Transfer.h"

#include <filesystem>

namespace zeqctl {

namespace {

namespace fs = std::filesystem;

struct GetArgs {
    std::string url;
    std::string file;
};

struct PutArgs {
    std::string file;
    std::string url;
    std::int64_t offset = 0;
};

struct FileGetArgs {
    std::string path;
    std::string output;
    std::string category = "user";
};

struct FilePutArgs {
    std::string file;
    std::string destination;
    std::string category = "user";
};

void FilePut(Session& s, const FilePutArgs& args) {
    RequireAbsolute(args.destination);
    const std::string what = "files put " + args.file;
    const bool intoFolder = args.destination.back() == '/';
    const auto path =
        intoFolder ? args.destination + fs::path(args.file).filename().string() : args.destination;
    TransferTarget target{what, ContentUrl(s.Device().BaseUrl(), path, args.category), nullptr};
    target.explainRefusal = [&](long status) {
        if (!intoFolder && IsDeviceFolder(s, path, args.category)) {
            throw CommandError::Device(what + ": " + path + " is a folder; end it with / to put " +
                                       fs::path(args.file).filename().string() + " into it");
        }
        if (status == 404) {
            throw CommandError::Device(what + ": no folder " + Parent(path) + " on the device");
        }
    };
    const auto doc = Upload(s, target, args.file, std::nullopt);
    s.Out().Emit(doc, [&] { ShowTransfer(s, doc); });
}

} // namespace

Json::Value GetDeviceFile(Session& s, const std::string& path, const std::string& category,
                          const fs::path& file) {
    RequireAbsolute(path);
    const std::string what = "files get " + path;
    TransferTarget target{what, ContentUrl(s.Device().BaseUrl(), path, category), nullptr};
    target.explainRefusal = [&](long status) {
        if (IsDeviceFolder(s, path, category)) {
            throw CommandError::Device(what + ": " + path + " is a folder, not a file");
        }
        if (status == 404) {
            throw CommandError::Device(what + ": no file " + path + " on the device");
        }
    };
    return Download(s, target, file);
}

void AddTransferCommands(CLI::App& app, Action& chosen) {
    auto get = std::make_shared<GetArgs>();
    auto* g = app.add_subcommand(
        "get", "Download from any URL on the device through the transfer engine (files get "
               "takes a device path); an interrupted download resumes");
    g->add_option("url", get->url, "URL or path on the device, e.g. /filesvc/content?path=/a.pdf")
        ->required();
    g->add_option("-o,--output", get->file, "Local file to write")->required();
    OnRun(g, chosen, [get](Session& s) {
        const auto doc = Download(
            s, {"get " + get->url, ResolveOnDevice(s.Device().BaseUrl(), get->url), nullptr},
            get->file);
        s.Out().Emit(doc, [&] { ShowTransfer(s, doc); });
    });

    auto put = std::make_shared<PutArgs>();
    auto* p = app.add_subcommand("put", "Upload to any URL on the device through the transfer "
                                        "engine (files put takes a device path)");
    p->add_option("file", put->file, "Local file to send")->required();
    p->add_option("url", put->url, "URL or path on the device, e.g. /filesvc/content?path=/a.pdf")
        ->required();
    p->add_option("--offset", put->offset,
                  "Resume: send from this byte on, after the device already holds the bytes "
                  "before it")
        ->check(CLI::NonNegativeNumber);
    OnRun(p, chosen, [put](Session& s) {
        const auto doc = Upload(
            s, {"put " + put->file, ResolveOnDevice(s.Device().BaseUrl(), put->url), nullptr},
            put->file, put->offset);
        s.Out().Emit(doc, [&] { ShowTransfer(s, doc); });
    });
}

void AddFileTransferCommands(CLI::App& files, Action& chosen) {
    auto get = std::make_shared<FileGetArgs>();
    auto* g = files.add_subcommand("get", "Download a file through the transfer engine, with "
                                          "progress; an interrupted download resumes");
    g->add_option("path", get->path, "File on the device, e.g. /Videos/birthday.mp4")->required();
    g->add_option("-o,--output", get->output,
                  "Local file, or a folder to put it in (default: its name, here)");
    AddCategory(g, get->category);
    OnRun(g, chosen, [get](Session& s) {
        fs::path file = get->output.empty() ? fs::path(Leaf(get->path)) : fs::path(get->output);
        std::error_code ec;
        if (fs::is_directory(file, ec)) {
            file /= Leaf(get->path);
        }
        const auto doc = GetDeviceFile(s, get->path, get->category, file);
        s.Out().Emit(doc, [&] { ShowTransfer(s, doc); });
    });

    auto put = std::make_shared<FilePutArgs>();
    auto* p = files.add_subcommand("put", "Upload a file through the transfer engine, with "
                                          "progress");
    p->add_option("file", put->file, "Local file to send")->required();
    p->add_option("destination", put->destination,
                  "Folder on the device ending in /, or the file's path there")
        ->required();
    AddCategory(p, put->category);
    OnRun(p, chosen, [put](Session& s) { FilePut(s, *put); });
}

} // namespace zeqctl
