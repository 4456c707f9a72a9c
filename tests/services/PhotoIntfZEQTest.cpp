#include "services/PhotoIntfZEQ.h"

#include "GalleryFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Photo replies into the caller's records. Requests and failure lines are in
// GalleryOperationsTest.
namespace {

using testing::ElementsAre;
using Ids = std::vector<std::int64_t>;

class PhotoReplies : public gallerytest::GalleryTest {
protected:
    PhotoIntfZEQ& photos = PhotoIntfZEQ::Instance();
    const std::vector<GalleryFileMember> files{{1, "a.jpg"}};
};

TEST_F(PhotoReplies, FullTablePagesAppendModelsAndReadFinishAsHasMore) {
    Answer("getFullPhotosInfoTable", R"({"des":"ok","finish":1,"maxRowId":99,"num":2,"data":[null,
        {"attachPath":"a","city":"c","comment":"m","country":"n","createTime":1,"dateModified":2,
         "day":3,"district":"d","duration":4,"favorite":5,"fileId":6,"fileSrcPath":"s","hash":"h",
         "zeqFilePath":"z","height":7,"lcdFilePath":"l","mediaType":8,"mimeType":"j","month":9,
         "orientation":90,"ownerId":10,"ownerName":"o","province":"p","recycleFlag":1,
         "size":8589934592,"sourceAlbum":11,"subType":12,"takenTime":13,"thumbFilePath":"t",
         "township":"w","viewPath":"v","width":14}, 3, {"fileId":7}]})");
    GalleryFilesAllMetadataRsp rsp;
    rsp.hasMore = true;
    ASSERT_TRUE(photos.GetGalleryFilesAllMetadata(0, rsp));
    EXPECT_EQ(std::tie(rsp.des, rsp.hasMore, rsp.maxRowId, rsp.num),
              std::make_tuple("ok", false, 99, 2));
    ASSERT_EQ(rsp.data.size(), 2u);
    const GalleryModel& m = *rsp.data[0];
    EXPECT_EQ(m.attachPath + m.city + m.comment + m.country + m.district + m.fileSrcPath + m.hash +
                  m.zeqFilePath + m.lcdFilePath + m.mimeType + m.ownerName + m.province +
                  m.thumbFilePath + m.township + m.viewPath,
              "acmndshzljoptwv");
    EXPECT_THAT((Ids{m.createTime, m.dateModified, m.day, m.duration, m.favorite, m.fileId,
                     m.height, m.mediaType, m.month, m.orientation, m.ownerId, m.recycleFlag,
                     m.size, m.sourceAlbum, m.subType, m.takenTime, m.width}),
                ElementsAre(1, 2, 3, 4, 5, 6, 7, 8, 9, 90, 10, 1, 8589934592, 11, 12, 13, 14));

    Answer("getFullPhotosInfoTable", R"({"finish":0,"data":[{"fileId":8}]})");
    ASSERT_TRUE(photos.GetGalleryFilesAllMetadata(8, rsp));
    EXPECT_TRUE(rsp.hasMore);
    ASSERT_EQ(rsp.data.size(), 3u);
    EXPECT_EQ(rsp.data[2]->fileId, 8);
}

TEST_F(PhotoReplies, ChangeTablePagesCarryRowsAndOnlyFinish0OrNoneMeansMore) {
    Answer("getIncPhotosInfoTable",
           R"({"num":1,"data":[{"fileId":6,"rowId":41,"operation":2,"deviceId":"d9"},"x"]})");
    GalleryFilesIncRsp rsp;
    ASSERT_TRUE(photos.GetGalleryFilesIncInfo(40, rsp));
    EXPECT_TRUE(rsp.hasMore);
    ASSERT_EQ(rsp.data.size(), 1u);
    const GalleryFileIncItem& item = rsp.data[0];
    EXPECT_EQ(std::tie(rsp.num, item.fileId, item.rowId, item.operation, item.deviceId),
              std::make_tuple(1, 6, 41, 2, "d9"));
    Answer("getIncPhotosInfoTable", R"({"finish":2})");
    ASSERT_TRUE(photos.GetGalleryFilesIncInfo(41, rsp));
    EXPECT_FALSE(rsp.hasMore);
}

TEST_F(PhotoReplies, OnlySelectedMetadataAccepts30103) {
    Answer("getSelectedPhotosInfo", R"({"code":30103,"des":"p","num":1,"data":[{"fileId":11}]})");
    Answer("modifyFileAttr", R"({"code":30103})");
    Ids fileIds{11};
    GalleryFilesSelectedMetadataRsp rsp;
    HttpPostRspCode code;
    ASSERT_TRUE(photos.GetSelectedGalleryFilesMetadata(fileIds, rsp, &code));
    EXPECT_EQ(std::tie(code.code, code.des, rsp.num), std::make_tuple(30103, "p", 1));
    ASSERT_EQ(rsp.data.size(), 1u);
    EXPECT_EQ(rsp.data[0]->fileId, 11);
    EXPECT_FALSE(photos.ModifyGalleryFileAttr(11, "x", &code));
}

TEST_F(PhotoReplies, ProcessedIdsAndTaskIdsAreWrittenOnlyOnSuccess) {
    for (const char* path : {"delFile", "cleanBin", "recoverFile"}) {
        Answer(path, R"({"data":[{"id":1},null,{"id":3}]})");
    }
    Ids ids{9};
    ASSERT_TRUE(photos.DeleteGalleryFiles(files, ids, nullptr));
    ASSERT_TRUE(photos.DeleteBinFiles(files, ids, nullptr));
    ASSERT_TRUE(photos.RecoverBinFiles(files, ids, nullptr));
    Answer("delFile", R"({"code":0})");
    ASSERT_TRUE(photos.DeleteGalleryFiles(files, ids, nullptr));
    Answer("delFile", R"({"code":12,"data":[{"id":4}]})");
    EXPECT_FALSE(photos.DeleteGalleryFiles(files, ids, nullptr));
    EXPECT_THAT(ids, ElementsAre(9, 1, 3, 1, 3, 1, 3));

    for (const char* path : {"delFileAsync", "cleanBinAsync", "recoverFileAsync"}) {
        Answer(path, R"({"taskId":-1})");
    }
    Ids taskIds(4, 5);
    ASSERT_TRUE(photos.DeleteGalleryFilesAsync(files, "t", 1, taskIds[0], nullptr));
    ASSERT_TRUE(photos.DeleteBinFilesAsync(files, "t", 1, taskIds[1], nullptr));
    ASSERT_TRUE(photos.RecoverBinFilesAsync(files, "t", 1, taskIds[2], nullptr));
    Answer("delFileAsync", R"({"code":12,"taskId":8})");
    EXPECT_FALSE(photos.DeleteGalleryFilesAsync(files, "t", 1, taskIds[3], nullptr));
    EXPECT_THAT(taskIds, ElementsAre(-1, -1, -1, 5));
}

TEST_F(PhotoReplies, BinPagesAppendFiles) {
    Answer("queryBin", R"({"offset":"50","num":1,"data":[{"fileId":1,"thumbFilePath":"t",
        "lcdFilePath":"l","zeqFilePath":"z","orientation":90,"mediaType":2,"fileSrcPath":"s",
        "viewPath":"v","duration":3,"mtime":4,"createTime":5,"attachPath":"a","takenTime":6,
        "subType":7},false]})");
    BinQueryInfo info;
    info.data.resize(1);
    ASSERT_TRUE(photos.QueryBinFiles(50, 50, info));
    EXPECT_EQ(std::tie(info.offset, info.num), std::make_tuple(50, 1));
    ASSERT_EQ(info.data.size(), 2u);
    const BinFileInfo& f = info.data[1];
    EXPECT_EQ(f.thumbFilePath + f.lcdFilePath + f.zeqFilePath + f.fileSrcPath + f.viewPath +
                  f.attachPath,
              "tlzsva");
    EXPECT_THAT((Ids{f.fileId, f.orientation, f.mediaType, f.duration, f.mtime, f.createTime,
                     f.takenTime, f.subType}),
                ElementsAre(1, 90, 2, 3, 4, 5, 6, 7));
    Answer("queryBin", R"({"code":12,"offset":9,"data":[{"fileId":2}]})");
    EXPECT_FALSE(photos.QueryBinFiles(0, 50, info));
    EXPECT_EQ(std::tie(info.offset, info.num), std::make_tuple(50, 1));
    EXPECT_EQ(info.data.size(), 2u);
}

TEST_F(PhotoReplies, AFailedChangeTableRequestReachesNoReplyStep) {
    host.SetBaseUrl("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
    GalleryFilesIncRsp rsp;
    EXPECT_FALSE(photos.GetGalleryFilesIncInfo(0, rsp));
    for (const auto& record : log.Records()) {
        EXPECT_NE(record.function, "PhotoIntfZEQ::ParseIncInfoRsp") << record.message;
        EXPECT_NE(record.function, "JsonUtil::StringToCppJsonObj") << record.message;
    }
}

} // namespace
