#pragma once

#include "emulator/UniqueFd.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zeqemu::safefs {

// File-system work relative to open folders that never follows a symbolic
// link: every path is opened one component at a time with O_NOFOLLOW from a
// folder already open, so nothing a client or a local process plants (a link,
// or a folder swapped for one between a check and a use) leads outside. Links
// are reported as what they are and otherwise left alone.

struct Info {
    bool exists = false;
    bool isDir = false;
    bool isFile = false;
    bool isLink = false; // also anything else that is neither folder nor file
    std::int64_t size = 0;
    std::int64_t mtime = 0;
};

// Why a walk stopped; what names the component that stopped it.
struct WalkError {
    enum Kind { Missing, Link, NotFolder } kind;
    std::string what;
};

// Opens the folder at parts[0..count) beneath root. Throws WalkError.
UniqueFd OpenFolder(int root, const std::vector<std::string>& parts, std::size_t count);
// The entry name in folder ("." for the folder itself), never following it.
Info InfoAt(int folder, const std::string& name);
// A regular file in folder, opened with flags (O_NOFOLLOW added); -1 on failure.
UniqueFd OpenFileAt(int folder, const std::string& name, int flags, int mode = 0644);
// Names of the folders and regular files in folder, sorted.
std::vector<std::string> Children(int folder);
// Visits everything below folder (folders before their content, sorted),
// with the folder holding each entry, its name and its "/"-joined relative path.
using Visitor = std::function<void(int folder, const std::string& name, const std::string& relative,
                                   const Info& info)>;
void Walk(int folder, const Visitor& visit, const std::string& prefix = "");
// Removes name in folder and, for a folder, everything in it; links inside
// are removed, never followed. False when something could not be removed.
bool RemoveTree(int folder, const std::string& name);
// Copies a file's bytes (in the kernel where it can); false on failure.
bool CopyBytes(int from, int to, std::int64_t length);
void Sync(int fd);

} // namespace zeqemu::safefs
