// Albums, the photo table and the gallery recycle bin, on the seeded demo
// gallery (34 live items, 2 in the bin, albums of every kind).

#include "EmulatorFixture.h"

#include "emulator/ErrorCodes.h"

#include <set>

namespace emutest {
namespace {

namespace code = zeqemu::code;

constexpr int kUserAlbum = 1;
constexpr int kFaceAlbum = 23;

class GalleryFlowTest : public EmulatorTest {
protected:
    void SetUp() override {
        auto options = TestOptions(m_dir.Path());
        options.galleryPageSize = 10;
        Start(options);
    }

    std::int64_t CreateAlbum(const std::string& name) const {
        Json::Value body;
        body["clientType"] = 3;
        body["deviceId"] = "test-device";
        body["albumName"] = name;
        body["albumType"] = kUserAlbum;
        const auto answer = m_client->Post("gallery/addAlbum", body);
        EXPECT_EQ(answer.Code(), 0) << answer.text;
        return answer.json["albumId"].asInt64();
    }
    Json::Value ChangeMembers(const char* path, std::int64_t albumId,
                              const std::vector<std::int64_t>& ids) const {
        Json::Value body;
        body["albumId"] = static_cast<Json::Int64>(albumId);
        body["albumName"] = "";
        body["albumType"] = kUserAlbum;
        body["membs"] = AlbumMembers(ids);
        body["addTime"] = 0;
        return m_client->Post(path, body).json;
    }
    std::vector<std::int64_t> AlbumFileIds(std::int64_t albumId) const {
        const auto answer =
            m_client->Get("gallery/getAlbumInfo", {{"albumId", std::to_string(albumId)},
                                                   {"albumType", std::to_string(kUserAlbum)},
                                                   {"lastRowId", "0"},
                                                   {"lastCreTime", "0"},
                                                   {"num", "500"},
                                                   {"dataType", "1"}});
        std::vector<std::int64_t> ids;
        for (const auto& file : answer.json["data"]) {
            ids.push_back(file["fileId"].asInt64());
        }
        return ids;
    }
    std::int64_t LastAlbumChange() const {
        return m_client->Get("gallery/albumIncInfo", {{"preId", "0"}, {"num", "1000"}})
            .json["lastId"]
            .asInt64();
    }
};

TEST_F(GalleryFlowTest, AlbumCreateAddMembersListAndFeeds) {
    const auto before = LastAlbumChange();
    const auto albumId = CreateAlbum("Road trip");
    EXPECT_GT(albumId, 0);
    Json::Value duplicate;
    duplicate["albumName"] = "Road trip";
    duplicate["albumType"] = kUserAlbum;
    EXPECT_EQ(m_client->Post("gallery/addAlbum", duplicate).Code(), code::kAlbumNameTaken);

    // 3 and 4 are live, 35 is in the bin, 999 does not exist, 3 comes twice.
    const auto added = ChangeMembers("gallery/addAlbumMemb", albumId, {3, 4, 35, 999, 3});
    ASSERT_EQ(added["sucIds"].size(), 2u) << added.toStyledString();
    EXPECT_EQ(added["sucIds"][0]["fileId"].asInt64(), 3);
    EXPECT_EQ(added["sucIds"][1]["fileId"].asInt64(), 4);
    EXPECT_EQ(AlbumFileIds(albumId), (std::vector<std::int64_t>{3, 4}));

    const auto removed = ChangeMembers("gallery/delAlbumMemb", albumId, {4, 5});
    ASSERT_EQ(removed["sucIds"].size(), 1u);
    EXPECT_EQ(AlbumFileIds(albumId), (std::vector<std::int64_t>{3}));

    // The change feed picks up after the cursor, with increasing ids.
    const auto feed =
        m_client->Get("gallery/albumIncInfo", {{"preId", std::to_string(before)}, {"num", "10"}});
    ASSERT_EQ(feed.json["data"].size(), 1u) << feed.text;
    EXPECT_EQ(feed.json["data"][0]["albumId"].asInt64(), albumId);
    EXPECT_EQ(feed.json["data"][0]["optType"].asInt(), 1);
    EXPECT_GT(feed.json["lastId"].asInt64(), before);
    const auto members = m_client->Get("gallery/albumMembIncInfo",
                                       {{"preId", "0"}, {"albumType", "1"}, {"num", "1000"}});
    const auto& changes = members.json["data"];
    ASSERT_GE(changes.size(), 3u);
    const auto& last = changes[changes.size() - 1];
    EXPECT_EQ(last["fileId"].asInt64(), 4);
    EXPECT_EQ(last["optType"].asInt(), 2);

    // The album list shows the new album with its count and cover.
    const auto cfg = m_client->Get("gallery/albumCfg",
                                   {{"albumType", "1"}, {"albumId", std::to_string(albumId)}});
    EXPECT_EQ(cfg.json["data"]["num"].asInt(), 1) << cfg.text;
    EXPECT_EQ(cfg.json["data"]["coverInfo"][0]["coverId"].asInt64(), 3);

    Json::Value del;
    del["albumName"] = "Road trip";
    del["albumType"] = kUserAlbum;
    del["albumId"] = static_cast<Json::Int64>(albumId);
    ASSERT_EQ(m_client->Post("gallery/delAlbum", del).Code(), 0);
    EXPECT_EQ(m_client->Post("gallery/delAlbum", del).Code(), code::kNoSuchAlbum);
}

TEST_F(GalleryFlowTest, PhotoTablePagesCoverEveryLiveFileOnce) {
    std::set<std::int64_t> seen;
    std::int64_t start = 0;
    int pages = 0;
    for (bool finished = false; !finished; ++pages) {
        ASSERT_LT(pages, 10) << "the table never finishes";
        const auto page = m_client->Get("gallery/getFullPhotosInfoTable",
                                        {{"startFileId", std::to_string(start)}});
        ASSERT_EQ(page.Code(), 0) << page.text;
        const auto& data = page.json["data"];
        EXPECT_EQ(page.json["num"].asUInt(), data.size());
        for (const auto& file : data) {
            const auto id = file["fileId"].asInt64();
            EXPECT_GT(id, start);
            EXPECT_TRUE(seen.insert(id).second) << "file " << id << " twice";
            EXPECT_EQ(file["recycleFlag"].asInt(), 0);
            start = id;
        }
        finished = page.json["finish"].asInt() == 1;
    }
    EXPECT_EQ(seen.size(), 34u);
    EXPECT_EQ(pages, 4);
}

TEST_F(GalleryFlowTest, DeleteRecoverAndCleanTheBin) {
    const auto rowBefore = m_client->Get("gallery/getFullPhotosInfoTable", {{"startFileId", "0"}})
                               .json["maxRowId"]
                               .asInt64();
    Json::Value del;
    del["clientType"] = 3;
    del["userId"] = "u";
    del["deviceId"] = "phone-1";
    del["membs"] = AlbumMembers({7, 8, 999});
    const auto deleted = m_client->Post("gallery/delFile", del);
    ASSERT_EQ(deleted.json["data"].size(), 2u) << deleted.text;

    Json::Value query;
    query["offset"] = 0;
    query["num"] = 50;
    auto bin = m_client->Post("gallery/queryBin", query);
    EXPECT_EQ(bin.json["num"].asInt(), 4) << bin.text;

    // The change table names the deleting device.
    const auto inc =
        m_client->Get("gallery/getIncPhotosInfoTable", {{"preRowId", std::to_string(rowBefore)}});
    ASSERT_EQ(inc.json["data"].size(), 2u) << inc.text;
    EXPECT_EQ(inc.json["data"][0]["deviceId"], "phone-1");
    EXPECT_EQ(inc.json["data"][0]["operation"].asInt(), 3);

    Json::Value recover = del;
    recover["empty"] = 0;
    recover["membs"] = AlbumMembers({7});
    EXPECT_EQ(m_client->Post("gallery/recoverFile", recover).json["data"][0]["id"].asInt64(), 7);

    Json::Value selected;
    selected["clientType"] = 3;
    selected["fileIds"] = AlbumMembers({7, 8, 12345});
    const auto picked = m_client->Post("gallery/getSelectedPhotosInfo", selected);
    EXPECT_EQ(picked.Code(), code::kPartial) << picked.text;
    EXPECT_EQ(picked.json["num"].asInt(), 2);
    EXPECT_EQ(picked.json["data"][0]["recycleFlag"].asInt(), 0);
    EXPECT_EQ(picked.json["data"][1]["recycleFlag"].asInt(), 1);

    Json::Value clean = del;
    clean["empty"] = 1;
    clean["membs"] = Json::Value(Json::arrayValue);
    EXPECT_EQ(m_client->Post("gallery/cleanBin", clean).json["data"].size(), 3u);
    bin = m_client->Post("gallery/queryBin", query);
    EXPECT_EQ(bin.json["num"].asInt(), 0);
}

TEST_F(GalleryFlowTest, FaceAlbumsMergeAndHide) {
    const auto faces = m_client->Get("gallery/getAlbumList", {{"albumType", "23"}});
    ASSERT_EQ(faces.json["albumlist"].size(), 3u) << faces.text;
    const auto first = faces.json["albumlist"][0]["albumId"].asInt64();
    const auto second = faces.json["albumlist"][1]["albumId"].asInt64();
    const auto firstCount = faces.json["albumlist"][0]["num"].asInt();
    const auto secondCount = faces.json["albumlist"][1]["num"].asInt();
    EXPECT_EQ(faces.json["albumlist"][0]["albumAttr"]["birth"], "1988-04-12");
    EXPECT_EQ(faces.json["albumlist"][0]["coverInfo"][0]["faceCoordinate"].size(), 4u);

    Json::Value merge;
    merge["albumName"] = "Alex";
    merge["albumIdMembs"].append(static_cast<Json::Int64>(first));
    merge["albumIdMembs"].append(static_cast<Json::Int64>(second));
    ASSERT_EQ(m_client->Post("gallery/mergeFaceAlbums", merge).Code(), 0);
    const auto merged = m_client->Get("gallery/albumCfg",
                                      {{"albumType", "23"}, {"albumId", std::to_string(first)}});
    EXPECT_EQ(merged.json["data"]["num"].asInt(), firstCount + secondCount) << merged.text;
    EXPECT_EQ(
        m_client
            ->Get("gallery/albumCfg", {{"albumType", "23"}, {"albumId", std::to_string(second)}})
            .Code(),
        code::kNoSuchAlbum);

    Json::Value hide;
    hide["albumType"] = kFaceAlbum;
    hide["hiddenStatus"] = 1;
    hide["albumIdMembs"].append(static_cast<Json::Int64>(first));
    ASSERT_EQ(m_client->Post("gallery/modifyAlbumsHiddenStatus", hide).Code(), 0);
    EXPECT_EQ(merged.json["data"]["hiddenStatus"].asInt(), 0);
    EXPECT_EQ(
        m_client->Get("gallery/albumCfg", {{"albumType", "23"}, {"albumId", std::to_string(first)}})
            .json["data"]["hiddenStatus"]
            .asInt(),
        1);
}

} // namespace
} // namespace emutest
