#include "ToolFixture.h"

#include <algorithm>

namespace zeqctltest {
namespace {

using ZeqctlPhotos = ToolTest;
using ZeqctlFiles = ToolTest;

std::vector<std::int64_t> Ids(const Json::Value& list, const char* key = "fileId") {
    std::vector<std::int64_t> ids;
    for (const auto& element : list) {
        ids.push_back(element[key].asInt64());
    }
    return ids;
}

TEST_F(ZeqctlPhotos, PagesFollowEachOtherWithoutGapOrOverlap) {
    const auto first = Json({"photos", "ls", "--limit", "5"});
    ASSERT_EQ(first["photos"].size(), 5u);
    EXPECT_TRUE(first["hasMore"].asBool());
    const auto next = std::to_string(first["next"].asInt64());
    const auto second = Json({"photos", "ls", "--after", next, "--limit", "5"});
    const auto a = Ids(first["photos"]);
    const auto b = Ids(second["photos"]);
    ASSERT_EQ(b.size(), 5u);
    EXPECT_EQ(a.back(), first["next"].asInt64());
    EXPECT_GT(b.front(), a.back());

    // The seed holds 36 files, two of them in the bin: one long page ends it.
    const auto all = Json({"photos", "ls", "--limit", "1000"});
    EXPECT_EQ(all["photos"].size(), 34u);
    EXPECT_FALSE(all["hasMore"].asBool());
}

TEST_F(ZeqctlPhotos, CommentDeleteRestoreAndEmptyTheBin) {
    Json({"photos", "comment", "4", "sunset at the pier"});
    const auto shown = Json({"photos", "show", "4"});
    EXPECT_EQ(shown["photos"][0]["comment"].asString(), "sunset at the pier");
    const auto missing = Device({"photos", "show", "9999"});
    EXPECT_EQ(missing.exitCode, 1);

    const auto before = Json({"photos", "changes"})["lastRowId"].asInt64();
    Json({"photos", "rm", "4"});
    const auto changes = Json({"photos", "changes", "--since", std::to_string(before)});
    EXPECT_EQ(Ids(changes["changes"]), std::vector<std::int64_t>{4});

    auto bin = Ids(Json({"photos", "bin", "ls"})["files"]);
    EXPECT_NE(std::find(bin.begin(), bin.end(), 4), bin.end());
    Json({"photos", "bin", "restore", "4"});
    bin = Ids(Json({"photos", "bin", "ls"})["files"]);
    EXPECT_EQ(std::find(bin.begin(), bin.end(), 4), bin.end());

    const auto task = Json({"photos", "rm", "5", "--async", "--wait"});
    EXPECT_EQ(task["task"]["state"].asString(), "done");
    Json({"photos", "bin", "empty"});
    EXPECT_EQ(Json({"photos", "bin", "ls"})["files"].size(), 0u);
}

TEST_F(ZeqctlFiles, ListingSortsAndPages) {
    const auto byName = Json({"files", "ls", "/"});
    EXPECT_EQ(EntryNames(byName), (std::vector<std::string>{"Documents/", "Empty folder/", "Music/",
                                                            "Photos/", "Videos/"}));
    const auto reversed = Json({"files", "ls", "/", "--sort", "nameDesc"});
    EXPECT_EQ(EntryNames(reversed).front(), "Videos/");

    const auto page = Json({"files", "ls", "/", "--limit", "2", "--offset", "2"});
    EXPECT_EQ(EntryNames(page), (std::vector<std::string>{"Music/", "Photos/"}));
    EXPECT_TRUE(page["hasMore"].asBool());

    const auto missing = Device({"files", "ls", "/No such folder"});
    EXPECT_EQ(missing.exitCode, 1);
    EXPECT_NE(missing.err.find("40401"), std::string::npos) << missing.err;
}

TEST_F(ZeqctlFiles, FolderChangesCopiesAndTheRecycleBin) {
    Json({"files", "mkdir", "/Projects"});
    const auto again = Device({"files", "mkdir", "/Projects"});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already exists"), std::string::npos) << again.err;
    Json({"files", "mkdirs", "/Projects", "2024/May", "Drafts"});
    Json({"files", "rename", "/Projects/Drafts", "Ideas"});
    EXPECT_EQ(EntryNames(Json({"files", "ls", "/Projects"})),
              (std::vector<std::string>{"2024/", "Ideas/"}));

    const auto copy =
        Json({"files", "cp", "/Documents/notes.txt", "/Music", "/Projects", "--wait"});
    EXPECT_EQ(copy["task"]["state"].asString(), "done") << copy;
    EXPECT_EQ(copy["task"]["family"].asString(), "trans");
    Json({"files", "mv", "/Projects/notes.txt", "/Projects/Ideas", "--wait"});
    const auto stat = Json({"files", "stat", "/Projects"});
    // notes.txt (moved into Ideas) and the copied Music folder's track.
    EXPECT_EQ(stat["fileCount"].asInt64(), 2) << stat;
    EXPECT_EQ(stat["dirCount"].asInt64(), 4) << stat;
    EXPECT_EQ(EntryNames(Json({"files", "ls", "/Projects/Ideas"})),
              std::vector<std::string>{"notes.txt"});

    const auto removed = Json({"files", "rm", "/Projects/Music", "--wait"});
    EXPECT_EQ(removed["task"]["family"].asString(), "file");
    const auto trash = Json({"files", "trash", "ls"});
    const auto entry = FindBy(trash["entries"], "path", "/Projects/Music");
    ASSERT_FALSE(entry.isNull()) << trash;
    Json({"files", "trash", "restore", entry["rid"].asString(), "--wait"});
    const auto restored = EntryNames(Json({"files", "ls", "/Projects"}));
    EXPECT_NE(std::find(restored.begin(), restored.end(), "Music/"), restored.end());
    Json({"files", "rm", "/Projects", "--wait"});
    Json({"files", "trash", "empty", "--wait"});
    EXPECT_EQ(Json({"files", "trash", "ls"})["entries"].size(), 0u);

    const auto usb = Json({"files", "usb"});
    EXPECT_TRUE(usb["connected"].asBool());
    EXPECT_FALSE(FindBy(usb["disks"], "name", "usb1").isNull()) << usb;
}

} // namespace
} // namespace zeqctltest
