#pragma once

#include "support/TempDir.h"

#include "EmulatorClient.h"

#include "emulator/Emulator.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace emutest {

// Generous: only a wedged machine reaches it.
inline constexpr std::chrono::seconds kTaskBound{60};

using testsupport::TempDir;

// Options for a test device: fixed credentials, the given data directory.
zeqemu::EmulatorOptions TestOptions(const std::filesystem::path& dataDir, bool seed = true);

// Names in a filesvc/files answer, in answer order.
std::vector<std::string> Names(const Answer& listing);
// The entry of that name in a filesvc/files answer, or null.
Json::Value EntryNamed(const Answer& listing, const std::string& name);
// An album's "membs" list: one entry per file id, named "f<id>".
Json::Value AlbumMembers(const std::vector<std::int64_t>& ids);

// A device on a temporary data directory for one test.
class EmulatorTest : public ::testing::Test {
protected:
    void Start(zeqemu::EmulatorOptions options);
    void Start(bool seed = true) { Start(TestOptions(m_dir.Path(), seed)); }
    void Restart();
    bool Settled(std::int64_t taskId) const;

    TempDir m_dir;
    zeqemu::EmulatorOptions m_options;
    std::unique_ptr<zeqemu::Emulator> m_emulator;
    std::unique_ptr<EmulatorClient> m_client;
};

} // namespace emutest
