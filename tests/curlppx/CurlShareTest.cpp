#include "curlppx/CurlShare.h"
#include "EngineTestSupport.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace curlppx;
using namespace enginetest;

namespace {

class CurlShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / ("share-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_dir / "certs");
        std::ofstream(m_dir / "certs" / "ca.pem") << "not really a certificate\n";
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::filesystem::path m_dir;
    CurlShare m_share;
};

} // namespace

TEST_F(CurlShareTest, CaPathsAreNormalisedAndAMissingPathKeepsTheOldOne) {
    const std::wstring messy = (m_dir / "certs" / ".." / "certs" / "ca.pem").wstring();
    std::wstring winStyle = messy;
    std::replace(winStyle.begin(), winStyle.end(), L'/', L'\\');
    winStyle.insert(0, L"/"); // a doubled leading separator after conversion

    ASSERT_EQ(CURLSHE_OK, m_share.ShareCA(winStyle));
    std::wstring stored;
    bool isCAs = true;
    m_share.GetCA(stored, isCAs);
    EXPECT_EQ((m_dir / "certs" / "ca.pem").wstring(), stored);
    EXPECT_FALSE(isCAs);

    EXPECT_EQ(CURLSHE_BAD_OPTION, m_share.ShareCAs((m_dir / "nowhere").wstring()));
    m_share.GetCA(stored, isCAs);
    EXPECT_EQ((m_dir / "certs" / "ca.pem").wstring(), stored);

    ASSERT_EQ(CURLSHE_OK, m_share.ShareCAs((m_dir / "certs" / "").wstring()));
    m_share.GetCA(stored, isCAs);
    EXPECT_TRUE(isCAs);

    m_share.UnShareCA();
    m_share.GetCA(stored, isCAs);
    EXPECT_TRUE(stored.empty());
    EXPECT_FALSE(isCAs);
}

TEST_F(CurlShareTest, SettingsAreCopiesThatCanBeWithdrawn) {
    CurlHeader header(CurlConn::Fields{{"X-A", "1"}});
    ASSERT_EQ(CURLSHE_OK, m_share.ShareHeader(header));
    header.SetField("X-B", "2");
    ASSERT_TRUE(m_share.GetHeader());
    EXPECT_EQ(1u, m_share.GetHeader()->GetSize());
    m_share.UnShareHeader();
    EXPECT_FALSE(m_share.GetHeader());

    m_share.ShareUserAgent("agent/1");
    m_share.ShareSSLVerify("PEM");
    EXPECT_EQ("agent/1", m_share.GetUserAgent());
    EXPECT_EQ("PEM", m_share.GetSSLVerify());
    m_share.UnShareUserAgent();
    m_share.UnShareSSLVerify();
    EXPECT_EQ("", m_share.GetUserAgent());
    EXPECT_EQ("", m_share.GetSSLVerify());
}

TEST_F(CurlShareTest, DataKindsOutsideTheSharedOnesAreRefused) {
    EXPECT_EQ(CURLSHE_OK, m_share.ShareCookie());
    EXPECT_EQ(CURLSHE_OK, m_share.UnShareCookie());
    EXPECT_EQ(CURLSHE_OK, m_share.ShareDNS());
    EXPECT_EQ(CURLSHE_OK, m_share.UnShareDNS());
}

TEST_F(CurlShareTest, LockCallbacksRefuseUnknownAccessAndUnbalancedUnlocks) {
    EngineLog log(CURL_LOG_ERROR);
    CurlShare::ShareDataLock(nullptr, CURL_LOCK_DATA_DNS, CURL_LOCK_ACCESS_NONE, &m_share);
    EXPECT_EQ(1u, log.Count("unspuport lock type!"));
    CurlShare::ShareDataUnlock(nullptr, CURL_LOCK_DATA_DNS, &m_share);
    EXPECT_EQ(2u, log.Count("unspuport lock type!"));
    // Kinds outside the locked range are ignored silently.
    CurlShare::ShareDataLock(nullptr, CURL_LOCK_DATA_NONE, CURL_LOCK_ACCESS_SINGLE, &m_share);
    CurlShare::ShareDataUnlock(nullptr, CURL_LOCK_DATA_LAST, &m_share);
    EXPECT_EQ(2u, log.Lines().size());
}

TEST_F(CurlShareTest, ExclusiveLockWaitsForSharedHoldersOnOtherThreads) {
    CurlShare::ShareDataLock(nullptr, CURL_LOCK_DATA_CONNECT, CURL_LOCK_ACCESS_SHARED, &m_share);
    std::promise<void> otherShared;
    std::thread reader([&] {
        // A second shared holder on another thread: both must unlock cleanly.
        CurlShare::ShareDataLock(nullptr, CURL_LOCK_DATA_CONNECT, CURL_LOCK_ACCESS_SHARED,
                                 &m_share);
        otherShared.set_value();
        CurlShare::ShareDataUnlock(nullptr, CURL_LOCK_DATA_CONNECT, &m_share);
    });
    otherShared.get_future().wait();
    reader.join();

    std::promise<void> acquired;
    auto gotIt = acquired.get_future();
    std::thread writer([&] {
        CurlShare::ShareDataLock(nullptr, CURL_LOCK_DATA_CONNECT, CURL_LOCK_ACCESS_SINGLE,
                                 &m_share);
        acquired.set_value();
        CurlShare::ShareDataUnlock(nullptr, CURL_LOCK_DATA_CONNECT, &m_share);
    });
    EXPECT_EQ(std::future_status::timeout, gotIt.wait_for(50ms));
    CurlShare::ShareDataUnlock(nullptr, CURL_LOCK_DATA_CONNECT, &m_share);
    EXPECT_EQ(std::future_status::ready, gotIt.wait_for(kBound));
    writer.join();
}
