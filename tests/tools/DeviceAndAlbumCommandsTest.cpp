#include "ToolFixture.h"

#include <algorithm>
#include <filesystem>

namespace zeqctltest {
namespace {

using ZeqctlDevice = ToolTest;
using ZeqctlAlbums = ToolTest;

Json::Value I(std::int64_t v) {
    return static_cast<Json::Int64>(v);
}

TEST_F(ZeqctlDevice, InfoUsersSlotsAndCopyrightAsJson) {
    const auto info = Json({"device", "info"});
    EXPECT_EQ(info["url"].asString(), m_device->BaseUrl());
    EXPECT_FALSE(info["serialNumber"].asString().empty());
    EXPECT_GT(info["disk"]["totalSize"].asInt64(), 0);
    EXPECT_LE(info["disk"]["usedSize"].asInt64(), info["disk"]["totalSize"].asInt64());

    const auto users = Json({"device", "users"});
    EXPECT_FALSE(FindBy(users["users"], "name", "admin").isNull()) << users;

    m_device->SimulateDiskEvent(2, 3);
    const auto slots = Json({"device", "slots"});
    EXPECT_FALSE(FindBy(slots["slots"], "eventType", 3).isNull()) << slots;

    const auto page = Json({"device", "copyright"});
    const std::filesystem::path saved = page["path"].asString();
    EXPECT_EQ(saved.parent_path(), m_home.Path() / "zeqctl");
    EXPECT_GT(page["bytes"].asInt64(), 0);
    EXPECT_EQ(std::filesystem::file_size(saved), page["bytes"].asUInt64());
}

TEST_F(ZeqctlDevice, HumanOutputIsAnAlignedTable) {
    const auto run = Device({"device", "users"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    // Every row starts its NAME column where the header does.
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < run.out.size();) {
        const auto end = run.out.find('\n', start);
        lines.push_back(run.out.substr(start, end - start));
        start = end == std::string::npos ? run.out.size() : end + 1;
    }
    ASSERT_GE(lines.size(), 2u);
    const auto column = lines[0].find("NAME");
    ASSERT_NE(column, std::string::npos);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i][column - 1], ' ') << lines[i];
        EXPECT_NE(lines[i][column], ' ') << lines[i];
    }
}

TEST_F(ZeqctlAlbums, CreateRenameMembersAndDeleteRoundTrip) {
    const auto created = Json({"albums", "create", "Trip"});
    const auto id = created["albumId"].asInt64();
    ASSERT_GT(id, 0);
    const auto idText = std::to_string(id);

    const auto taken = Device({"albums", "create", "Trip"});
    EXPECT_EQ(taken.exitCode, 1);
    EXPECT_NE(taken.err.find("an album named Trip exists"), std::string::npos) << taken.err;

    Json({"albums", "rename", idText, "Road trip"});
    const auto added = Json({"albums", "add", idText, "5", "6", "7"});
    EXPECT_EQ(added["added"].size(), 3u);
    const auto removed = Json({"albums", "remove", idText, "6"});
    ASSERT_EQ(removed["removed"].size(), 1u);
    EXPECT_EQ(removed["removed"][0].asInt64(), 6);
    const auto notMember = Device({"albums", "cover", idText, "6"});
    EXPECT_EQ(notMember.exitCode, 1);
    EXPECT_NE(notMember.err.find("not in the album"), std::string::npos) << notMember.err;
    Json({"albums", "cover", idText, "5"});

    const auto shown = Json({"albums", "show", idText});
    EXPECT_EQ(shown["album"]["name"].asString(), "Road trip");
    EXPECT_EQ(shown["album"]["coverIds"][0].asInt64(), 5);
    std::vector<std::int64_t> files;
    for (const auto& f : shown["files"]) {
        files.push_back(f["fileId"].asInt64());
    }
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::int64_t>{5, 7}));

    Json({"albums", "rm", idText});
    const auto after = Json({"albums", "ls"});
    EXPECT_TRUE(FindBy(after["albums"], "albumId", I(id)).isNull());
    const auto gone = Device({"albums", "show", idText});
    EXPECT_EQ(gone.exitCode, 1);
}

TEST_F(ZeqctlAlbums, ShareMergeHideAndAsyncAdd) {
    // Seeded: 3 is the shared album, 4 and 5 face albums of people, 6 unnamed.
    const auto shared = Json({"albums", "share", "3", "1", "2"});
    EXPECT_EQ(shared["shared"].size(), 2u);
    const auto notShared = Device({"albums", "share", "1", "2"});
    EXPECT_EQ(notShared.exitCode, 1) << "a user album shares nothing";

    Json({"albums", "merge", "Alex and Sam", "4", "5"});
    Json({"albums", "hide", "6"});
    const auto faces = Json({"albums", "ls"});
    int visibleFaces = 0;
    for (const auto& album : faces["albums"]) {
        visibleFaces += album["kind"] == "face" && !album["hidden"].asBool() ? 1 : 0;
    }
    EXPECT_EQ(visibleFaces, 1) << faces;

    const auto task = Json({"albums", "add", "2", "30", "31", "--async", "--wait"});
    EXPECT_EQ(task["task"]["state"].asString(), "done") << task;
    EXPECT_EQ(task["task"]["family"].asString(), "gallery");
    const auto garden = Json({"albums", "show", "2", "--limit", "500"});
    EXPECT_FALSE(FindBy(garden["files"], "fileId", 31).isNull());
}

} // namespace
} // namespace zeqctltest
