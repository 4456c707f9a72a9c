#include "host/VexaCurlHttpLibContext.h"
#include "context/ClientUtils.h"
#include "host/VexaBasicHttpLibStrategy.h"
#include "support/TempDir.h"
#include "support/TestServer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testsupport::Reply;
using testsupport::TestServer;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> Entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

class DownloadFile : public testing::Test {
protected:
    void SetUp() override {
        strategy.SetLogFunction([this](const std::string& text) { logs.push_back(text); });
        strategy.SetHttpRequestMethod(VEXA_HTTP_GET);
        strategy.SetHeaders({{"Cookie", "ID=c1"}, {"Token", "t1"}});
    }
    int Download(const fs::path& target, const std::string& path = "page") {
        strategy.SetUrl(server.BaseUrl() + path);
        VexaCurlHttpLibContext context(&strategy);
        return context.DownloadFile(UTF8ToUnicode(target.string()), headers);
    }

    TestServer server;
    testsupport::TempDir temp;
    const fs::path folder = temp.Path();
    VexaBasicHttpLibStrategy strategy;
    std::vector<std::string> logs;
    std::map<std::string, std::string> headers{{"Stale", "x"}};
};

TEST_F(DownloadFile, WritesTheBodyOfA200IntoANewFolder) {
    server.Script("/page", {Reply::Status(200, "<html>c</html>")});
    const fs::path target = folder / "sub" / "page.html";
    EXPECT_EQ(Download(target), 200);
    EXPECT_EQ(ReadFile(target), "<html>c</html>");
    EXPECT_EQ(Entries(folder / "sub"), std::vector<std::string>{"page.html"});
    EXPECT_EQ(headers.at("Content-Length"), "14");
    EXPECT_EQ(headers.count("Stale"), 0u);
    const auto request = server.Requests().at(0);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.Header("Cookie"), "ID=c1");
    EXPECT_EQ(request.Header("Token"), "t1");
    EXPECT_EQ(logs, std::vector<std::string>{"httpRequest Method:GET\nCurlCode: 0\nHttpCode= 200"});
}

TEST_F(DownloadFile, KeepsOnlyTheBodyOfTheAttemptThatSucceeded) {
    server.Script("/page", {Reply::Status(503, "busy"), Reply::Status(200, "page")});
    EXPECT_EQ(Download(folder / "page.html"), 200);
    EXPECT_EQ(ReadFile(folder / "page.html"), "page");
}

struct Failure {
    const char* name;
    Reply reply;
    int result;
    const char* message;
};

void PrintTo(const Failure& failure, std::ostream* os) {
    *os << failure.name;
}

class DownloadFailure : public DownloadFile, public testing::WithParamInterface<Failure> {};

TEST_P(DownloadFailure, LeavesTheOldFileAsItWasAndNoTemporaryFile) {
    server.Script("/page", {GetParam().reply});
    const fs::path target = folder / "page.html";
    std::ofstream(target) << "old";
    EXPECT_EQ(Download(target), GetParam().result);
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"page.html"});
    EXPECT_EQ(logs.back(), GetParam().message);
}

Reply CutShort() {
    Reply reply = Reply::Status(200, std::string(4096, 'p'));
    reply.fault = Reply::Fault::DropMidBody;
    return reply;
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, DownloadFailure,
    testing::Values(Failure{"ServerError", Reply::Status(500, "oops"), 500,
                            "DownloadFile: no file written, CurlCode: 0, HttpCode= 500"},
                    Failure{"NoContent", Reply::Status(204), 204,
                            "DownloadFile: no file written, CurlCode: 0, HttpCode= 204"},
                    // The status says 200, but the transfer failed: a partial page must
                    // not pass for the file.
                    Failure{"BodyCutShort", CutShort(), -1,
                            "DownloadFile: no file written, CurlCode: 18, HttpCode= 200"}),
    [](const testing::TestParamInfo<Failure>& info) { return info.param.name; });

TEST_F(DownloadFile, ReportsAFileThatCannotBeWritten) {
    server.Script("/page", {Reply::Status(200, "page")});
    std::ofstream(folder / "plain") << "not a folder";
    const fs::path target = folder / "plain" / "page.html";
    EXPECT_EQ(Download(target), -1);
    EXPECT_EQ(logs.back(), "DownloadFile: cannot write " + target.string());
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"plain"});
}

} // namespace
