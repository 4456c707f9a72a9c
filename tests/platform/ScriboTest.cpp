#include "platform/Scribo.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// The module names are a positional table: one entry lost or doubled shifts
// every later module onto its neighbour's name, so the checks sit at the
// table's far end, where such a shift shows.
TEST(ScriboFormatLine, NamesLateModulesAndSeveritiesByTheirOwnEntries) {
    struct Case {
        Scribo::ModuleType module;
        Scribo::LogSeverity severity;
        const char* expected;
    };
    const Case cases[] = {
        {Scribo::subTrans, Scribo::LOG_NET, " subTrans_NET "},
        {Scribo::subDevice, Scribo::LOG_SYNC, " subDevice_SYNC "},
        {Scribo::subBase, Scribo::LOG_TRACE_UI, " subBase_TRACE_UI "},
        {Scribo::subFile, Scribo::LOG_ERROR, " subFile_ERROR "},
        {Scribo::subBound, Scribo::LOG_INFO, " subBound_INFO "},
    };
    for (const auto& c : cases) {
        const std::string line =
            Scribo::FormatLine({c.module, c.severity, 77, "FileIntfZeq::Rename", "renamed", false});
        EXPECT_NE(line.find(std::string(c.expected) + "FileIntfZeq::Rename:77 renamed"),
                  std::string::npos)
            << line;
    }
}

TEST(ScriboFormatLine, StartsWithTheLocalTimeToTheMillisecond) {
    const std::string line =
        Scribo::FormatLine({Scribo::subCloudSuite, Scribo::LOG_DEBUG, 1, "f", "m", false});
    EXPECT_TRUE(std::regex_match(
        line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} subCloudSuite_DEBUG f:1 m)")))
        << line;
}

TEST(ScriboFormatLine, LeavesAnUnknownModuleOrSeverityBlank) {
    const std::string line =
        Scribo::FormatLine({static_cast<Scribo::ModuleType>(23),
                            static_cast<Scribo::LogSeverity>(6), 5, "f", "m", false});
    EXPECT_NE(line.find("  f:5 m"), std::string::npos) << line;
}

} // namespace
