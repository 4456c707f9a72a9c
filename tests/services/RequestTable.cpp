#include "ServiceRig.h"

#include "platform/Scribo.h"

namespace servicetest {
namespace {

Scribo::ModuleType ModuleOf(const std::string& function) {
    return function.starts_with("FileIntfZeq::") ? Scribo::subBase : Scribo::subGallery;
}

} // namespace

TEST_P(RequestTable, SendsPathQueryBodyAndFolderHeader) {
    GetParam().call();
    const auto requests = rig.server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests.front();
    const ExpectedRequest& expected = GetParam().expected;
    EXPECT_EQ(request.method, expected.method);
    EXPECT_EQ(request.path, expected.path);
    EXPECT_EQ(request.query, expected.query);
    EXPECT_EQ(request.body, expected.body);
    EXPECT_EQ(request.HasHeader("Dest-File"), !expected.destFile.empty());
    EXPECT_EQ(request.Header("Dest-File"), expected.destFile);
}

TEST_P(RequestFailureTable, PreparationFailureLogsTheInitLineOnce) {
    rig.BreakPreparation();
    EXPECT_FALSE(GetParam().call());
    const std::string& function = GetParam().function;
    const std::string className = function.substr(0, function.find("::"));
    EXPECT_EQ(rig.LinesOf(className),
              std::vector<std::string>{function + ": " + GetParam().lines.initFailed});
    for (const auto& record : rig.log.Records()) {
        if (record.function == function) {
            EXPECT_EQ(record.module, ModuleOf(function));
            EXPECT_EQ(record.severity, Scribo::LOG_ERROR);
        }
    }
    EXPECT_EQ(rig.server.RequestCount(), 0u);
}

TEST_P(RequestFailureTable, TransferFailureLogsTheDoLineOnce) {
    rig.BreakTransfer();
    EXPECT_FALSE(GetParam().call());
    EXPECT_EQ(rig.log.Count(GetParam().function, GetParam().lines.doFailed), 1u)
        << testing::PrintToString(rig.log.Messages());
}

} // namespace servicetest
