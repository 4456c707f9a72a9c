#pragma once

#include "support/TempDir.h"

#include <json/value.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace zeqctltest {

// One finished run of the built zeqctl.
struct Outcome {
    int exitCode = -1; // 128 + signal when killed
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};

    // The whole standard output as one JSON document, or null.
    Json::Value Json() const;
};

// Runs zeqctl as a child process with pipes for both outputs. The child sees
// none of the caller's ZEQ_* variables and a data home of its own, so a
// developer's settings or emulated device never leak into a test.
class Zeqctl {
public:
    explicit Zeqctl(std::filesystem::path dataHome) : m_dataHome(std::move(dataHome)) {}

    // A run still going at the bound is killed, so a command that hangs fails
    // its test instead of stalling the suite.
    Outcome operator()(const std::vector<std::string>& args,
                       std::chrono::seconds bound = std::chrono::seconds(120)) const;

private:
    std::filesystem::path m_dataHome;
};

using testsupport::TempDir;

} // namespace zeqctltest
