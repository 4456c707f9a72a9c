// The file service over the real tree: what a client does, checked against
// the listing and against the folders on disk.

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"

#include <filesystem>
#include <fstream>

namespace emutest {
namespace {

namespace code = zeqemu::code;
namespace fs = std::filesystem;

class FileFlowTest : public EmulatorTest {
protected:
    void SetUp() override { Start(false); }

    fs::path Real(const std::string& relative) const {
        return m_dir.Path() / "files" / "user" / relative;
    }
    void Touch(const std::string& relative, const std::string& text) const {
        fs::create_directories(Real(relative).parent_path());
        std::ofstream(Real(relative)) << text;
    }
    Answer Post(const std::string& path, const Json::Value& body) const {
        return m_client->Post(path, body, {{"category", "user"}});
    }
    Answer MakeDir(const std::string& path) const {
        Json::Value body;
        body["path"] = path;
        body["redundancy"] = 1;
        return Post("filesvc/mkdir", body);
    }
    // Starts a file-service task and waits for it to end; its progress id.
    std::string RunToEnd(const Answer& started) const {
        const auto id = started.json["data"]["progressId"].asString();
        EXPECT_FALSE(id.empty()) << started.text;
        EXPECT_TRUE(Settled(std::stoll(id)));
        return id;
    }
};

TEST_F(FileFlowTest, MakeListRenameDeleteRestore) {
    const auto made = MakeDir("/Trips");
    ASSERT_EQ(made.Code(), 0) << made.text;
    const auto id = made.json["data"]["fid"].asInt64();
    EXPECT_GT(id, 0);
    EXPECT_TRUE(fs::is_directory(Real("Trips")));
    EXPECT_EQ(MakeDir("/Trips").Code(), code::kExists);
    EXPECT_EQ(MakeDir("/No/Parent").Code(), code::kNoSuchFile);

    auto listing = m_client->List("/");
    EXPECT_EQ(listing.json["data"]["parentPath"], "/");
    const auto entry = EntryNamed(listing, "Trips");
    ASSERT_TRUE(entry.isObject()) << listing.text;
    EXPECT_EQ(entry["id"].asInt64(), id);
    EXPECT_EQ(entry["type"].asInt(), 2);

    Json::Value rename;
    rename["oldpath"] = "/Trips";
    rename["newpath"] = "/Journeys";
    // The id in the query must name the same entry.
    EXPECT_EQ(
        m_client->Post("filesvc/rename", rename, {{"category", "user"}, {"id", "999"}}).Code(),
        code::kNoSuchFile);
    const auto renamed = m_client->Post("filesvc/rename", rename,
                                        {{"category", "user"}, {"id", std::to_string(id)}});
    ASSERT_EQ(renamed.Code(), 0) << renamed.text;
    listing = m_client->List("/");
    EXPECT_TRUE(EntryNamed(listing, "Trips").isNull());
    EXPECT_EQ(EntryNamed(listing, "Journeys")["id"].asInt64(), id);

    Json::Value remove;
    remove["srcPath"].append("/Journeys");
    RunToEnd(m_client->Post("filesvc/remove", remove, {{"category", "user"}, {"type", "recycle"}}));
    EXPECT_FALSE(fs::exists(Real("Journeys")));
    const auto bin = m_client->Get("filesvc/recycleFiles",
                                   {{"limit", "10"}, {"offset", "0"}, {"category", "user"}});
    ASSERT_EQ(bin.json["data"]["files"].size(), 1u) << bin.text;
    const auto binned = bin.json["data"]["files"][0];
    EXPECT_EQ(binned["name"], "Journeys");
    EXPECT_EQ(binned["path"], "/Journeys");

    // A name taken meanwhile: the entry comes back beside it, not over it.
    ASSERT_EQ(MakeDir("/Journeys").Code(), 0);
    Json::Value restore;
    restore["action"] = "restore";
    restore["files"].append(binned["rid"]);
    const auto restored = Post("filesvc/recycleDelFiles", restore);
    ASSERT_EQ(restored.Code(), 0) << restored.text;
    const auto progress = m_client->Get(
        "filesvc/recoverProgress",
        {{"progerssId", RunToEnd(restored)}, {"flag", "restore"}, {"category", "user"}});
    EXPECT_EQ(progress.json["data"]["total"].asInt(), 1) << progress.text;
    EXPECT_EQ(progress.json["data"]["proSuccess"].asInt(), 1);
    EXPECT_TRUE(progress.json["data"]["status"].asBool());
    listing = m_client->List("/");
    EXPECT_EQ(EntryNamed(listing, "Journeys (1)")["id"].asInt64(), id) << listing.text;
    EXPECT_EQ(m_client->Get("filesvc/recycleFiles", {{"limit", "10"}, {"offset", "0"}})
                  .json["data"]["count"]
                  .asInt(),
              0);
}

TEST_F(FileFlowTest, ListingPagesSortsAndFilters) {
    Touch("b.txt", "22");
    Touch("a.jpg", "1");
    Touch("c.mp4", "333");
    MakeDir("/z-folder");
    // Folders first, then by name; two pages that neither overlap nor skip.
    const auto first = m_client->List("/", 2, 0);
    EXPECT_EQ(Names(first), (std::vector<std::string>{"z-folder", "a.jpg"}));
    EXPECT_TRUE(first.json["data"]["hasMore"].asBool());
    const auto next = first.json["data"]["offset"].asInt();
    const auto second = m_client->List("/", 2, next);
    EXPECT_EQ(Names(second), (std::vector<std::string>{"b.txt", "c.mp4"}));
    EXPECT_FALSE(second.json["data"]["hasMore"].asBool());

    EXPECT_EQ(Names(m_client->List("/", 10, 0, "sizeDesc")),
              (std::vector<std::string>{"z-folder", "c.mp4", "b.txt", "a.jpg"}));
    EXPECT_EQ(Names(m_client->List("/", 10, 0, "", "DirFilter")),
              (std::vector<std::string>{"z-folder"}));
    EXPECT_EQ(Names(m_client->List("/", 10, 0, "", "image")), (std::vector<std::string>{"a.jpg"}));
    EXPECT_EQ(m_client->List("/", 10, 0, "bogus").status, 400);
    // Ids are stable from one listing to the next.
    EXPECT_EQ(EntryNamed(m_client->List("/"), "b.txt")["id"],
              EntryNamed(m_client->List("/", 10, 0, "timeDesc"), "b.txt")["id"]);
}

TEST_F(FileFlowTest, PathsCannotLeaveTheDataDirectory) {
    for (const auto* path : {"/../outside", "relative", "/a/../../x", "/a\\b"}) {
        EXPECT_EQ(MakeDir(path).Code(), code::kBadPath) << path;
    }
    EXPECT_EQ(m_client->List("/..").Code(), code::kBadPath);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "files" / "outside"));
    EXPECT_FALSE(fs::exists(m_dir.Path() / "outside"));
}

TEST_F(FileFlowTest, AttributesStructureAndDetails) {
    Touch("Docs/a.txt", "hello");
    Touch("Docs/sub/b.txt", "world!");

    Json::Value detail;
    detail["entryId"] = "";
    detail["path"] = "/Docs";
    const auto details = Post("filesvc/detail", detail);
    EXPECT_EQ(details.json["data"]["fileCount"].asInt(), 2) << details.text;
    EXPECT_EQ(details.json["data"]["dirCount"].asInt(), 1);
    EXPECT_EQ(details.json["data"]["size"].asInt(), 11);

    Json::Value redundancy;
    redundancy["attr"] = 2;
    redundancy["path"].append("/Docs");
    redundancy["path"].append("/Missing");
    // One unknown path refuses the whole change.
    EXPECT_EQ(Post("filesvc/redundancy", redundancy).Code(), code::kNoSuchFile);
    EXPECT_EQ(EntryNamed(m_client->List("/"), "Docs")["attr"].asInt(), 1);
    redundancy["path"].resize(1);
    ASSERT_EQ(Post("filesvc/redundancy", redundancy).Code(), 0);
    EXPECT_EQ(EntryNamed(m_client->List("/"), "Docs")["attr"].asInt(), 2);
    const auto stats = m_client->Get("account/userDataStatisInfo");
    EXPECT_EQ(stats.json["doubleUsage"].asInt(), 11) << stats.text;

    Json::Value visibility;
    visibility["attr"] = 0;
    visibility["path"] = "/Docs/a.txt";
    ASSERT_EQ(Post("filesvc/visibility", visibility).Code(), 0);
    EXPECT_EQ(EntryNamed(m_client->List("/Docs"), "a.txt")["visibility"].asInt(), 0);

    Json::Value dirs;
    dirs["parentDir"] = "/Docs";
    dirs["dirs"].append("x/y/z");
    dirs["dirs"].append("a.txt"); // a file is in the way
    dirs["dirs"].append("../escape");
    const auto made = Post("filesvc/createDirs", dirs);
    const auto& errors = made.json["data"]["data"]["errorInfos"];
    ASSERT_EQ(errors.size(), 2u) << made.text;
    EXPECT_EQ(errors[0]["path"], "/Docs/a.txt");
    EXPECT_EQ(errors[1]["err"].asInt64(), code::kBadPath);
    EXPECT_TRUE(fs::is_directory(Real("Docs/x/y/z")));

    const auto all =
        m_client->Get("filesvc/allFiles", {{"limit", "500"}, {"offset", "0"}, {"category", "user"}},
                      {{"Dest-File", EmulatorClient::PercentEncode("/Docs")}});
    std::vector<std::string> relatives;
    for (const auto& f : all.json["data"]["files"]) {
        relatives.push_back(f["relativePath"].asString());
    }
    EXPECT_EQ(relatives,
              (std::vector<std::string>{"a.txt", "sub", "sub/b.txt", "x", "x/y", "x/y/z"}));
    // SHA-256 of "hello".
    EXPECT_EQ(all.json["data"]["files"][0]["hash"],
              "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824");
}

} // namespace
} // namespace emutest
