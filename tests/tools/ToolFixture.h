#pragma once

#include "ZeqctlProcess.h"

#include "emulator/Emulator.h"

#include <gtest/gtest.h>
#include <json/writer.h> // streams a Json::Value into failure messages

#include <memory>
#include <string>
#include <vector>

namespace zeqctltest {

// A device of the test's own (development certificate, seeded demo content)
// that zeqctl reaches with --device/--cookie/--token; zeqctl checks it
// against the development CA beside itself, so verification passes for real.
class ToolTest : public ::testing::Test {
protected:
    void SetUp() override { StartDevice(zeqemu::EmulatorOptions{}); }

    void StartDevice(zeqemu::EmulatorOptions options);
    // zeqctl against this test's device.
    Outcome Device(std::vector<std::string> args) const;
    // zeqctl with --json against this test's device; the exit code must be 0.
    Json::Value Json(std::vector<std::string> args) const;
    std::vector<std::string> Target() const;

    TempDir m_home;
    TempDir m_deviceDir;
    Zeqctl m_zeqctl{m_home.Path()};
    std::unique_ptr<zeqemu::Emulator> m_device;
};

// Names of the entries of a "files ls --json" document.
std::vector<std::string> EntryNames(const Json::Value& listing);
// The member of an array whose key equals value, or null.
Json::Value FindBy(const Json::Value& array, const std::string& key, const Json::Value& value);

} // namespace zeqctltest
