#include "services/AlbumIntfZEQ.h"

#include "GalleryFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

// Album replies into the caller's records. Requests and failure lines are in
// GalleryOperationsTest.
namespace {

using testing::ElementsAre;
using Ids = std::vector<std::int64_t>;

class AlbumReplies : public gallerytest::GalleryTest {
protected:
    AlbumIntfZEQ& albums = AlbumIntfZEQ::Instance();
    const ChgAlbumMembersParam members{5, "A", 1, {11}, 0};
    const ChgAlbumShareToPersonParam share{5, "A", 6, {}, 0};
    const AlbumCfgModifyParam cfg{1, 5, 8, "New", nullptr, 0, 77};
};

TEST_F(AlbumReplies, AlbumListFillsModelsAfterTheCallersOwn) {
    Answer("getAllAlbumList", R"({"des":"ok","lastAlbumId":41,"num":2,"preId":3,"albumlist":[null,
        {"albumId":41,"albumName":"Ann","albumType":23,"num":12,"createTime":1700,"ownerId":8,
         "isOwner":4294967297,"hiddenStatus":1,"albumAttr":{"gender":2,"birth":"1990"},
         "coverInfo":[{"coverId":5,"thumbFilePath":"t","zeqFilePath":"z","lcdFilePath":"l",
           "ownerName":"o","mediaType":1,"orientation":90,"faceCoordinate":[1,"x",12.9,-4,5,6],
           "lcdHeight":1079.6,"lcdWidth":"720.9"}, 7, {"faceCoordinate":[3,2]}]},
        5, {"albumId":42}]})");
    GalleryAllAlbumListRsp rsp;
    rsp.albumlist.push_back(std::make_shared<AlbumBasicModel>());
    ASSERT_TRUE(albums.GetGalleryAllAlbumList(0, 100, rsp));
    EXPECT_EQ(std::tie(rsp.code, rsp.des, rsp.lastAlbumId, rsp.num, rsp.preId),
              std::make_tuple(0, "ok", 41, 2, 3));
    ASSERT_EQ(rsp.albumlist.size(), 3u);
    EXPECT_EQ(rsp.albumlist[2]->albumId, 42);
    const AlbumBasicModel& a = *rsp.albumlist[1];
    EXPECT_EQ(std::tie(a.albumId, a.albumName, a.albumType, a.num, a.createTime, a.ownerId),
              std::make_tuple(41, "Ann", 23, 12, 1700, 8));
    // 4294967297 keeps its low 32 bits.
    EXPECT_EQ(std::tie(a.isOwner, a.hiddenStatus, a.albumAttr.gender, a.albumAttr.birth),
              std::make_tuple(1, 1, 2, "1990"));
    ASSERT_EQ(a.coverInfo.size(), 3u);
    const AlbumCoverInfo& c = a.coverInfo[0];
    EXPECT_EQ(std::tie(c.coverId, c.thumbFilePath, c.zeqFilePath, c.lcdFilePath, c.ownerName,
                       c.mediaType, c.orientation, c.lcdHeight, c.lcdWidth),
              std::make_tuple(5, "t", "z", "l", "o", 1, 90, 1079, 720));
    // A negative number has no unsigned form: 0.
    EXPECT_THAT(c.faceCoordinate, ElementsAre(1u, 0u, 12u, 0u));
    // A cover that is no object still takes its slot, at the defaults.
    EXPECT_EQ(a.coverInfo[1].coverId, 0);
    EXPECT_THAT(a.coverInfo[2].faceCoordinate, ElementsAre(3u, 2u, 0u, 0u));
}

TEST_F(AlbumReplies, AlbumInfoFillsEveryMemberField) {
    Answer("getAlbumInfo", R"({"lastCretime":90,"lastRowId":91,"num":1,"data":[{"ownerName":"o",
        "attachPath":"a","city":"c","comment":"m","country":"n","province":"p","district":"d",
        "township":"t","fileSrcPath":"s","hash":"h","zeqFilePath":"z","lcdFilePath":"l",
        "thumbFilePath":"b","viewPath":"v","mimeType":"j","ownerId":1,"createTime":2,
        "dateModified":3,"takenTime":4,"day":5,"duration":6,"favorite":7,"fileId":8,"month":9,
        "height":10,"width":11,"size":8589934592,"orientation":12,"mediaType":13,"recycleFlag":14,
        "sourceAlbum":15,"subType":"16"}, null]})");
    AlbumInfoRsp rsp;
    ASSERT_TRUE(albums.GetAlbumInfo(1, GalleryAlbumType(1), 0, 0, rsp));
    EXPECT_EQ(std::tie(rsp.lastCretime, rsp.lastRowId, rsp.num), std::make_tuple(90, 91, 1));
    ASSERT_EQ(rsp.data.size(), 1u);
    const AlbumMembInfo& m = *rsp.data[0];
    EXPECT_EQ(m.ownerName + m.attachPath + m.city + m.comment + m.country + m.province +
                  m.district + m.township + m.fileSrcPath + m.hash + m.zeqFilePath + m.lcdFilePath +
                  m.thumbFilePath + m.viewPath + m.mimeType,
              "oacmnpdtshzlbvj");
    EXPECT_THAT((Ids{m.ownerId, m.createTime, m.dateModified, m.takenTime, m.day, m.duration,
                     m.favorite, m.fileId, m.month, m.height, m.width, m.size, m.orientation,
                     m.mediaType, m.recycleFlag, m.sourceAlbum, m.subType}),
                ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 8589934592, 12, 13, 14, 15, 16));
}

TEST_F(AlbumReplies, ChangeFeedsAndMemberListsAppendTheirItems) {
    Answer("albumIncInfo", R"({"lastId":70,"data":[
        {"albumId":1,"albumType":23,"optTime":100,"optType":2},"x"]})");
    Answer("getAlbumMembsInfo", R"({"lastRowId":5,"lastCretime":6,"preId":7,
        "data":[{"fileId":11,"albumId":1},{"fileId":12,"albumId":2}]})");
    Answer("albumMembIncInfo", R"({"lastId":80,"data":[
        {"albumId":1,"fileId":11,"albumType":6,"optTime":101,"optType":3}]})");
    GalleryAlbumIncInfoRsp inc;
    inc.data.push_back({9, 9, 9, 9});
    GalleryAlbumMembersInfoRsp refs;
    GalleryAlbumMemberIncInfoRsp memberInc;
    ASSERT_TRUE(albums.GetGalleryAlbumIncInfo(0, 10, inc));
    ASSERT_TRUE(albums.GetGalleryAlbumMembersInfo(6, 0, 0, 10, refs));
    ASSERT_TRUE(albums.GetGalleryAlbumMemberIncInfo(0, 6, 10, memberInc));

    ASSERT_EQ(inc.data.size(), 2u);
    const AlbumIncItem& i = inc.data[1];
    EXPECT_EQ(std::tie(inc.lastId, i.albumId, i.albumType, i.optTime, i.optType),
              std::make_tuple(70, 1, 23, 100, 2));
    ASSERT_EQ(refs.data.size(), 2u);
    EXPECT_EQ(std::tie(refs.lastRowId, refs.lastCretime, refs.preId, refs.data[1].fileId,
                       refs.data[1].albumId),
              std::make_tuple(5, 6, 7, 12, 2));
    ASSERT_EQ(memberInc.data.size(), 1u);
    const AlbumMembIncItem& m = memberInc.data[0];
    EXPECT_EQ(std::tie(memberInc.lastId, m.albumId, m.fileId, m.albumType, m.optTime, m.optType),
              std::make_tuple(80, 1, 11, 6, 101, 3));
}

TEST_F(AlbumReplies, AlbumCfgAccepts30103AndFillsTheModelInPlace) {
    AlbumBasicModel model;
    model.albumAttr = {1, "kept"};
    model.coverInfo.resize(1);
    Answer("albumCfg", R"({"code":30103,"data":{"albumId":8,"coverInfo":[{"coverId":3}]}})");
    ASSERT_TRUE(albums.GetSelectedGalleryAlbumCfg(23, 8, model));
    EXPECT_EQ(model.albumId, 8);
    EXPECT_EQ(model.albumAttr.birth, "kept");
    ASSERT_EQ(model.coverInfo.size(), 2u);
    EXPECT_EQ(model.coverInfo[1].coverId, 3);

    Answer("albumCfg", R"({"code":0,"data":[{"albumId":1}]})");
    ASSERT_TRUE(albums.GetSelectedGalleryAlbumCfg(23, 8, model));
    Answer("albumCfg", R"({"code":30104,"des":"gone","data":{"albumId":1}})");
    EXPECT_FALSE(albums.GetSelectedGalleryAlbumCfg(23, 8, model));
    EXPECT_EQ(model.albumId, 8);
    EXPECT_EQ(log.Count("AlbumIntfZEQ::GetSelectedGalleryAlbumCfg",
                        "http get album cfg error: 30104, gone"),
              1u);
}

TEST_F(AlbumReplies, OutputsAreWrittenOnlyOnSuccess) {
    HttpPostRspCode rsp;
    std::int64_t albumId = -1;
    Answer("addAlbum", R"({"albumId":77})");
    ASSERT_TRUE(albums.CreateGalleryUserAlbum(albumId, "Trip", 1, nullptr, &rsp));
    EXPECT_EQ(albumId, 77);
    Answer("addAlbum", R"({"code":0})");
    ASSERT_TRUE(albums.CreateGalleryUserAlbum(albumId, "Trip", 1, nullptr, &rsp));
    EXPECT_EQ(albumId, 0);
    Answer("addAlbum", R"({"code":7,"des":"exists","albumId":78})");
    EXPECT_FALSE(albums.CreateGalleryUserAlbum(albumId, "Trip", 1, nullptr, &rsp));
    EXPECT_EQ(albumId, 0);

    Answer("albumCfg", R"({"albumId":"79"})");
    EXPECT_TRUE(albums.ModifyGalleryAlbumCfg(cfg, MDFY_ALBUM_CFG_NAME, nullptr, &rsp));
    EXPECT_TRUE(albums.ModifyGalleryAlbumCfg(cfg, MDFY_ALBUM_CFG_NAME, &albumId, nullptr));
    EXPECT_EQ(albumId, 79);

    Answer("addAlbumMemb", R"({"sucIds":[{"fileId":11},null,3,{"fileId":12}]})");
    Answer("delAlbumMemb", R"({"code":7,"sucIds":[{"fileId":13}]})");
    Ids ids{1};
    ASSERT_TRUE(albums.AddGalleryAlbumMembers(members, ids, nullptr));
    EXPECT_FALSE(albums.RmvGalleryAlbumMembers(members, ids, nullptr));
    Answer("delAlbumMemb", R"({"code":0})");
    ASSERT_TRUE(albums.RmvGalleryAlbumMembers(members, ids, nullptr));
    EXPECT_THAT(ids, ElementsAre(1, 11, 12));
}

TEST_F(AlbumReplies, TaskIdsAreRead32BitsWideAndSignExtended) {
    for (const auto& [reply, expected] : {std::pair{R"({"taskId":-1})", -1},
                                          {R"({"taskId":70000})", 70000},
                                          {R"({"taskId":4294967296})", 0},
                                          {R"({"code":7,"taskId":9})", 5}}) {
        Answer("addAlbumMembAsync", reply);
        Answer("addShareToPerson", reply);
        std::int64_t fromMembers = 5;
        std::int64_t fromShare = 5;
        albums.AddAlbumMembersAsync(members, "t", 1, fromMembers, nullptr);
        albums.AlbumShareToPersonAsync(share, "t", 1, fromShare, nullptr);
        EXPECT_EQ(fromMembers, expected) << reply;
        EXPECT_EQ(fromShare, expected) << reply;
    }
}

TEST_F(AlbumReplies, RefusalsSendNothing) {
    EXPECT_FALSE(albums.ModifyGalleryAlbumCfg(cfg, MdfyAlbumCfgType(4), nullptr, nullptr));
    EXPECT_FALSE(albums.MergeFaceAlbum("Ann", std::vector<AlbumBasicModel>(1), nullptr));
    EXPECT_FALSE(albums.MergeFaceAlbum("Ann", {}, nullptr));
    EXPECT_EQ(server.RequestCount(), 0u);
    EXPECT_THAT(log.Messages(),
                ElementsAre("AlbumIntfZEQ::ModifyGalleryAlbumCfg: invalid cfgType(4) for "
                            "ModifyGallaryAlbumCfg.",
                            "AlbumIntfZEQ::MergeFaceAlbum: merge face album num: 1",
                            "AlbumIntfZEQ::MergeFaceAlbum: merge face album num: 0"));
}

TEST_F(AlbumReplies, OnlyTheTwoListQueriesCatchExceptions) {
    server.SetDefault(testsupport::Reply::Json(R"({"code":5,"des":"x"})"));
    // A sink that throws on one message stands in for a JSON library failure
    // inside a reply step.
    const Scribo::Sink capture = Scribo::SetSink({});
    const auto throwOn = [&](std::string message, auto exception) {
        Scribo::SetSink([=](const Scribo::LogRecord& record) {
            capture(record);
            if (record.message == message) {
                throw exception;
            }
        });
    };
    GalleryAllAlbumListRsp list;
    throwOn("http get all albumlist error: 5, x", std::runtime_error("json"));
    EXPECT_FALSE(albums.GetGalleryAllAlbumList(0, 10, list));
    throwOn("http get all albumlist error: 5, x", 42);
    EXPECT_FALSE(albums.GetGalleryAlbumByType(GalleryAlbumType(1), list));
    throwOn("http get album inc info error: 5, x", std::runtime_error("json"));
    GalleryAlbumIncInfoRsp inc;
    EXPECT_THROW(albums.GetGalleryAlbumIncInfo(0, 10, inc), std::runtime_error);
    Scribo::SetSink(capture);
    EXPECT_EQ(log.Count("AlbumIntfZEQ::GetGalleryAllAlbumList",
                        "GetGalleryAllAlbumList failed with exception"),
              1u);
    EXPECT_EQ(log.Count("AlbumIntfZEQ::GetGalleryAlbumByType",
                        "GetGalleryAlbumByType failed with unknown exception"),
              1u);
}

} // namespace
