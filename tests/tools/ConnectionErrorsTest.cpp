#include "ToolFixture.h"

#include "support/TestServer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <tuple>

namespace zeqctltest {
namespace {

namespace fs = std::filesystem;
using testsupport::Reply;

std::string FingerprintOf(const std::string& pemFile) {
    std::unique_ptr<FILE, decltype(&std::fclose)> file(std::fopen(pemFile.c_str(), "r"),
                                                       &std::fclose);
    if (!file) {
        return {};
    }
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_X509(file.get(), nullptr, nullptr, nullptr), &X509_free);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text = "sha256:";
    for (unsigned int i = 0; i < length; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0f];
    }
    return text;
}

using ZeqctlConnection = ToolTest;

TEST_F(ZeqctlConnection, WrongTokenIsADeviceErrorWithTheDevicesText) {
    auto target = Target();
    target.back() = "not-the-token";
    target.insert(target.end(), {"device", "info"});
    const auto run = m_zeqctl(target);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("40100"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("wrong or missing cookie id or token"), std::string::npos) << run.err;
}

TEST_F(ZeqctlConnection, CertificateFromAnotherCaFailsTheHandshakeWithExitThree) {
    zeqemu::EmulatorOptions options;
    options.certFile = HTTPLIB_TEST_CERT_DIR "/server.pem";
    options.keyFile = HTTPLIB_TEST_CERT_DIR "/server.key";
    StartDevice(options);
    const auto run = Device({"files", "ls", "/"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("not trusted"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("config/ca.pem"), std::string::npos) << run.err;
}

TEST_F(ZeqctlConnection, PinnedFingerprintIsCheckedAfterTheChain) {
    const auto pin = FingerprintOf(zeqemu::Emulator::DevelopmentCertFile());
    ASSERT_FALSE(pin.empty());

    const auto shown = Json({"device", "fingerprint"});
    EXPECT_EQ(shown["fingerprint"].asString(), pin);

    const auto pinned = Device({"--pin", pin, "device", "info"});
    EXPECT_EQ(pinned.exitCode, 0) << pinned.err;

    // Same certificate, one digit off: the chain still verifies, the pin must not.
    auto wrong = pin;
    wrong.back() = wrong.back() == '0' ? '1' : '0';
    const auto mismatch = Device({"--pin", wrong, "device", "info"});
    EXPECT_EQ(mismatch.exitCode, 3);
    EXPECT_NE(mismatch.err.find("pin mismatch"), std::string::npos) << mismatch.err;
    EXPECT_NE(mismatch.err.find(pin), std::string::npos) << "the fingerprint seen is shown";
}

TEST_F(ZeqctlConnection, RefusedConnectionNamesTheUrl) {
    const auto url = "https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/";
    const auto run = m_zeqctl({"--device", url, "--cookie", "c", "--token", "t", "albums", "ls"});
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("refused"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(url), std::string::npos) << run.err;
}

TEST_F(ZeqctlConnection, VerboseLogNeverShowsTheCredentials) {
    auto wrong = Target();
    wrong.back() = "a-wrong-token-value";
    wrong.insert(wrong.end(), {"--verbose", "device", "info"});
    const auto refused = m_zeqctl(wrong);
    const auto accepted = Device({"--verbose", "albums", "ls"});
    EXPECT_EQ(accepted.exitCode, 0);
    EXPECT_FALSE(accepted.err.empty()) << "--verbose shows the library's log";
    for (const auto* run : {&refused, &accepted}) {
        for (const auto& secret :
             {m_device->Token(), m_device->CookieId(), std::string("a-wrong-token-value")}) {
            EXPECT_EQ(run->out.find(secret), std::string::npos);
            EXPECT_EQ(run->err.find(secret), std::string::npos) << run->err;
        }
    }
}

// A server of the test's own that zeqctl trusts: it presents the development
// certificate, like the emulator, and answers as each test scripts it.
class ZeqctlFaultyDevice : public testing::Test {
protected:
    Outcome Run(std::vector<std::string> args) const { return Run(m_server, std::move(args)); }
    Outcome Run(const testsupport::TestServer& server, std::vector<std::string> args) const {
        args.insert(args.begin(), {"--device", server.BaseUrl(), "--cookie", "c", "--token", "t"});
        return m_zeqctl(args, kRunBound);
    }
    fs::path Local(const std::string& name) const { return m_work.Path() / name; }

    // Far beyond any timeout used here: reaching it means the command hung.
    static constexpr std::chrono::seconds kRunBound{60};
    TempDir m_home;
    TempDir m_work;
    Zeqctl m_zeqctl{m_home.Path()};
    testsupport::TestServer m_server{zeqemu::Emulator::DevelopmentCertFile(),
                                     zeqemu::Emulator::DevelopmentKeyFile()};
};

TEST_F(ZeqctlFaultyDevice, ADeviceThatStopsAnsweringEndsTheCommandWithinTheTimeout) {
    Reply silent = Reply::Json("{}");
    silent.delay = std::chrono::minutes(10);
    m_server.Script("/filesvc/files", {silent});
    Reply stalls = Reply::Status(200, std::string(100000, 'x'));
    stalls.fault = Reply::Fault::Trickle;
    stalls.trickleChunk = 1000;
    stalls.trickleInterval = std::chrono::minutes(10);
    m_server.Script("/filesvc/content", {stalls});

    constexpr int kTimeout = 3;
    // Process start and the device request's attempts on a loaded machine,
    // under a sanitizer too; without a limit the command never ends.
    constexpr auto kMargin = std::chrono::seconds(15);
    const std::vector<std::vector<std::string>> commands{
        {"files", "ls", "/"}, {"files", "get", "/big.bin", "-o", Local("big.bin").string()}};
    for (const auto& command : commands) {
        auto args = command;
        args.insert(args.begin(), {"--timeout", std::to_string(kTimeout)});
        const auto run = Run(args);
        SCOPED_TRACE(command.front() + " " + command[1]);
        EXPECT_EQ(run.exitCode, 4) << run.err;
        EXPECT_NE(run.err.find("the device " + m_server.BaseUrl() + " stopped answering"),
                  std::string::npos)
            << run.err;
        EXPECT_LT(run.elapsed, std::chrono::seconds(kTimeout) + kMargin);
    }
    // What came stays in the partial file for a later run to resume.
    EXPECT_FALSE(fs::exists(Local("big.bin")));
    EXPECT_EQ(fs::file_size(Local("big.bin.part")), 1000u);
}

// Served on 127.0.0.1 with a certificate for evil.example from the CA zeqctl
// trusts: the chain verifies, so only the host-name check stands between the
// credentials and the impostor.
TEST_F(ZeqctlFaultyDevice, ACertificateForAnotherHostGetsNoCredentials) {
    testsupport::TestServer impostor(testsupport::TestCertPath("wrong-name.pem"),
                                     testsupport::TestCertPath("wrong-name.key"));
    impostor.SetDefault(Reply::Json(R"({"code":0,"data":{"files":[],"hasMore":false}})"));
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"files", "ls", "/"},
             {"files", "mkdir", "/Stolen"},
             {"files", "get", "/a.bin", "-o", Local("a.bin").string()}}) {
        const auto run = Run(impostor, command);
        SCOPED_TRACE(command[1]);
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_NE(run.err.find("the certificate of " + impostor.BaseUrl() +
                               " is for evil.example, not for 127.0.0.1"),
                  std::string::npos)
            << run.err;
    }
    EXPECT_EQ(impostor.RequestCount(), 0u) << "a request would have carried the cookie and token";
}

// Half a reply, then the connection closes: libcurl's result 18 with a 200.
Reply CutReply() {
    Reply cut = Reply::Json(R"({"code":0,"pad":")" + std::string(4000, 'x') + R"("})");
    cut.fault = Reply::Fault::DropMidBody;
    return cut;
}

std::size_t RequestsTo(const testsupport::TestServer& server, const std::string& path) {
    const auto requests = server.Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin(), requests.end(),
                                                  [&](const auto& r) { return r.path == path; }));
}

// A reply cut off mid-body is a failed connection, not a refusal of the
// device: a read asks again a few times, a change is never repeated.
TEST_F(ZeqctlFaultyDevice, ACutReplyIsAConnectionFailureThatOnlyReadsRepeat) {
    m_server.Script("/filesvc/files",
                    {CutReply(), Reply::Json(R"({"code":0,"data":{"parentPath":"/","files":[
                        {"name":"kept.txt","type":1,"size":3}]}})")});
    m_server.Script("/filesvc/detail", {CutReply()});
    m_server.Script("/filesvc/mkdir", {CutReply()});

    const auto listed = Run({"--json", "files", "ls", "/"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(EntryNames(listed.Json()), std::vector<std::string>{"kept.txt"}) << listed.out;
    EXPECT_EQ(RequestsTo(m_server, "/filesvc/files"), 2u);

    for (const auto& [command, path, requests] :
         std::vector<std::tuple<std::vector<std::string>, std::string, std::size_t>>{
             {{"files", "stat", "/Documents"}, "/filesvc/detail", 3},
             {{"files", "mkdir", "/New"}, "/filesvc/mkdir", 1}}) {
        const auto run = Run(command);
        SCOPED_TRACE(command[1]);
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_NE(run.err.find("the connection to " + m_server.BaseUrl() +
                               " broke off before the whole reply came"),
                  std::string::npos)
            << run.err;
        EXPECT_EQ(RequestsTo(m_server, path), requests);
    }
}

// tasks watch looks again after polls lost on the way, for --timeout.
TEST_F(ZeqctlFaultyDevice, TasksWatchRidesOutPollsLostOnTheWay) {
    const auto done = Reply::Json(R"({"code":0,"data":{"tasks":[
        {"taskId":7,"taskType":401,"progress":100,"sumNum":2,"finishedNum":2}]}})");
    m_server.Script("/filesvc/getTaskStatus", {CutReply(), CutReply(), CutReply(), done});
    const auto watched = Run({"--timeout", "30", "tasks", "watch", "7", "--family", "file"});
    EXPECT_EQ(watched.exitCode, 0) << watched.err;
    EXPECT_NE(watched.out.find("file task 7 done"), std::string::npos) << watched.out;

    m_server.Script("/filesvc/getTaskStatus", {CutReply()});
    const auto lost = Run({"--timeout", "2", "tasks", "watch", "7", "--family", "file"});
    EXPECT_EQ(lost.exitCode, 3) << lost.err;
    EXPECT_NE(lost.err.find("broke off"), std::string::npos) << lost.err;
    EXPECT_LT(lost.elapsed, std::chrono::seconds(2 + 15)) << "it looks again for --timeout only";
}

// A download the device redirects away: over plain HTTP, or to another https
// origin that zeqctl would trust. Neither sees the device's credentials.
TEST_F(ZeqctlFaultyDevice, ARedirectAwayFromTheDeviceIsRefusedAndNamed) {
    testsupport::TestServer plain(testsupport::TestServer::Mode::Http);
    testsupport::TestServer elsewhere(zeqemu::Emulator::DevelopmentCertFile(),
                                      zeqemu::Emulator::DevelopmentKeyFile());
    for (auto* other : {&plain, &elsewhere}) {
        other->SetDefault(Reply::Status(200, "the other server's content"));
    }
    const std::vector<std::string> targets{plain.BaseUrl() + "collect",
                                           elsewhere.BaseUrl() + "collect"};
    std::vector<Reply> redirects;
    for (const auto& target : targets) {
        redirects.push_back(Reply::Status(302));
        redirects.back().headers = {{"Location", target}};
    }
    m_server.Script("/filesvc/content", redirects);

    for (const auto& target : targets) {
        const auto run = Run({"files", "get", "/a.bin", "-o", Local("a.bin").string()});
        SCOPED_TRACE(target);
        EXPECT_EQ(run.exitCode, 3) << run.err;
        EXPECT_NE(run.err.find("the device redirected to " + target), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(Local("a.bin")));
        EXPECT_FALSE(fs::exists(Local("a.bin.part")));
    }
    EXPECT_EQ(plain.RequestCount() + elsewhere.RequestCount(), 0u)
        << "a followed redirect would have carried the token";
}

// Every second connection to this server meets a twin of the device's
// certificate: same CA, same names, another key. Only the pin tells them
// apart, so under --pin it must be checked on each connection a transfer uses.
TEST_F(ZeqctlFaultyDevice, UnderPinEveryTransferConnectionIsPinned) {
    m_server.AlternateCertificate(testsupport::TestCertPath("twin.pem"),
                                  testsupport::TestCertPath("twin.key"));
    m_server.Script("/filesvc/content", {Reply::Status(200, "abc")});
    // Device requests get an answer too, so only an unpinned transfer can differ.
    m_server.SetDefault(Reply::Json(R"({"code":0,"data":{}})"));
    const auto pin = FingerprintOf(zeqemu::Emulator::DevelopmentCertFile());
    ASSERT_FALSE(pin.empty());

    const auto genuine = Run({"--pin", pin, "files", "get", "/a.bin", "-o", Local("1").string()});
    EXPECT_EQ(genuine.exitCode, 0) << genuine.err;
    const auto twin = Run({"--pin", pin, "files", "get", "/a.bin", "-o", Local("2").string()});
    EXPECT_EQ(twin.exitCode, 3) << twin.err;
    EXPECT_NE(twin.err.find("pin mismatch"), std::string::npos) << twin.err;
    EXPECT_FALSE(fs::exists(Local("2")));
}

} // namespace
} // namespace zeqctltest
