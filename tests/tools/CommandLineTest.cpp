#include "ZeqctlProcess.h"

#include <gtest/gtest.h>

namespace zeqctltest {
namespace {

// Every case is refused before any device is reached: nothing listens at the
// URLs given, so a command that ran anyway would end with 3, not 2.
TEST(ZeqctlCommandLine, UsageErrorsExitWithTwoAndNeverReachADevice) {
    TempDir home;
    const Zeqctl zeqctl(home.Path());
    const std::vector<std::vector<std::string>> cases{
        {},
        {"files"},
        {"files", "ls", "--sort", "largest"},
        {"--device", "https://127.0.0.1:1/", "--cookie", "c", "--token", "t", "tasks", "ls",
         "--family", "photos"},
        {"--device", "http://127.0.0.1:1/", "--cookie", "c", "--token", "t", "device", "info"},
        {"--device", "https://127.0.0.1:1/api/", "--cookie", "c", "--token", "t", "device", "info"},
        {"--device", "https://127.0.0.1:1/", "device", "info"},
        {"--cookie", "c", "--token", "t", "device", "info"},
        {"--pin", "sha256:abcd", "device", "info"},
        {"--caps", "6,9", "--device", "https://127.0.0.1:1/", "--cookie", "c", "--token", "t",
         "device", "info"},
        {"--device", "https://127.0.0.1:1/", "--cookie", "c", "--token", "t", "files", "ls",
         "relative/path"},
        {"albums", "merge", "Only one", "4"},
        {"--bogus", "device", "info"},
        {"--timeout", "0", "device", "info"},
        {"--device", "https://127.0.0.1:1/", "--cookie", "c", "--token", "t", "files", "get",
         "relative.txt"},
    };
    for (const auto& args : cases) {
        std::string line;
        for (const auto& arg : args) {
            line += arg + " ";
        }
        SCOPED_TRACE(line);
        const auto run = zeqctl(args);
        EXPECT_EQ(run.exitCode, 2) << run.err;
        EXPECT_FALSE(run.err.empty());
    }
}

TEST(ZeqctlCommandLine, HelpListsTheCommandGroupsAndSucceeds) {
    TempDir home;
    const auto run = Zeqctl(home.Path())({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const auto* group : {"device", "albums", "photos", "files", "tasks", "demo"}) {
        EXPECT_NE(run.out.find(group), std::string::npos) << group;
    }
}

} // namespace
} // namespace zeqctltest
