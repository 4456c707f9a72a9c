// What every request goes through before a handler runs: credentials,
// routing, capability gating, body parsing and size, field validation.

#include "EmulatorFixture.h"
#include "RawTlsClient.h"

#include "emulator/ErrorCodes.h"

#include <atomic>
#include <cctype>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>

namespace emutest {
namespace {

namespace code = zeqemu::code;

class RequestGuardTest : public EmulatorTest {
protected:
    void SetUp() override { Start(false); }

    Answer MakeDir(const std::string& path) const {
        Json::Value body;
        body["path"] = path;
        body["redundancy"] = 1;
        return m_client->Post("filesvc/mkdir", body, {{"category", "user"}});
    }
};

TEST_F(RequestGuardTest, WrongCredentialsGet401AndChangeNothing) {
    const std::vector<std::pair<std::string, std::string>> wrong = {
        {"test-cookie", "not-the-token"},
        {"not-the-cookie", "test-token"},
        {"", ""},
        {"test-cookie", "test-token-but-longer"},
    };
    for (const auto& [cookie, token] : wrong) {
        m_client->SetCredentials(cookie, token);
        const auto answer = MakeDir("/Intruder");
        EXPECT_EQ(answer.status, 401) << cookie << " / " << token;
        EXPECT_EQ(answer.Code(), code::kUnauthorized);
        EXPECT_FALSE(answer.json["des"].asString().empty());
    }
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "files" / "user" / "Intruder"));

    // The credentials may sit among other cookie pairs, as browsers send them.
    m_client->SetCredentials("test-cookie", "test-token");
    EXPECT_EQ(m_client
                  ->Send("GET", "/api/app/usersamba?clientType=3&deviceId=d",
                         {{"Cookie", "lang=en; ID=test-cookie; theme=dark"}}, "")
                  .status,
              200);
    EXPECT_EQ(m_client
                  ->Send("GET", "/api/app/usersamba?clientType=3&deviceId=d",
                         {{"Cookie", "XID=test-cookie"}}, "")
                  .status,
              401);
}

TEST_F(RequestGuardTest, UnknownPathsAndMethods) {
    EXPECT_EQ(m_client->Get("gallery/noSuchThing").status, 404);
    EXPECT_EQ(m_client->Get("gallery/noSuchThing").Code(), code::kUnknownPath);
    // A known path asked with the wrong method.
    EXPECT_EQ(m_client->Get("gallery/addAlbum").status, 405);
    EXPECT_EQ(m_client->Send("PUT", "/gallery/addAlbum", {}, "{}").status, 405);
    // Paths are matched whole: no prefix or trailing-slash leniency.
    EXPECT_EQ(m_client->Post("gallery/addAlbum/", Json::Value(Json::objectValue)).status, 404);
}

TEST_F(RequestGuardTest, MalformedBodiesAreRefusedWithAJsonCode) {
    const std::vector<std::string> bodies = {
        "",
        "{",
        "[1,2]",
        "\"text\"",
        "{\"albumName\":\"a\",}",
        "{\"a\":1} trailing",
        "{\"albumName\":\"x\",\"albumName\":\"y\",\"albumType\":1}",
        std::string(200, '['),
    };
    for (const auto& body : bodies) {
        const auto answer = m_client->PostText("gallery/addAlbum", body);
        EXPECT_EQ(answer.status, 400) << body;
        EXPECT_EQ(answer.Code(), code::kBadJson) << body;
        EXPECT_FALSE(answer.json["des"].asString().empty()) << body;
    }
}

TEST_F(RequestGuardTest, GetsWithoutClientIdsAreRefused) {
    const auto answer = m_client->Send("GET", "/filesvc/usbStatus?clientType=3", {}, "");
    EXPECT_EQ(answer.status, 400);
    EXPECT_EQ(answer.Code(), code::kMissingField);
    EXPECT_NE(answer.json["des"].asString().find("deviceId"), std::string::npos);
    EXPECT_EQ(m_client->Send("GET", "/filesvc/usbStatus?clientType=x&deviceId=d", {}, "").Code(),
              code::kBadField);
}

TEST_F(RequestGuardTest, OversizeBodiesAreRefusedBeforeTheHandler) {
    Json::Value body;
    body["albumName"] = std::string(2 * 1024 * 1024, 'a');
    body["albumType"] = 1;
    const auto answer = m_client->Post("gallery/addAlbum", body);
    EXPECT_EQ(answer.status, 413);
    EXPECT_EQ(answer.Code(), code::kTooLarge);
    const auto albums = m_client->Get("gallery/getAlbumList", {{"albumType", "1"}});
    EXPECT_EQ(albums.json["albumlist"].size(), 0u);
}

constexpr std::chrono::seconds kReplyBound{10};

// A request head as a raw client sends it; the credentials are the test's
// unless a token is given.
std::string Head(const std::string& requestLine, const std::string& headers,
                 const std::string& token = "test-token") {
    return requestLine +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: ID=test-cookie\r\nToken: " + token + "\r\n" +
           headers + "\r\n";
}

std::string Chunk(const std::string& bytes) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", bytes.size());
    return size + bytes + "\r\n";
}

struct BodyCase {
    const char* name;
    std::string head;
    int status;
    std::size_t bodyBytes; // sent after the head, as 64 KiB chunks; none when 0
};

class BodyLimitTest : public RequestGuardTest, public ::testing::WithParamInterface<BodyCase> {};

// The answer must come before the body ends (it never does here): a refusal
// that waited for the whole body would let anyone fill the device's memory.
TEST_P(BodyLimitTest, RefusedBeforeTheBodyEnds) {
    const auto& c = GetParam();
    RawTlsClient client(m_emulator->Port(), kReplyBound);
    ASSERT_TRUE(client.Ok());
    ASSERT_TRUE(client.Send(c.head));
    const std::string chunk(64 * 1024, 'a');
    for (std::size_t sent = 0; sent < c.bodyBytes; sent += chunk.size()) {
        if (!client.Send(Chunk(chunk))) {
            break; // refused and closed while sending: the reply is already waiting
        }
    }
    const auto reply = client.ReadReply(kReplyBound);
    ASSERT_TRUE(reply.has_value()) << "no answer while the body was still open";
    EXPECT_EQ(reply->status, c.status) << reply->head;
    EXPECT_FALSE(std::filesystem::exists(m_dir.Path() / "files" / "user" / "big.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, BodyLimitTest,
    ::testing::Values(
        BodyCase{
            "UnauthenticatedHugeLength",
            Head("PUT /filesvc/content?path=/big.bin", "Content-Length: 629145600\r\n", "wrong"),
            401, 0},
        BodyCase{
            "UnauthenticatedChunked",
            Head("PUT /filesvc/content?path=/big.bin", "Transfer-Encoding: chunked\r\n", "wrong"),
            401, 0},
        BodyCase{"UnauthenticatedJson",
                 Head("POST /gallery/addAlbum", "Content-Length: 100000\r\n", "wrong"), 401, 0},
        BodyCase{"UploadLengthOverTheLimit",
                 Head("PUT /filesvc/content?path=/big.bin", "Content-Length: 2097152\r\n"), 413, 0},
        BodyCase{"ChunkedUploadOverTheLimit",
                 Head("PUT /filesvc/content?path=/big.bin", "Transfer-Encoding: chunked\r\n"), 413,
                 1536 * 1024},
        BodyCase{"ChunkedJsonOverTheLimit",
                 Head("POST /gallery/addAlbum", "Transfer-Encoding: chunked\r\n"), 413,
                 1536 * 1024}),
    [](const ::testing::TestParamInfo<BodyCase>& info) { return std::string(info.param.name); });

// Clients that send their headers a byte at a time hold a connection each,
// never a worker: the device keeps answering everyone else, and cuts the
// slow ones off at the header deadline.
TEST_F(RequestGuardTest, SlowHeadersStarveNoOne) {
    auto options = TestOptions(m_dir.Path(), false);
    options.headerTimeout = std::chrono::seconds(4);
    m_client.reset();
    m_emulator.reset();
    Start(options);
    constexpr int kSlow = 64;
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    std::atomic<int> cutOff{0};
    // Ends the slow clients however the test ends.
    struct Threads {
        int stop = ::eventfd(0, EFD_CLOEXEC);
        std::vector<std::thread> list;
        ~Threads() {
            const std::uint64_t one = 1;
            (void)!::write(stop, &one, sizeof one);
            for (auto& thread : list) {
                thread.join();
            }
            ::close(stop);
        }
    } slow;
    const auto port = m_emulator->Port();
    for (int i = 0; i < kSlow; ++i) {
        slow.list.emplace_back([&] {
            RawTlsClient client(port, std::chrono::seconds(5));
            bool sent = client.Ok() && client.Send("G");
            {
                std::lock_guard lock(mutex);
                ++started;
            }
            changed.notify_all();
            const std::string rest = "ET /filesvc/usbStatus HTTP/1.1\r\n";
            for (std::size_t next = 0; sent && next < rest.size(); ++next) {
                // One byte every 2 s, unless the server hangs up first.
                if (client.WaitClosed(std::chrono::seconds(2), slow.stop)) {
                    ++cutOff;
                    return;
                }
                pollfd stopped{slow.stop, POLLIN, 0};
                if (::poll(&stopped, 1, 0) > 0) {
                    return;
                }
                sent = client.Send(rest.substr(next, 1));
            }
            if (!sent && client.Ok()) {
                ++cutOff;
            }
        });
    }
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(
            changed.wait_for(lock, std::chrono::seconds(60), [&] { return started == kSlow; }));
    }
    for (int i = 0; i < 5; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        RawTlsClient client(port, kReplyBound);
        ASSERT_TRUE(client.Send(Head("GET /filesvc/usbStatus?clientType=3&deviceId=d", "")));
        const auto reply = client.ReadReply(kReplyBound);
        const auto took = std::chrono::steady_clock::now() - begin;
        ASSERT_TRUE(reply.has_value()) << "request " << i << " got no answer";
        EXPECT_EQ(reply->status, 200);
        EXPECT_LT(took, std::chrono::seconds(1)) << "request " << i;
    }
    for (auto& thread : slow.list) {
        thread.join();
    }
    slow.list.clear();
    EXPECT_EQ(cutOff.load(), kSlow) << "every slow client is cut off at the header deadline";
}

// One case per operation: the body lacks a field that the operation needs,
// or holds it with the wrong JSON type.
struct FieldCase {
    const char* path;
    const char* body;
    std::int64_t code;
    const char* field;
};

void PrintTo(const FieldCase& c, std::ostream* os) {
    *os << c.path << " " << c.body;
}

class FieldValidationTest : public RequestGuardTest,
                            public ::testing::WithParamInterface<FieldCase> {};

TEST_P(FieldValidationTest, RefusedWithTheFieldNamed) {
    const auto& c = GetParam();
    const auto answer = m_client->PostText(c.path, c.body, {{"category", "user"}});
    EXPECT_EQ(answer.status, 400) << answer.text;
    EXPECT_EQ(answer.Code(), c.code) << answer.text;
    EXPECT_NE(answer.json["des"].asString().find(c.field), std::string::npos) << answer.text;
    // The file service reads its text from "desc".
    EXPECT_EQ(answer.json["desc"], answer.json["des"]);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, FieldValidationTest,
    ::testing::Values(
        FieldCase{"gallery/addAlbum", R"({"albumType":1})", code::kMissingField, "albumName"},
        FieldCase{"gallery/addAlbum", R"({"albumName":"a","albumType":"1"})", code::kBadField,
                  "albumType"},
        FieldCase{"gallery/addAlbumMemb", R"({"albumId":1,"albumType":1,"membs":[{"id":3}]})",
                  code::kMissingField, "fileId"},
        FieldCase{"gallery/delFile", R"({"membs":{"fileId":1}})", code::kBadField, "membs"},
        FieldCase{"gallery/queryBin", R"({"offset":0})", code::kMissingField, "num"},
        FieldCase{"filesvc/mkdir", R"({"redundancy":1})", code::kMissingField, "path"},
        FieldCase{"filesvc/rename", R"({"oldpath":"/a","newpath":7})", code::kBadField, "newpath"},
        FieldCase{"filesvc/remove", R"({"srcPath":["/a",3]})", code::kBadField, "srcPath"},
        FieldCase{"trans/copy", R"({"tasks":[{"sPaths":["/a"]}]})", code::kMissingField, "dPath"},
        FieldCase{"trans/getTaskStatus", R"({"category":"user"})", code::kMissingField, "taskId"},
        FieldCase{"gallery/cancelRecord", R"({"taskIdList":[1.5]})", code::kBadField, "taskIdList"},
        FieldCase{"filesvc/createDirs", R"({"dirs":["a"]})", code::kMissingField, "parentDir"}),
    [](const ::testing::TestParamInfo<FieldCase>& info) {
        std::string name = info.param.path;
        for (auto& c : name) {
            c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        }
        return name + "_" + info.param.field + "_" + std::to_string(info.index);
    });

} // namespace
} // namespace emutest
