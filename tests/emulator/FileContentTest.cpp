// A file's bytes through filesvc/content: ranged reads for resumed downloads
// and appending writes for resumed uploads, checked against the disk.

#include "EmulatorFixture.h"
#include "RawTlsClient.h"

#include "emulator/ErrorCodes.h"

#include <openssl/evp.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace emutest {
namespace {

namespace code = zeqemu::code;
namespace fs = std::filesystem;

class FileContentTest : public EmulatorTest {
protected:
    void SetUp() override { Start(false); }

    fs::path Real(const std::string& relative) const {
        return m_dir.Path() / "files" / "user" / relative;
    }
    std::string OnDisk(const std::string& relative) const {
        std::ifstream in(Real(relative), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Target(const std::string& path) {
        return "/filesvc/content?path=" + EmulatorClient::PercentEncode(path);
    }
    Answer Read(const std::string& path, const std::string& range = "",
                const std::string& ifRange = "") const {
        std::map<std::string, std::string> headers;
        if (!range.empty()) {
            headers["Range"] = range;
        }
        if (!ifRange.empty()) {
            headers["If-Range"] = ifRange;
        }
        return m_client->Send("GET", Target(path), headers, "");
    }
    Answer Hash(const std::string& path, const std::string& length) const {
        return m_client->Send("GET",
                              "/filesvc/contentHash?path=" + EmulatorClient::PercentEncode(path) +
                                  "&length=" + length,
                              {}, "");
    }
    Answer Write(const std::string& method, const std::string& path, const std::string& bytes,
                 const std::string& contentRange = "") const {
        std::map<std::string, std::string> headers;
        if (!contentRange.empty()) {
            headers["Content-Range"] = contentRange;
        }
        return m_client->Send(method, Target(path), headers, bytes);
    }
};

// Every byte value, so that no text handling on the way goes unnoticed.
std::string Binary(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 256) % 256);
    }
    return bytes;
}

TEST_F(FileContentTest, ReadsWholeOrFromAnOffset) {
    const auto bytes = Binary(5000);
    fs::create_directories(Real("Docs"));
    std::ofstream(Real("Docs/a b.bin"), std::ios::binary) << bytes;

    const auto whole = Read("/Docs/a b.bin");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.text, bytes);

    const auto tail = Read("/Docs/a b.bin", "bytes=1200-");
    EXPECT_EQ(tail.status, 206);
    EXPECT_EQ(tail.contentRange, "bytes 1200-4999/5000");
    EXPECT_EQ(tail.text, bytes.substr(1200));

    const auto middle = Read("/Docs/a b.bin", "bytes=10-19");
    EXPECT_EQ(middle.status, 206);
    EXPECT_EQ(middle.text, bytes.substr(10, 10));

    // At the end: nothing left, and the size tells a finished download apart.
    const auto past = Read("/Docs/a b.bin", "bytes=5000-");
    EXPECT_EQ(past.status, 416);
    EXPECT_EQ(past.contentRange, "bytes */5000");
    EXPECT_EQ(Read("/Docs/a b.bin", "bytes=-100").status, 416);
}

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < size; ++i) {
        text += kDigits[digest[i] >> 4];
        text += kDigits[digest[i] & 0x0f];
    }
    return text;
}

TEST_F(FileContentTest, IfRangeGivesTheRangeOnlyOfTheSameVersion) {
    fs::create_directories(Real("Docs"));
    std::ofstream(Real("Docs/v.bin"), std::ios::binary) << Binary(3000);
    const auto first = Read("/Docs/v.bin", "bytes=100-");
    ASSERT_EQ(first.status, 206);
    ASSERT_EQ(first.etag.front(), '"') << "a strong entity tag: " << first.etag;
    EXPECT_EQ(first.etag, Read("/Docs/v.bin").etag);
    EXPECT_NE(first.lastModified.find(" GMT"), std::string::npos) << first.lastModified;

    EXPECT_EQ(Read("/Docs/v.bin", "bytes=100-", first.etag).status, 206);
    EXPECT_EQ(Read("/Docs/v.bin", "bytes=100-", first.lastModified).status, 206);
    EXPECT_EQ(Read("/Docs/v.bin", "bytes=100-", "W/" + first.etag).status, 200);

    // Same size, new content: a resumed download must not splice the two.
    const auto changed = Binary(3001).substr(1);
    ASSERT_EQ(Write("PUT", "/Docs/v.bin", changed).Code(), 0);
    const auto whole = Read("/Docs/v.bin", "bytes=100-", first.etag);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.text, changed);
    EXPECT_NE(whole.etag, first.etag);
    EXPECT_EQ(Read("/Docs/v.bin", "bytes=100-", "Thu, 01 Jan 1970 00:00:00 GMT").status, 200);
}

TEST_F(FileContentTest, ContentHashCoversAPrefix) {
    const auto bytes = Binary(5000);
    fs::create_directories(Real("Up"));
    ASSERT_EQ(Write("PUT", "/Up/part.bin", bytes).Code(), 0);
    const auto etag = Read("/Up/part.bin").etag;
    for (const std::size_t length : {std::size_t{0}, std::size_t{1234}, bytes.size()}) {
        const auto answer = Hash("/Up/part.bin", std::to_string(length));
        ASSERT_EQ(answer.Code(), 0) << answer.text;
        EXPECT_EQ(answer.json["sha256"], Sha256Hex(bytes.substr(0, length))) << length;
        EXPECT_EQ(answer.json["size"].asInt64(), 5000);
        EXPECT_EQ(answer.json["etag"], etag);
    }
    const auto beyond = Hash("/Up/part.bin", "5001");
    EXPECT_EQ(beyond.status, 416);
    EXPECT_EQ(beyond.Code(), code::kBadField);
    for (const auto* length : {"-1", "x", ""}) {
        EXPECT_EQ(Hash("/Up/part.bin", length).status, 400) << length;
    }
    EXPECT_EQ(Hash("/Up", "0").Code(), code::kBadPath);
    EXPECT_EQ(Hash("/Up/none.bin", "0").status, 404);
}

// A line of /proc/self/status ("VmRSS", "VmHWM") in bytes.
std::int64_t StatusBytes(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(key + ":", 0) == 0) {
            return std::stoll(line.substr(key.size() + 1)) * 1024;
        }
    }
    return -1;
}

// How far the process's peak memory rose above where it stood while run ran.
template <typename F> std::int64_t PeakGrowth(F&& run) {
    std::ofstream("/proc/self/clear_refs") << "5"; // the peak restarts from here
    const auto before = StatusBytes("VmRSS");
    run();
    return StatusBytes("VmHWM") - before;
}

TEST_F(FileContentTest, LargeFilesStreamThroughBoundedMemory) {
    constexpr std::int64_t kGiB = 1024 * 1024 * 1024;
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's quarantine keeps freed blocks (TLS records among
    // them) resident for a while: its peak says less about buffering.
    constexpr std::int64_t kBound = 64 * 1024 * 1024;
#else
    constexpr std::int64_t kBound = 16 * 1024 * 1024;
#endif
    auto options = TestOptions(m_dir.Path(), false);
    options.maxBodyBytes = 512 * 1024 * 1024;
    m_client.reset();
    m_emulator.reset();
    Start(options);
    fs::create_directories(Real("Big"));
    {
        const int fd = ::open(Real("Big/sparse.bin").c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_EQ(::ftruncate(fd, kGiB), 0);
        ::close(fd);
    }
    const auto head = [](const std::string& line, const std::string& headers) {
        return line +
               " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: ID=test-cookie\r\n"
               "Token: test-token\r\n" +
               headers + "\r\n";
    };
    struct RangeCase {
        std::string range;
        std::int64_t bytes;
    };
    const std::vector<RangeCase> ranges = {{"bytes=0-0", 1},
                                           {"bytes=536870912-537919487", 1024 * 1024},
                                           {"bytes=1073741823-", 1},
                                           {"", kGiB}};
    for (const auto& c : ranges) {
        const auto growth = PeakGrowth([&] {
            RawTlsClient client(m_emulator->Port(), std::chrono::seconds(30));
            ASSERT_TRUE(client.Send(head("GET /filesvc/content?path=/Big/sparse.bin",
                                         c.range.empty() ? "" : "Range: " + c.range + "\r\n")));
            const auto reply = client.ReadReply(std::chrono::minutes(5), 0);
            ASSERT_TRUE(reply.has_value());
            EXPECT_EQ(reply->status, c.range.empty() ? 200 : 206);
            EXPECT_EQ(static_cast<std::int64_t>(reply->bodyBytes), c.bytes);
        });
        EXPECT_LT(growth, kBound) << "reading " << (c.range.empty() ? "all" : c.range);
    }

    // An upload goes to disk as it arrives.
    constexpr std::int64_t kUpload = 128 * 1024 * 1024;
    const auto growth = PeakGrowth([&] {
        RawTlsClient client(m_emulator->Port(), std::chrono::seconds(30));
        ASSERT_TRUE(client.Send(
            head("PUT /filesvc/content?path=/Big/up.bin", "Transfer-Encoding: chunked\r\n")));
        const std::string chunk = "40000\r\n" + std::string(0x40000, 'u') + "\r\n";
        for (std::int64_t sent = 0; sent < kUpload; sent += 0x40000) {
            ASSERT_TRUE(client.Send(chunk));
        }
        ASSERT_TRUE(client.Send("0\r\n\r\n"));
        const auto reply = client.ReadReply(std::chrono::minutes(5));
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->status, 200) << reply->body;
    });
    EXPECT_LT(growth, kBound) << "uploading";
    EXPECT_EQ(static_cast<std::int64_t>(fs::file_size(Real("Big/up.bin"))), kUpload);
}

TEST_F(FileContentTest, ReadRefusals) {
    fs::create_directories(Real("Docs"));
    // Plain downloaders see the refusal in the status, not only in the envelope.
    const auto missing = Read("/Docs/missing.bin");
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.Code(), code::kNoSuchFile);
    const auto folder = Read("/Docs");
    EXPECT_EQ(folder.status, 400);
    EXPECT_EQ(folder.Code(), code::kBadPath);
    // A refusal stays whole JSON even when a range was asked for.
    const auto refused = Read("/Docs/missing.bin", "bytes=3-");
    EXPECT_EQ(refused.Code(), code::kNoSuchFile) << refused.text;

    m_client->SetCredentials("test-cookie", "wrong");
    EXPECT_EQ(Read("/Docs/missing.bin").status, 401);
}

TEST_F(FileContentTest, WritesAndResumesAnUpload) {
    const auto bytes = Binary(3000);
    fs::create_directories(Real("Up"));
    for (const auto* method : {"POST", "PUT"}) {
        const auto first = Write(method, "/Up/f.bin", bytes.substr(0, 1000));
        ASSERT_EQ(first.Code(), 0) << first.text;
        EXPECT_EQ(first.json["data"]["size"].asInt64(), 1000);
        const auto rest = Write(method, "/Up/f.bin", bytes.substr(1000), "bytes 1000-2999/3000");
        ASSERT_EQ(rest.Code(), 0) << rest.text;
        EXPECT_EQ(rest.json["data"]["size"].asInt64(), 3000);
        EXPECT_EQ(OnDisk("Up/f.bin"), bytes) << method;
    }
    // The new file is listed like any other.
    EXPECT_TRUE(EntryNamed(m_client->List("/Up"), "f.bin").isObject());

    // A write without a range replaces the file.
    ASSERT_EQ(Write("POST", "/Up/f.bin", "short").Code(), 0);
    EXPECT_EQ(OnDisk("Up/f.bin"), "short");
}

TEST_F(FileContentTest, WriteRefusalsLeaveTheFileAlone) {
    fs::create_directories(Real("Up"));
    ASSERT_EQ(Write("POST", "/Up/f.bin", "12345").Code(), 0);

    // Resuming from anything but the stored size would leave a gap or an overlap.
    const auto gap = Write("POST", "/Up/f.bin", "xyz", "bytes 7-9/10");
    EXPECT_EQ(gap.status, 409);
    EXPECT_NE(gap.text.find("holds 5 bytes"), std::string::npos) << gap.text;
    EXPECT_EQ(Write("POST", "/Up/f.bin", "xyz", "bytes 3-5/6").status, 409);
    // The announced range must match the body.
    EXPECT_EQ(Write("POST", "/Up/f.bin", "xyz", "bytes 5-9/10").status, 400);
    EXPECT_EQ(Write("POST", "/Up/f.bin", "xyz", "items 5-7/8").status, 400);
    // One past what int64 holds: refused, not overflowed.
    EXPECT_EQ(Write("POST", "/Up/f.bin", "xyz", "bytes 0-9223372036854775807/*").status, 400);
    EXPECT_EQ(Write("POST", "/Up/f.bin", "xyz", "bytes 5-9223372036854775808/*").status, 400);
    EXPECT_EQ(OnDisk("Up/f.bin"), "12345");

    const auto folder = Write("POST", "/Up", "x");
    EXPECT_EQ(folder.status, 400);
    EXPECT_EQ(folder.Code(), code::kBadPath);
    const auto nowhere = Write("POST", "/Nowhere/f.bin", "x");
    EXPECT_EQ(nowhere.status, 404);
    EXPECT_EQ(nowhere.Code(), code::kNoSuchFile);
    EXPECT_FALSE(fs::exists(Real("Nowhere")));
}

} // namespace
} // namespace emutest
