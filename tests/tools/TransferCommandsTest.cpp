// get and put through the transfer engine against a device of the test's own:
// files compared byte for byte on both sides, resumption from a partial file,
// and failures mapped to the tool's exit codes.

#include "ToolFixture.h"

#include "support/TestServer.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zeqctltest {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMiB = 1024 * 1024;

// Every byte value in a pattern that does not repeat at block sizes, so a
// part written twice or skipped shows.
std::string Pattern(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t state = 0x9e3779b9u;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

fs::path PartialOf(const fs::path& file) {
    return file.string() + ".part";
}

std::string Content(const std::string& path) {
    return "/filesvc/content?path=" + path;
}

class ZeqctlTransfer : public ToolTest {
protected:
    void SetUp() override {
        zeqemu::EmulatorOptions options;
        options.maxBodyBytes = 16 * kMiB;
        StartDevice(options);
    }
    fs::path OnDevice(const std::string& relative) const {
        return m_deviceDir.Path() / "files" / "user" / relative;
    }
    fs::path Local(const std::string& name) const { return m_work.Path() / name; }

    TempDir m_work;
};

TEST_F(ZeqctlTransfer, FilesRoundTripByDevicePathAndResumeFromThePartialFile) {
    const auto original = Pattern(3 * kMiB + 12345);
    WriteFile(Local("data.bin"), original);
    fs::create_directories(OnDevice("Inbox"));

    const auto sent = Json({"files", "put", Local("data.bin").string(), "/Inbox/"});
    EXPECT_EQ(sent["bytes"].asUInt64(), original.size());
    EXPECT_TRUE(ReadFile(OnDevice("Inbox/data.bin")) == original) << "the upload differs";
    // Into a local folder, under the device file's name.
    const auto whole =
        Json({"files", "get", "/Inbox/data.bin", "-o", m_work.Path().string() + "/"});
    EXPECT_EQ(whole["status"].asInt(), 200);
    EXPECT_EQ(whole["resumedFrom"].asInt64(), 0);
    EXPECT_GT(whole["speed"].asInt64(), 0);
    EXPECT_TRUE(ReadFile(Local("data.bin")) == original) << "the download differs";
    EXPECT_FALSE(fs::exists(PartialOf(Local("data.bin"))));

    // An interrupted download left its first part beside the file; the rest
    // follows, and the file appears only once complete.
    const std::size_t part = kMiB + 7;
    WriteFile(PartialOf(Local("part.bin")), original.substr(0, part));
    const auto resumed =
        Json({"files", "get", "/Inbox/data.bin", "-o", Local("part.bin").string()});
    EXPECT_EQ(resumed["status"].asInt(), 206);
    EXPECT_EQ(resumed["resumedFrom"].asUInt64(), part);
    EXPECT_EQ(resumed["bytes"].asUInt64(), original.size() - part);
    EXPECT_TRUE(ReadFile(Local("part.bin")) == original) << "the resumed download differs";
    EXPECT_FALSE(fs::exists(PartialOf(Local("part.bin"))));

    // A partial file as long as the device's is complete: nothing to fetch.
    WriteFile(PartialOf(Local("full.bin")), original);
    const auto complete = Json({"get", m_device->BaseUrl() + "filesvc/content?path=/Inbox/data.bin",
                                "-o", Local("full.bin").string()});
    EXPECT_EQ(complete["bytes"].asInt64(), 0);
    EXPECT_TRUE(ReadFile(Local("full.bin")) == original);

    // Longer than the device's file: no part of it, so the download starts over.
    WriteFile(PartialOf(Local("long.bin")), original + "tail");
    Json({"get", Content("/Inbox/data.bin"), "-o", Local("long.bin").string()});
    EXPECT_TRUE(ReadFile(Local("long.bin")) == original);
}

// Each refusal is one line naming what is wrong, and leaves nothing behind.
TEST_F(ZeqctlTransfer, FilesGetAndPutExplainWhatIsWrong) {
    WriteFile(Local("a.txt"), "abc");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"files", "get", "/Videos/none.mp4", "-o", Local("none.mp4").string()},
         "no file /Videos/none.mp4 on the device"},
        {{"files", "get", "/Videos", "-o", Local("videos").string()}, "/Videos is a folder"},
        {{"files", "put", Local("missing.txt").string(), "/Documents/"},
         "cannot read " + Local("missing.txt").string() + ": No such file or directory"},
        {{"files", "put", m_work.Path().string(), "/Documents/"}, "it is a folder"},
        {{"files", "put", Local("a.txt").string(), "/Documents"},
         "/Documents is a folder; end it with / to put a.txt into it"},
        {{"files", "put", Local("a.txt").string(), "/Nowhere/"}, "no folder /Nowhere"},
    };
    for (const auto& c : cases) {
        const auto run = Device(c.args);
        EXPECT_EQ(run.exitCode, 1) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(m_work.Path()), fs::directory_iterator()), 1)
        << "a refused download writes nothing";
    EXPECT_FALSE(fs::exists(OnDevice("Documents/a.txt")));
}

TEST_F(ZeqctlTransfer, UploadResumesOnlyAtTheOffsetTheDeviceHolds) {
    const auto original = Pattern(2 * kMiB + 999);
    WriteFile(Local("up.bin"), original);
    fs::create_directories(OnDevice("Inbox"));

    // The device kept the first part of an interrupted upload.
    const std::size_t part = kMiB + 3;
    WriteFile(OnDevice("Inbox/resumed.bin"), original.substr(0, part));
    const auto rest = Json({"put", Local("up.bin").string(), Content("/Inbox/resumed.bin"),
                            "--offset", std::to_string(part)});
    EXPECT_EQ(rest["status"].asInt(), 200);
    EXPECT_EQ(rest["bytes"].asUInt64(), original.size() - part);
    EXPECT_EQ(rest["resumedFrom"].asUInt64(), part);
    EXPECT_TRUE(ReadFile(OnDevice("Inbox/resumed.bin")) == original);

    // An offset that does not match what the device holds is refused untouched.
    const auto wrong =
        Device({"put", Local("up.bin").string(), Content("/Inbox/resumed.bin"), "--offset", "10"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("holds " + std::to_string(original.size())), std::string::npos)
        << wrong.err;
    EXPECT_TRUE(ReadFile(OnDevice("Inbox/resumed.bin")) == original);

    const auto beyond = Device({"put", Local("up.bin").string(), Content("/Inbox/x.bin"),
                                "--offset", std::to_string(original.size() + 1)});
    EXPECT_EQ(beyond.exitCode, 2);
}

TEST_F(ZeqctlTransfer, FailuresMapToExitCodesAndWriteNothing) {
    WriteFile(OnDevice("a.bin"), "abc");

    const auto missing = Device({"get", Content("/none.bin"), "-o", Local("none.bin").string()});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("HTTP 404"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(Local("none.bin"))) << "an error page is not saved as the file";
    EXPECT_FALSE(fs::exists(PartialOf(Local("none.bin"))));

    auto wrongToken = Target();
    wrongToken.back() = "not-the-token";
    wrongToken.insert(wrongToken.end(), {"get", Content("/a.bin"), "-o", Local("a.bin").string()});
    const auto refused = m_zeqctl(wrongToken);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("40100"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("not-the-token"), std::string::npos);

    const auto foreign =
        Device({"get", "https://127.0.0.2:1/filesvc/content", "-o", Local("f.bin").string()});
    EXPECT_EQ(foreign.exitCode, 2) << "the device's credentials go nowhere else";

    const auto url = "https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/";
    const auto closed = m_zeqctl({"--device", url, "--cookie", "c", "--token", "t", "get",
                                  Content("/a.bin"), "-o", Local("c.bin").string()});
    EXPECT_EQ(closed.exitCode, 3);
    EXPECT_NE(closed.err.find("refused"), std::string::npos) << closed.err;
    EXPECT_FALSE(fs::exists(Local("c.bin")));
}

TEST_F(ZeqctlTransfer, CertificateFromAnotherCaFailsTheDownloadWithExitThree) {
    zeqemu::EmulatorOptions options;
    options.certFile = HTTPLIB_TEST_CERT_DIR "/server.pem";
    options.keyFile = HTTPLIB_TEST_CERT_DIR "/server.key";
    StartDevice(options);
    WriteFile(OnDevice("a.bin"), "abc");
    const auto run = Device({"get", Content("/a.bin"), "-o", Local("a.bin").string()});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("not trusted"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Local("a.bin")));
}

TEST_F(ZeqctlTransfer, ProgressWithoutATerminalIsPlainLines) {
    WriteFile(OnDevice("p.bin"), Pattern(kMiB));
    const auto run = Device({"get", Content("/p.bin"), "-o", Local("p.bin").string()});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_NE(run.out.find("100%  1.0 MiB/1.0 MiB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("downloaded 1.0 MiB to " + Local("p.bin").string()), std::string::npos)
        << run.out;

    // With --json standard output is the document alone.
    const auto json = Device({"--json", "get", Content("/p.bin"), "-o", Local("q.bin").string()});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_TRUE(json.Json().isObject()) << json.out;
    EXPECT_NE(json.err.find("100%"), std::string::npos) << json.err;
}

TEST_F(ZeqctlTransfer, EmbeddedDeviceTakesLargeUploads) {
    // Larger than the emulator's usual request limit.
    const auto original = Pattern(2 * kMiB);
    WriteFile(Local("up.bin"), original);
    const auto put =
        m_zeqctl({"--json", "put", Local("up.bin").string(), Content("/Documents/up")});
    ASSERT_EQ(put.exitCode, 0) << put.err;
    const auto get =
        m_zeqctl({"--json", "get", Content("/Documents/up"), "-o", Local("back.bin").string()});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_TRUE(ReadFile(Local("back.bin")) == original);
}

} // namespace
} // namespace zeqctltest
