// What every request goes through before a handler runs: credentials,
// routing, capability gating, body parsing and size, field validation.

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"

#include <cctype>
#include <filesystem>

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
