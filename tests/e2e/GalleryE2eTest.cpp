// Albums, the photo table and the gallery recycle bin, driven through the
// library's album, photo and task services against the seeded demo gallery
// (34 live files, 2 in the bin).

#include "E2eDevice.h"

#include "emulator/ErrorCodes.h"
#include "services/AlbumIntfZEQ.h"
#include "services/PhotoIntfZEQ.h"
#include "services/TaskCenterIntfZEQ.h"
#include "support/LogCapture.h"

#include <algorithm>
#include <set>

namespace e2e {
namespace {

namespace code = zeqemu::code;

constexpr auto kUserAlbum = static_cast<GalleryAlbumType>(1);

std::vector<std::int64_t> AlbumFileIds(std::int64_t albumId) {
    AlbumInfoRsp info;
    EXPECT_TRUE(AlbumIntfZEQ::Instance().GetAlbumInfo(albumId, kUserAlbum, 0, 0, info));
    std::vector<std::int64_t> ids;
    for (const auto& file : info.data) {
        ids.push_back(file->fileId);
    }
    std::sort(ids.begin(), ids.end());
    return ids;
}

std::vector<GalleryFileMember> Members(const std::vector<std::int64_t>& ids) {
    std::vector<GalleryFileMember> members;
    for (const auto id : ids) {
        members.push_back({id, "file-" + std::to_string(id)});
    }
    return members;
}

class GalleryE2e : public E2eTest {};

TEST_F(GalleryE2e, AlbumWithMembersSurvivesARestart) {
    Start();
    auto& albums = AlbumIntfZEQ::Instance();
    const std::string name = "Road trip \xc3\xa9t\xc3\xa9 \xe5\xa4\x8f"; // "été 夏"
    std::int64_t albumId = 0;
    HttpPostRspCode rsp;
    ASSERT_TRUE(albums.CreateGalleryUserAlbum(albumId, name, kUserAlbum, nullptr, &rsp));
    EXPECT_GT(albumId, 0);
    EXPECT_EQ(rsp.code, 0);

    // The device refuses a second album of that name; the library hands the
    // device's code back and logs it with the device's text.
    testsupport::LogCapture log;
    std::int64_t duplicateId = -1;
    EXPECT_FALSE(albums.CreateGalleryUserAlbum(duplicateId, name, kUserAlbum, nullptr, &rsp));
    EXPECT_EQ(rsp.code, code::kAlbumNameTaken);
    EXPECT_FALSE(rsp.des.empty());
    EXPECT_EQ(duplicateId, -1);
    EXPECT_EQ(log.Count("AlbumIntfZEQ::CreateGalleryUserAlbum",
                        "http req add user album error: " + std::to_string(code::kAlbumNameTaken) +
                            ", " + rsp.des),
              1u)
        << testing::PrintToString(log.Messages());

    // 999 does not exist and 3 comes twice: only what the device took is reported.
    ChgAlbumMembersParam change{albumId, name, kUserAlbum, {3, 4, 5, 999, 3}, 0};
    std::vector<std::int64_t> added;
    ASSERT_TRUE(albums.AddGalleryAlbumMembers(change, added, &rsp));
    EXPECT_EQ(added, (std::vector<std::int64_t>{3, 4, 5}));
    change.fileIds = {4};
    std::vector<std::int64_t> removed;
    ASSERT_TRUE(albums.RmvGalleryAlbumMembers(change, removed, &rsp));
    EXPECT_EQ(removed, (std::vector<std::int64_t>{4}));
    EXPECT_EQ(AlbumFileIds(albumId), (std::vector<std::int64_t>{3, 5}));

    Restart();

    GalleryAllAlbumListRsp list;
    ASSERT_TRUE(albums.GetGalleryAllAlbumList(0, 100, list));
    const auto found = std::find_if(list.albumlist.begin(), list.albumlist.end(),
                                    [&](const auto& album) { return album->albumId == albumId; });
    ASSERT_NE(found, list.albumlist.end());
    EXPECT_EQ((*found)->albumName, name);
    EXPECT_EQ((*found)->num, 2);
    AlbumBasicModel model;
    ASSERT_TRUE(albums.GetSelectedGalleryAlbumCfg(kUserAlbum, albumId, model));
    EXPECT_EQ(model.albumName, name);
    ASSERT_FALSE(model.coverInfo.empty());
    EXPECT_EQ(AlbumFileIds(albumId), (std::vector<std::int64_t>{3, 5}));

    ASSERT_TRUE(albums.DeleteGalleryUserAlbum(name, kUserAlbum, albumId, &rsp));
    EXPECT_FALSE(albums.DeleteGalleryUserAlbum(name, kUserAlbum, albumId, &rsp));
    EXPECT_EQ(rsp.code, code::kNoSuchAlbum);
}

TEST_F(GalleryE2e, PhotoTablePagesUntilTheDeviceHasNoMore) {
    Start([](auto& options) { options.galleryPageSize = 10; });
    std::set<std::int64_t> seen;
    std::int64_t start = 0;
    std::vector<bool> hasMore;
    for (bool more = true; more;) {
        ASSERT_LT(hasMore.size(), 10u) << "the table never ends";
        GalleryFilesAllMetadataRsp page;
        ASSERT_TRUE(PhotoIntfZEQ::Instance().GetGalleryFilesAllMetadata(start, page));
        EXPECT_EQ(page.num, static_cast<std::int64_t>(page.data.size()));
        for (const auto& file : page.data) {
            EXPECT_GT(file->fileId, start);
            EXPECT_TRUE(seen.insert(file->fileId).second) << "file " << file->fileId << " twice";
            EXPECT_EQ(file->recycleFlag, 0);
            start = file->fileId;
        }
        more = page.hasMore;
        hasMore.push_back(more);
    }
    EXPECT_EQ(seen.size(), 34u);
    EXPECT_EQ(hasMore, (std::vector<bool>{true, true, true, false}));
}

TEST_F(GalleryE2e, DeleteToTheBinRecoverAndFollowAnAsyncDeletion) {
    Start();
    auto& photos = PhotoIntfZEQ::Instance();
    HttpPostRspCode rsp;
    std::vector<std::int64_t> deleted;
    ASSERT_TRUE(photos.DeleteGalleryFiles(Members({7, 8, 999}), deleted, &rsp));
    EXPECT_EQ(deleted, (std::vector<std::int64_t>{7, 8}));

    const auto binIds = [&photos] {
        BinQueryInfo bin;
        EXPECT_TRUE(photos.QueryBinFiles(0, 50, bin));
        EXPECT_EQ(bin.num, static_cast<std::int32_t>(bin.data.size()));
        std::set<std::int64_t> ids;
        for (const auto& file : bin.data) {
            ids.insert(file.fileId);
        }
        return ids;
    };
    EXPECT_EQ(binIds(), (std::set<std::int64_t>{7, 8, 35, 36}));

    std::vector<std::int64_t> recovered;
    ASSERT_TRUE(photos.RecoverBinFiles(Members({7}), recovered, &rsp));
    EXPECT_EQ(recovered, (std::vector<std::int64_t>{7}));
    std::vector<std::int64_t> chosen{7, 8};
    GalleryFilesSelectedMetadataRsp selected;
    ASSERT_TRUE(photos.GetSelectedGalleryFilesMetadata(chosen, selected, &rsp));
    ASSERT_EQ(selected.data.size(), 2u);
    EXPECT_EQ(selected.data[0]->recycleFlag, 0);
    EXPECT_EQ(selected.data[1]->recycleFlag, 1);

    // The asynchronous form runs as a gallery task that the task center follows.
    std::int64_t taskId = 0;
    ASSERT_TRUE(photos.DeleteGalleryFilesAsync(Members({9, 10}), "tr-gallery", 3, taskId, &rsp));
    ASSERT_GT(taskId, 0);
    ASSERT_TRUE(Settled(taskId));
    std::vector<TaskInfo> tasks;
    ASSERT_TRUE(TaskCenterIntfZEQ::Instance().TaskCenterGet(0, {static_cast<std::uint64_t>(taskId)},
                                                            tasks));
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].taskType, 303);
    EXPECT_EQ(tasks[0].progress, 100);
    EXPECT_EQ(tasks[0].finishedNum, 2u);
    EXPECT_EQ(binIds(), (std::set<std::int64_t>{8, 9, 10, 35, 36}));

    ASSERT_TRUE(photos.DeleteBinFiles(&rsp));
    EXPECT_TRUE(binIds().empty());
}

} // namespace
} // namespace e2e
