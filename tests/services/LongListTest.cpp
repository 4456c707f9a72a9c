#include "services/AlbumIntfZEQ.h"
#include "services/PhotoIntfZEQ.h"

#include "GalleryFixture.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

// Replies whose list is long enough to be read in pieces on two threads.
// Their records must be those of one reading from start to end, whatever
// lies where the pieces meet; what goes wrong in a later piece must end the
// reply as it always did.
namespace {

// Over a mebibyte of list text: long enough to be read in pieces.
constexpr int kPhotos = 2500;

// A photo whose number is in every field that a misplaced or doubled record
// would show in.
std::string Photo(int i) {
    const std::string n = std::to_string(i);
    return R"({"attachPath":"/a/)" + n + R"(","city":"Springfield","fileId":)" + n +
           R"(,"fileSrcPath":"/mnt/photos/)" + std::string(400, 'p') + "/" + n +
           R"(.jpg","mimeType":"image/jpeg","size":)" + std::to_string(1000000 + i) +
           R"(,"thumbFilePath":"/cache/t/)" + n + R"(.jpg","width":4032})";
}

// Photos first .. first + count - 1, comma-separated.
std::string Photos(int first, int count) {
    std::string text;
    for (int i = first; i < first + count; ++i) {
        text.append(i == first ? "" : ",").append(Photo(i));
    }
    return text;
}

std::string Table(const std::string& elements, const std::string& after = "") {
    return R"({"code":0,"finish":1,"num":)" + std::to_string(kPhotos) + R"(,"data":[)" + elements +
           "]" + after + "}";
}

// How many of the records from `from` on are not photos 0, 1, 2... in order.
std::size_t Misplaced(const std::vector<std::shared_ptr<GalleryModel>>& data, std::size_t from) {
    std::size_t wrong = 0;
    for (std::size_t i = from; i < data.size(); ++i) {
        const GalleryModel& m = *data[i];
        const std::string n = std::to_string(i - from);
        const bool right = m.fileId == static_cast<std::int64_t>(i - from) &&
                           m.attachPath == "/a/" + n &&
                           m.thumbFilePath == "/cache/t/" + n + ".jpg" &&
                           m.size == 1000000 + m.fileId && m.city == "Springfield";
        wrong += right ? 0 : 1;
    }
    return wrong;
}

class LongLists : public gallerytest::GalleryTest {
protected:
    LongLists() { rsp.data.emplace_back(std::make_shared<GalleryModel>())->fileId = -1; }

    bool Read(const std::string& reply) {
        Answer("getFullPhotosInfoTable", reply);
        return photos.GetGalleryFilesAllMetadata(0, rsp);
    }

    PhotoIntfZEQ& photos = PhotoIntfZEQ::Instance();
    GalleryFilesAllMetadataRsp rsp; // holding one record before each reply
};

TEST_F(LongLists, ComeWholeAndInOrderBehindWhatTheListHeld) {
    ASSERT_TRUE(Read(Table(Photos(0, kPhotos))));
    ASSERT_EQ(rsp.data.size(), 1u + kPhotos);
    EXPECT_EQ(rsp.data[0]->fileId, -1);
    EXPECT_EQ(Misplaced(rsp.data, 1), 0u);

    // Records held by value, not shared: moved behind the first piece's.
    std::string changes = R"({"code":0,"data":[)";
    for (int i = 0; i < 40000; ++i) {
        changes.append(i == 0 ? "" : ",")
            .append(R"({"deviceId":"a1b2c3d4e5f60718","fileId":)" + std::to_string(i) +
                    R"(,"operation":1,"rowId":)" + std::to_string(i + 7) + "}");
    }
    Answer("getIncPhotosInfoTable", changes + "]}");
    GalleryFilesIncRsp changed;
    ASSERT_TRUE(photos.GetGalleryFilesIncInfo(0, changed));
    ASSERT_EQ(changed.data.size(), 40000u);
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < changed.data.size(); ++i) {
        const GalleryFileIncItem& item = changed.data[i];
        wrong += item.fileId == static_cast<std::int64_t>(i) && item.rowId == item.fileId + 7 &&
                         item.deviceId == "a1b2c3d4e5f60718"
                     ? 0
                     : 1;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(LongLists, ObjectsNestedInAnElementThatBeginLikeOneAreNoPlaceToMeet) {
    // Every album's covers begin with the album's own first name, and make
    // most of the text: the pieces' starts are first looked for among them.
    std::string albums = R"({"code":0,"albumlist":[)";
    for (int a = 0; a < 600; ++a) {
        albums.append(a == 0 ? "" : ",")
            .append(R"({"albumId":)" + std::to_string(a) + R"(,"coverInfo":[)");
        for (int c = 0; c < 30; ++c) {
            albums.append(c == 0 ? "" : ",")
                .append(R"({"albumId":-5,"coverId":)" + std::to_string(a * 100 + c) +
                        R"(,"thumbFilePath":")" + std::string(60, 't') + R"("})");
        }
        albums.append(R"(],"num":30})");
    }
    albums.append("]}");
    ASSERT_GT(albums.size(), 3u << 19);
    Answer("getAllAlbumList", albums);
    GalleryAllAlbumListRsp list;
    ASSERT_TRUE(AlbumIntfZEQ::Instance().GetGalleryAllAlbumList(0, 600, list));
    ASSERT_EQ(list.albumlist.size(), 600u);
    std::size_t wrong = 0;
    for (std::size_t a = 0; a < list.albumlist.size(); ++a) {
        const AlbumBasicModel& album = *list.albumlist[a];
        bool right = album.albumId == static_cast<std::int64_t>(a) && album.num == 30 &&
                     album.coverInfo.size() == 30;
        for (std::size_t c = 0; right && c < album.coverInfo.size(); ++c) {
            right = album.coverInfo[c].coverId == static_cast<std::int64_t>(a * 100 + c);
        }
        wrong += right ? 0 : 1;
    }
    EXPECT_EQ(wrong, 0u);
}

TEST_F(LongLists, AFaultInTheSecondHalfEndsTheReplyAsBefore) {
    // Broken near the end: neither reader takes it.
    std::string broken = Table(Photos(0, kPhotos));
    broken.insert(broken.size() - 3, ",]");
    EXPECT_FALSE(Read(broken));
    EXPECT_EQ(rsp.data.size(), 1u);
    EXPECT_EQ(log.Count("PhotoIntfZEQ::ParseAllMetadataRsp",
                        "StringToCppJsonObj failed for http get full photos info"),
              1u);

    // A comment between two late photos: only the second reader takes it,
    // and gives every photo.
    const std::string last = Photo(kPhotos - 1);
    ASSERT_TRUE(Read(Table(Photos(0, kPhotos - 1) + ",/* the last one */" + last)));
    ASSERT_EQ(rsp.data.size(), 1u + kPhotos);
    EXPECT_EQ(Misplaced(rsp.data, 1), 0u);
}

TEST_F(LongLists, OnlyTheLastListOfARepeatedNameCounts) {
    ASSERT_TRUE(Read(Table(Photos(0, kPhotos), R"(,"data":[{"fileId":7}])")));
    ASSERT_EQ(rsp.data.size(), 2u);
    EXPECT_EQ(rsp.data[0]->fileId, -1);
    EXPECT_EQ(rsp.data[1]->fileId, 7);
}

} // namespace
