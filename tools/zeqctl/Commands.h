#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>

namespace zeqctl {

class Session;

// The command a command line chose, run once parsing succeeded, so that a
// usage error never reaches the device.
using Action = std::function<void(Session&)>;

// Makes sub set the chosen action when it is picked.
inline void OnRun(CLI::App* sub, Action& chosen, Action run) {
    sub->callback([&chosen, run = std::move(run)] { chosen = run; });
}

// One registration function per command group; each adds its subcommand
// (device, albums, photos, files, tasks, demo) with its own verbs; transfers
// add the top-level get and put.
void AddDeviceCommands(CLI::App& app, Action& chosen);
void AddAlbumCommands(CLI::App& app, Action& chosen);
void AddPhotoCommands(CLI::App& app, Action& chosen);
void AddFileCommands(CLI::App& app, Action& chosen);
void AddTaskCommands(CLI::App& app, Action& chosen);
void AddTransferCommands(CLI::App& app, Action& chosen);
// files get and files put, into the files group.
void AddFileTransferCommands(CLI::App& files, Action& chosen);
void AddDemoCommand(CLI::App& app, Action& chosen);

} // namespace zeqctl
