#include "ToolFixture.h"

#include "support/TestServer.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

namespace zeqctltest {
namespace {

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

} // namespace
} // namespace zeqctltest
