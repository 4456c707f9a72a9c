// The file service over the real tree: what a client does, checked against
// the listing and against the folders on disk.

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>

namespace emutest {
namespace {

namespace code = zeqemu::code;
namespace fs = std::filesystem;

std::string VirtualParent(const std::string& path) {
    const auto cut = path.rfind('/');
    return cut == 0 ? "/" : path.substr(0, cut);
}

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

// Links planted in the areas, at each depth, lead to a folder outside the
// data directory holding a secret. Whatever a route is asked to do through
// them, nothing outside changes, no reply carries the secret and nothing of
// it lands inside.
struct LinkRoute {
    const char* name;
    // Sends the request with link standing for the linked folder's path.
    std::function<Answer(const EmulatorClient&, const std::string& link)> send;
};

void PrintTo(const LinkRoute& route, std::ostream* os) {
    *os << route.name;
}

constexpr const char* kSecret = "TOP-SECRET-BYTES";

Json::Value Task(const std::string& source, const std::string& destination) {
    Json::Value task;
    task["sPaths"].append(source);
    task["dPath"] = destination;
    Json::Value body;
    body["tasks"].append(task);
    return body;
}

Answer Content(const EmulatorClient& c, const std::string& method, const std::string& path,
               const std::map<std::string, std::string>& headers = {},
               const std::string& body = "") {
    return c.Send(method, "/filesvc/content?path=" + EmulatorClient::PercentEncode(path), headers,
                  body);
}

class LinkTest : public FileFlowTest,
                 public ::testing::WithParamInterface<std::tuple<LinkRoute, const char*>> {
protected:
    void SetUp() override {
        FileFlowTest::SetUp();
        fs::create_directories(m_outside.Path() / "sub");
        std::ofstream(m_outside.Path() / "secret.txt") << kSecret;
        Touch("Docs/plain.txt", "plain");
        Touch("Docs/deep/keep.txt", "keep");
        fs::create_directories(m_dir.Path() / "usb" / "usb1");
        for (const auto* at : {"files/user/out", "files/user/Docs/out", "files/user/Docs/deep/out",
                               "usb/usb1/out"}) {
            fs::create_directory_symlink(m_outside.Path(), m_dir.Path() / at);
        }
        fs::create_symlink(m_outside.Path() / "secret.txt", Real("Docs/secret.txt"));
        m_before = Snapshot(m_outside.Path());
    }
    // Every file below root with its content, links not followed.
    static std::map<std::string, std::string> Snapshot(const fs::path& root) {
        std::map<std::string, std::string> files;
        for (auto it = fs::recursive_directory_iterator(root); it != fs::end(it); ++it) {
            if (it->is_symlink()) {
                files[it->path().string()] = "link";
            } else if (it->is_regular_file()) {
                std::ifstream in(it->path(), std::ios::binary);
                files[it->path().string()] = {std::istreambuf_iterator<char>(in), {}};
            } else {
                files[it->path().string()] = "folder";
            }
        }
        return files;
    }
    TempDir m_outside;
    std::map<std::string, std::string> m_before;
};

TEST_P(LinkTest, NothingLeavesTheDataDirectory) {
    const auto& [route, link] = GetParam();
    const auto answer = route.send(*m_client, link);
    EXPECT_EQ(answer.text.find(kSecret), std::string::npos) << answer.text;
    // Tasks end before the disk is looked at.
    for (const auto& key : {"progressId", "id"}) {
        const auto& data = answer.json["data"];
        const auto& task = data.isMember("tasks") ? data["tasks"][0] : data;
        if (task.isMember(key)) {
            const auto id =
                task[key].isString() ? std::stoll(task[key].asString()) : task[key].asInt64();
            ASSERT_TRUE(Settled(id));
        }
    }
    EXPECT_EQ(Snapshot(m_outside.Path()), m_before);
    for (const auto& [path, content] : Snapshot(m_dir.Path())) {
        EXPECT_EQ(content.find(kSecret), std::string::npos) << path;
    }
    for (const auto* folder : {"/", "/Docs", "/Docs/deep", "/mnt/usb/usb1"}) {
        const auto listing = m_client->List(folder);
        for (const auto& name : Names(listing)) {
            EXPECT_TRUE(name != "out" && name != "secret.txt") << folder << " lists " << name;
        }
        EXPECT_EQ(listing.text.find(kSecret), std::string::npos);
    }
}

const LinkRoute kLinkRoutes[] = {
    {"Read", [](const EmulatorClient& c,
                const std::string& l) { return Content(c, "GET", l + "/secret.txt"); }},
    {"RangedRead",
     [](const EmulatorClient& c, const std::string& l) {
         return Content(c, "GET", l + "/secret.txt", {{"Range", "bytes=2-"}});
     }},
    {"Hash",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Send("GET", "/filesvc/contentHash?length=3&path=" + l + "/secret.txt", {}, "");
     }},
    {"Write",
     [](const EmulatorClient& c, const std::string& l) {
         return Content(c, "PUT", l + "/secret.txt", {}, "overwritten");
     }},
    {"WriteNew",
     [](const EmulatorClient& c, const std::string& l) {
         return Content(c, "PUT", l + "/sub/new.txt", {}, "new");
     }},
    {"MakeDir",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["path"] = l + "/made";
         return c.Post("filesvc/mkdir", body);
     }},
    {"CreateDirs",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["parentDir"] = l;
         body["dirs"].append("a/b");
         return c.Post("filesvc/createDirs", body);
     }},
    {"CreateDirsThroughALink",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["parentDir"] = VirtualParent(l);
         body["dirs"].append("out/a");
         return c.Post("filesvc/createDirs", body);
     }},
    {"RenameOut",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["oldpath"] = l + "/secret.txt";
         body["newpath"] = "/stolen.txt";
         return c.Post("filesvc/rename", body);
     }},
    {"RenameIn",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["oldpath"] = "/Docs/plain.txt";
         body["newpath"] = l + "/planted.txt";
         return c.Post("filesvc/rename", body);
     }},
    {"CopyOut",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Post("trans/copy", Task(l + "/secret.txt", "/Docs"));
     }},
    {"CopyFolderOut",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Post("trans/copy", Task(VirtualParent(l), "/"));
     }},
    {"CopyIn",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Post("trans/copy", Task("/Docs/plain.txt", l));
     }},
    {"MoveOut",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Post("trans/move", Task(l + "/secret.txt", "/Docs"));
     }},
    {"MoveIn",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Post("trans/move", Task("/Docs/plain.txt", l));
     }},
    {"Recycle",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["srcPath"].append(l + "/secret.txt");
         return c.Post("filesvc/remove", body, {{"type", "recycle"}});
     }},
    {"DeleteForever",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["srcPath"].append(l + "/sub");
         return c.Post("filesvc/remove", body, {{"type", "force"}});
     }},
    {"DeleteTheLink",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["srcPath"].append(l);
         return c.Post("filesvc/remove", body, {{"type", "force"}});
     }},
    {"List", [](const EmulatorClient& c, const std::string& l) { return c.List(l); }},
    {"AllFiles",
     [](const EmulatorClient& c, const std::string& l) {
         return c.Get("filesvc/allFiles", {{"limit", "500"}, {"offset", "0"}},
                      {{"Dest-File", EmulatorClient::PercentEncode(VirtualParent(l))}});
     }},
    {"Detail",
     [](const EmulatorClient& c, const std::string& l) {
         Json::Value body;
         body["entryId"] = "";
         body["path"] = l;
         return c.Post("filesvc/detail", body);
     }},
};

INSTANTIATE_TEST_SUITE_P(EveryRouteAndDepth, LinkTest,
                         ::testing::Combine(::testing::ValuesIn(kLinkRoutes),
                                            ::testing::Values("/out", "/Docs/out", "/Docs/deep/out",
                                                              "/mnt/usb/usb1/out", "/Docs")),
                         [](const ::testing::TestParamInfo<LinkTest::ParamType>& info) {
                             std::string depth = std::get<1>(info.param);
                             for (auto& c : depth) {
                                 c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             }
                             return std::string(std::get<0>(info.param).name) + depth;
                         });

TEST_F(FileFlowTest, IntegersOutOfRangeAndNamesThatAreNotUtf8AreRefused) {
    Touch("Docs/a.txt", "a");
    // 2^32 + 2 and 2^32 would pass as 2 and 0 if cut to 32 bits.
    const std::vector<std::pair<std::string, std::string>> bodies = {
        {"filesvc/mkdir", R"({"path":"/Big","redundancy":4294967298})"},
        {"filesvc/visibility", R"({"path":"/Docs","attr":4294967296})"},
        {"filesvc/redundancy", R"({"path":["/Docs"],"attr":4294967298})"},
        {"gallery/addAlbum", R"({"albumName":"x","albumType":4294967297})"},
        {"filesvc/mkdir", "{\"path\":\"/bad\xff\"}"},
        {"filesvc/mkdir", "{\"path\":\"/half\xc3\"}"},
        {"filesvc/rename", "{\"oldpath\":\"/Docs/a.txt\",\"newpath\":\"/Docs/\xed\xa0\x80\"}"},
    };
    for (const auto& [path, body] : bodies) {
        const auto answer = m_client->PostText(path, body, {{"category", "user"}});
        EXPECT_EQ(answer.status, 400) << path << " " << body << ": " << answer.text;
    }
    EXPECT_EQ(m_client->Send("PUT", "/filesvc/content?path=/Docs/%ff.txt", {}, "x").status, 400);
    EXPECT_EQ(Names(m_client->List("/")), (std::vector<std::string>{"Docs"}));
    EXPECT_EQ(Names(m_client->List("/Docs")), (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(EntryNamed(m_client->List("/"), "Docs")["visibility"].asInt(), 1);
    EXPECT_EQ(EntryNamed(m_client->List("/"), "Docs")["attr"].asInt(), 1);
}

// A root holds everything: deleting one is refused up front, in either
// category and on the USB area, and the content stays listed.
TEST_F(FileFlowTest, RootsCannotBeDeleted) {
    Touch("kept.txt", "u");
    fs::create_directories(m_dir.Path() / "files" / "public");
    std::ofstream(m_dir.Path() / "files" / "public" / "shared.txt") << "p";
    fs::create_directories(m_dir.Path() / "usb" / "usb1");
    for (const auto& [category, root] : std::vector<std::pair<std::string, std::string>>{
             {"user", "/"}, {"public", "/"}, {"user", "/mnt/usb"}, {"user", "/mnt/usb/"}}) {
        for (const auto* type : {"recycle", "force"}) {
            Json::Value remove;
            remove["srcPath"].append(root);
            const auto answer =
                m_client->Post("filesvc/remove", remove, {{"category", category}, {"type", type}});
            EXPECT_EQ(answer.Code(), code::kBadPath) << category << " " << root << " " << type;
        }
    }
    EXPECT_EQ(Names(m_client->List("/")), (std::vector<std::string>{"kept.txt"}));
    EXPECT_EQ(EntryNamed(m_client->List("/mnt/usb"), "usb1")["type"].asInt(), 3);
    EXPECT_TRUE(fs::exists(m_dir.Path() / "files" / "public" / "shared.txt"));
    EXPECT_EQ(m_client->Get("filesvc/recycleFiles", {{"limit", "10"}, {"offset", "0"}})
                  .json["data"]["count"]
                  .asInt(),
              0);
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
    // Under the root, "/mnt/usb/..." names the USB area: not under the parent.
    fs::create_directories(m_dir.Path() / "usb" / "usb1");
    Json::Value usb;
    usb["parentDir"] = "/";
    usb["dirs"].append("/mnt/usb/usb1/x");
    const auto refused = Post("filesvc/createDirs", usb);
    ASSERT_EQ(refused.json["data"]["data"]["errorInfos"].size(), 1u) << refused.text;
    EXPECT_EQ(refused.json["data"]["data"]["errorInfos"][0]["err"].asInt64(), code::kBadPath);
    EXPECT_FALSE(fs::exists(m_dir.Path() / "usb" / "usb1" / "x"));
    EXPECT_TRUE(EntryNamed(m_client->List("/"), "mnt").isNull());

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
