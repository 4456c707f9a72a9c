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
        m_options.maxBodyBytes = 16 * kMiB;
        StartDevice(m_options);
    }
    fs::path OnDevice(const std::string& relative) const {
        return m_deviceDir.Path() / "files" / "user" / relative;
    }
    std::string Local(const std::string& name) const { return (m_work.Path() / name).string(); }

    TempDir m_work;
    zeqemu::EmulatorOptions m_options;
};

TEST_F(ZeqctlTransfer, FilesRoundTripByDevicePathAndAPartOfUnknownVersionStartsOver) {
    // A name that must be encoded on its way into the URL.
    const std::string name = "data & more.bin";
    const auto original = Pattern(3 * kMiB + 12345);
    WriteFile(Local(name), original);
    fs::create_directories(OnDevice("Inbox"));

    const auto sent = Json({"files", "put", Local(name), "/Inbox/"});
    EXPECT_EQ(sent["bytes"].asUInt64(), original.size());
    EXPECT_TRUE(ReadFile(OnDevice("Inbox/" + name)) == original) << "the upload differs";
    // Into a local folder, under the device file's name.
    fs::create_directories(Local("back"));
    const auto whole = Json({"files", "get", "/Inbox/" + name, "-o", Local("back")});
    EXPECT_EQ(whole["status"].asInt(), 200);
    EXPECT_EQ(whole["resumedFrom"].asInt64(), 0);
    EXPECT_GT(whole["speed"].asInt64(), 0);
    EXPECT_TRUE(ReadFile(Local("back/" + name)) == original) << "the download differs";
    EXPECT_FALSE(fs::exists(PartialOf(Local("back/" + name))));

    // A part whose version nobody noted cannot be trusted to belong to this
    // file: the download starts over, and says so.
    WriteFile(PartialOf(Local("part.bin")), "not a part of it");
    const auto unknown = Json({"files", "get", "/Inbox/" + name, "-o", Local("part.bin")});
    EXPECT_EQ(unknown["resumedFrom"].asInt64(), 0);
    EXPECT_FALSE(unknown["startedOver"].asString().empty()) << unknown;
    EXPECT_TRUE(ReadFile(Local("part.bin")) == original);
    EXPECT_FALSE(fs::exists(PartialOf(Local("part.bin"))));
}

// A download cut off when the device stalls is resumed from its part while
// the device's file is the same version, and started over once it changed.
TEST_F(ZeqctlTransfer, AResumedDownloadNeverMixesTwoVersions) {
    const auto first = Pattern(kMiB);
    auto second = first;
    for (auto& byte : second) {
        byte = static_cast<char>(byte ^ 0x5a);
    }
    WriteFile(OnDevice("v.bin"), first);
    const auto interrupt = [&] {
        zeqemu::EmulatorOptions stalling = m_options;
        stalling.faults.slowChunkBytes = 16 * 1024;
        stalling.faults.slowInterval = std::chrono::minutes(10);
        StartDevice(stalling);
        // Long enough for the first chunk to come first on a loaded machine.
        const auto cut = Device({"--timeout", "2", "files", "get", "/v.bin", "-o", Local("v.bin")});
        EXPECT_EQ(cut.exitCode, 4) << cut.err;
        StartDevice(m_options);
    };

    interrupt();
    const auto same = Json({"files", "get", "/v.bin", "-o", Local("v.bin")});
    EXPECT_EQ(same["status"].asInt(), 206);
    EXPECT_GT(same["resumedFrom"].asInt64(), 0);
    EXPECT_TRUE(ReadFile(Local("v.bin")) == first) << "the resumed download differs";

    interrupt();
    WriteFile(OnDevice("v.bin"), second);
    const auto changed = Device({"files", "get", "/v.bin", "-o", Local("v.bin")});
    EXPECT_EQ(changed.exitCode, 0) << changed.err;
    EXPECT_NE(changed.out.find("started over: the file changed on the device"), std::string::npos)
        << changed.out;
    EXPECT_TRUE(ReadFile(Local("v.bin")) == second) << "parts of two versions were joined";
}

// Each refusal is one line naming what is wrong, and leaves nothing behind.
TEST_F(ZeqctlTransfer, FilesGetAndPutExplainWhatIsWrong) {
    WriteFile(Local("a.txt"), "abc");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"files", "get", "/Videos/none.mp4", "-o", Local("none.mp4")},
         "no file /Videos/none.mp4 on the device"},
        {{"files", "get", "/Videos", "-o", Local("videos")}, "/Videos is a folder"},
        {{"files", "put", Local("missing.txt"), "/Documents/"},
         "cannot read " + Local("missing.txt") + ": No such file or directory"},
        {{"files", "put", m_work.Path().string(), "/Documents/"}, "it is a folder"},
        {{"files", "put", Local("a.txt"), "/Documents"},
         "/Documents is a folder; end it with / to put a.txt into it"},
        {{"files", "put", Local("a.txt"), "/Nowhere/"}, "no folder /Nowhere"},
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

// An upload resumes only where the device holds the beginning of this very
// file; any other part is replaced, and the tool says so.
TEST_F(ZeqctlTransfer, AnUploadResumesOnlyOnItsOwnBeginning) {
    const auto original = Pattern(2 * kMiB + 999);
    auto other = original;
    for (auto& byte : other) {
        byte = static_cast<char>(byte ^ 0x5a);
    }
    WriteFile(Local("up.bin"), original);
    const std::size_t part = kMiB + 3;

    WriteFile(OnDevice("Inbox/up.bin"), original.substr(0, part));
    const auto rest = Json({"files", "put", Local("up.bin"), "/Inbox/"});
    EXPECT_EQ(rest["resumedFrom"].asUInt64(), part);
    EXPECT_EQ(rest["bytes"].asUInt64(), original.size() - part);
    EXPECT_TRUE(ReadFile(OnDevice("Inbox/up.bin")) == original);
    EXPECT_EQ(Json({"files", "put", Local("up.bin"), "/Inbox/"})["bytes"].asInt64(), 0)
        << "the device holds the whole file already";

    for (const auto& args :
         std::vector<std::vector<std::string>>{{"files", "put", Local("up.bin"), "/Inbox/up.bin"},
                                               {"put", Local("up.bin"), Content("/Inbox/up.bin"),
                                                "--offset", std::to_string(part)}}) {
        WriteFile(OnDevice("Inbox/up.bin"), other.substr(0, part));
        const auto whole = Device(args);
        EXPECT_EQ(whole.exitCode, 0) << whole.err;
        EXPECT_NE(whole.out.find("started over: the device's " + std::to_string(part) +
                                 " bytes are not the beginning of"),
                  std::string::npos)
            << whole.out;
        EXPECT_TRUE(ReadFile(OnDevice("Inbox/up.bin")) == original)
            << args.front() << ": parts of two files were joined";
    }

    // An offset short of what the device holds is refused, the file untouched.
    const auto wrong = Device({"put", Local("up.bin"), Content("/Inbox/up.bin"), "--offset", "10"});
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("holds " + std::to_string(original.size())), std::string::npos)
        << wrong.err;
    EXPECT_TRUE(ReadFile(OnDevice("Inbox/up.bin")) == original);

    const auto beyond = Device({"put", Local("up.bin"), Content("/Inbox/x.bin"), "--offset",
                                std::to_string(original.size() + 1)});
    EXPECT_EQ(beyond.exitCode, 2);
}

TEST_F(ZeqctlTransfer, FailuresMapToExitCodesAndWriteNothing) {
    WriteFile(OnDevice("a.bin"), "abc");

    const auto missing = Device({"get", Content("/none.bin"), "-o", Local("none.bin")});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("HTTP 404"), std::string::npos) << missing.err;
    EXPECT_FALSE(fs::exists(Local("none.bin"))) << "an error page is not saved as the file";
    EXPECT_FALSE(fs::exists(PartialOf(Local("none.bin"))));

    auto wrongToken = Target();
    wrongToken.back() = "not-the-token";
    wrongToken.insert(wrongToken.end(), {"get", Content("/a.bin"), "-o", Local("a.bin")});
    const auto refused = m_zeqctl(wrongToken);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("40100"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("not-the-token"), std::string::npos);

    const auto foreign =
        Device({"get", "https://127.0.0.2:1/filesvc/content", "-o", Local("f.bin")});
    EXPECT_EQ(foreign.exitCode, 2) << "the device's credentials go nowhere else";

    const auto url = "https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/";
    const auto closed = m_zeqctl({"--device", url, "--cookie", "c", "--token", "t", "get",
                                  Content("/a.bin"), "-o", Local("c.bin")});
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
    const auto run = Device({"get", Content("/a.bin"), "-o", Local("a.bin")});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("not trusted"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(Local("a.bin")));
}

TEST_F(ZeqctlTransfer, ProgressWithoutATerminalIsPlainLines) {
    WriteFile(OnDevice("p.bin"), Pattern(kMiB));
    const auto run = Device({"get", Content("/p.bin"), "-o", Local("p.bin")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out.find('\r'), std::string::npos);
    EXPECT_NE(run.out.find("100%  1.0 MiB/1.0 MiB"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("downloaded 1.0 MiB to " + Local("p.bin")), std::string::npos)
        << run.out;

    // With --json standard output is the document alone.
    const auto json = Device({"--json", "get", Content("/p.bin"), "-o", Local("q.bin")});
    EXPECT_EQ(json.exitCode, 0);
    EXPECT_TRUE(json.Json().isObject()) << json.out;
    EXPECT_NE(json.err.find("100%"), std::string::npos) << json.err;
}

TEST_F(ZeqctlTransfer, EmbeddedDeviceTakesLargeUploads) {
    // Larger than the emulator's usual request limit.
    const auto original = Pattern(2 * kMiB);
    WriteFile(Local("up.bin"), original);
    const auto put = m_zeqctl({"--json", "put", Local("up.bin"), Content("/Documents/up")});
    ASSERT_EQ(put.exitCode, 0) << put.err;
    const auto get = m_zeqctl({"--json", "get", Content("/Documents/up"), "-o", Local("back.bin")});
    ASSERT_EQ(get.exitCode, 0) << get.err;
    EXPECT_TRUE(ReadFile(Local("back.bin")) == original);
}

} // namespace
} // namespace zeqctltest
