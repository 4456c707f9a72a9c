#include "emulator/CrashPoint.h"

#include <csignal>
#include <stdexcept>

namespace zeqemu::crashpoint {

namespace {

// Written once before the threads that read it exist.
std::string g_armed;

} // namespace

const std::vector<std::string>& Names() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> all;
        for (const auto* kind : {"copy", "move", "delete", "recycle", "restore", "purge"}) {
            all.push_back(std::string(kind) + ":before");
            all.push_back(std::string(kind) + ":after");
        }
        return all;
    }();
    return names;
}

void Arm(const std::string& point) {
    for (const auto& name : Names()) {
        if (name == point) {
            g_armed = point;
            return;
        }
    }
    throw std::invalid_argument("no crash point \"" + point + "\"");
}

void Reach(std::string_view point) {
    if (!g_armed.empty() && g_armed == point) {
        std::raise(SIGKILL);
    }
}

} // namespace zeqemu::crashpoint
