#include "services/FileIntfZeq.h"
#include "services/TaskCenterIntfZEQ.h"

#include "ServiceRig.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

namespace servicetest {
namespace {

FileIntfZeq& Files() {
    return FileIntfZeq::Instance();
}

// An operation of the shape bool(Request, Result&) called with request.
template <typename Request, typename Result>
std::function<bool()> Call(bool (FileIntfZeq::*operation)(Request, Result&), Request request) {
    return [=] {
        Result result;
        return (Files().*operation)(request, result);
    };
}

CopyMoveRequestParam CopyTask(std::vector<std::string> sPaths) {
    return {{{"n", "sc", "dc", std::move(sPaths), "/dst", 3, 4, "t1"}}, "user"};
}

CopyAcrossRequestParam Across(std::string name, std::vector<CopyAcrossDestDir> dirs) {
    return {std::move(name), 5, "t2", "file", {{9, "", "user", ""}}, "gallery", std::move(dirs)};
}

const Caps kCap8{{kFileCap, FILE_CAP_TRANS_TASK_CENTER}};
const Caps kCap10{{kFileCap, FILE_CAP_BATCH_OPERATION}};

const std::vector<Row>& Operations() {
    const auto F = [](const char* operation) { return std::string("FileIntfZeq::") + operation; };
    const std::string copyTask =
        R"({"dCategory":"dc","dPath":"/dst","dVersion":3,"name":"n","sCategory":"sc","sPaths":)";
    const std::string q = "clientType=3&deviceId=dev-1";
    // clang-format off
    static const std::vector<Row> rows{
        // "%41" would reach the server as "A" had the folder not been encoded.
        {"GetFiles", {},
         Call(&FileIntfZeq::GetFiles, GetFilesRequestParam{"/a b/%41", 20, 40, 0, "timeDesc", "user", ""}),
         Get("/filesvc/files", "category=user&" + q + "&dirType=6&limit=20&offset=40&sortType=timeDesc", "/a b/%41"),
         F("GetFiles"), Phrase("GetFiles")},
        {"GetFilesWithFilter", {},
         Call(&FileIntfZeq::GetFiles, GetFilesRequestParam{"/d", 1, 0, 0, "s", "user", "DirFilter"}),
         Get("/filesvc/files", "category=user&" + q + "&dirType=6&filter=DirFilter&limit=1&offset=0&sortType=s", "/d")},
        {"GetFolderDetail", {},
         Call(&FileIntfZeq::GetFolderDetail, FolderDetailRequestParam{"e1", "/p", "user"}),
         Post("/filesvc/detail", "category=user", R"({"entryId":"e1","path":"/p"})"),
         F("GetFolderDetail"), Phrase("GetFolderDetail")},
        {"GetRecycleFiles", {},
         Call(&FileIntfZeq::GetRecycleFiles, RecycleFilesRequest{10, 30, "user"}),
         Get("/filesvc/recycleFiles", "category=user&" + q + "&limit=10&offset=30"),
         F("GetRecycleFiles"), Phrase("recycleFiles")},
        {"GetUsbStatus", {},
         [] { UsbStatusResp status; return Files().GetUsbStatus(status); },
         Get("/filesvc/usbStatus", q),
         F("GetUsbStatus"), Phrase("UsbStatus")},
        {"GetUserSambFolder", {},
         [] { std::string folder; return Files().GetUserSambFolder(folder); },
         Get("/api/app/usersamba", q),
         F("GetUserSambFolder"), {"get user samba folder init fail", "get user samba folder fail"}},
        {"GetFolderAllSubFiles", {},
         [] { FolderStructureResp structure; return Files().GetFolderAllSubFiles(structure, 7, "c", "/x y"); },
         Get("/filesvc/allFiles", "category=c&" + q + "&limit=500&offset=7", "/x y"),
         F("GetFolderAllSubFiles"), {"GetFolderAllSubFiles init fail", "GetFolderAllSubFiles fail"}},
        {"GetRecoverProgress", {},
         Call(&FileIntfZeq::GetRecoverProgress, RcvProgressRequest{"p1", "f", "user"}),
         Get("/filesvc/recoverProgress", "category=user&" + q + "&flag=f&progerssId=p1"),
         F("GetRecoverProgress"), Phrase("recoverProgress")},
        {"MakeDirectory", {},
         Call(&FileIntfZeq::MakeDirectory, MkDirRequestParam{"/d", 2, "user"}),
         Post("/filesvc/mkdir", "category=user", R"({"path":"/d","redundancy":2})"),
         F("MakeDirectory"), Phrase("MakeDirectory")},
        {"Copy", {},
         Call(&FileIntfZeq::Copy, CopyTask({"/a", "/b"})),
         Post("/trans/copy", "category=user", R"({"tasks":[)" + copyTask + R"(["/a","/b"]}]})"),
         F("Copy"), Phrase("Copy")},
        {"CopyWithCapability8", kCap8,
         Call(&FileIntfZeq::Copy, CopyTask({"/a"})),
         Post("/trans/copy", "category=user", R"({"tasks":[{"dCategory":"dc","dPath":"/dst","dVersion":3,"deviceId":"dev-1",)"
                                              R"("name":"n","sCategory":"sc","sPaths":["/a"],"subTaskId":4,"transId":"t1"}]})")},
        {"CopyOfNothing", {},
         Call(&FileIntfZeq::Copy, CopyMoveRequestParam{{}, "user"}),
         Post("/trans/copy", "category=user", R"({"tasks":null})")},
        {"MoveWithNoSourcePaths", {},
         Call(&FileIntfZeq::Move, CopyTask({})),
         Post("/trans/move", "category=user", R"({"tasks":[)" + copyTask + "null}]}"),
         F("Move"), Phrase("Move")},
        {"RenameSendsIdInTheQuery", {},
         Call(&FileIntfZeq::Rename, RenameRequestParam{"/o", "/n", "user", 42}),
         Post("/filesvc/rename", "category=user&id=42", R"({"newpath":"/n","oldpath":"/o"})"),
         F("Rename"), Phrase("Rename")},
        {"DeleteOfNothingSendsAnEmptyArray", {},
         Call(&FileIntfZeq::Delete, DeleteRequestParam{{}, "user", "recycle"}),
         Post("/filesvc/remove", "category=user&type=recycle", R"({"srcPath":[]})"),
         F("Delete"), Phrase("Delete")},
        {"RecycleClearSendsZero", {},
         Call(&FileIntfZeq::RmvRecycleFiles, RmvRecycleFilesRequest{"clear", {5, 6}, "user"}),
         Post("/filesvc/recycleDelFiles", "category=user", R"({"action":"clear","files":[0]})"),
         F("RmvRecycleFiles"), Phrase("recycleDelFiles")},
        {"RecycleClearIsCaseSensitive", {},
         Call(&FileIntfZeq::RmvRecycleFiles, RmvRecycleFilesRequest{"Clear", {5, 6}, "user"}),
         Post("/filesvc/recycleDelFiles", "category=user", R"({"action":"Clear","files":[5,6]})")},
        {"RecycleRestoreOfNothingSendsNull", {},
         Call(&FileIntfZeq::RmvRecycleFiles, RmvRecycleFilesRequest{"restore", {}, "user"}),
         Post("/filesvc/recycleDelFiles", "category=user", R"({"action":"restore","files":null})")},
        {"RedundancyOfNothingSendsNull", {},
         Call(&FileIntfZeq::SetRedundancyAttr, RedundancyRequestParam{{}, 1, "user"}),
         Post("/filesvc/redundancy", "category=user", R"({"attr":1,"path":null})"),
         F("SetRedundancyAttr"), Phrase("SetRedundancyAttr")},
        {"SetVisibility", {},
         Call(&FileIntfZeq::SetVisibility, VisibilityRequestParam{"/v", 0, "user"}),
         Post("/filesvc/visibility", "category=user", R"({"attr":0,"path":"/v"})"),
         F("SetVisibility"), Phrase("SetVisibility")},
        {"CopyAcrossLeavesOutEmptyTexts", {},
         Call(&FileIntfZeq::CopyAcrossGalleryAndFile, Across("", {})),
         Post("/trans/acrosscopy", "", R"({"clientType":3,"dest":{"service":"gallery"},"deviceId":"dev-1",)"
                                       R"("src":{"files":[{"category":"user","fid":9}],"service":"file"}})"),
         F("CopyAcrossGalleryAndFile"), Phrase("CopyAcrossGalleryAndFile")},
        {"CopyAcrossWithCapability8", kCap8,
         Call(&FileIntfZeq::CopyAcrossGalleryAndFile, Across("job", {{11, 6, "al", "/p", "user", 100}})),
         Post("/trans/acrosscopy", "", R"({"clientType":3,"dest":{"dirs":[{"addTime":100,"albumId":11,"albumName":"al",)"
                                       R"("albumType":6,"category":"user","path":"/p"}],"service":"gallery"},"deviceId":"dev-1",)"
                                       R"("name":"job","src":{"files":[{"category":"user","fid":9}],"service":"file"},)"
                                       R"("subTaskId":5,"transId":"t2"})")},
        {"CreateFolderStructure", {},
         [] { FolderStructureCreateResp result; return Files().CreateFolderStructure({"/p", {"a", "a/b"}}, "c", result); },
         Post("/filesvc/createDirs", "category=c", R"({"dirs":["a","a/b"],"parentDir":"/p"})"),
         F("CreateFolderStructure"), {"CreateFolderStructure init fail", "CreateFolderStructure fail"}},
        {"BatchOperationLeavesOutEmptyLists", kCap10,
         Call(&FileIntfZeq::BatchOperation, FileBatchOperationRequestParam{{}, {"r1"}, "n", 2, "op", "user", "qt", 4, "t"}),
         Post("/filesvc/batchOperation", "category=user&operation=op&type=qt",
              R"({"tasks":[{"clientType":3,"deviceId":"dev-1","name":"n","rid":["r1"],"subTaskId":4,"transId":"t","type":2}]})"),
         F("BatchOperation"), {"batchOperation init fail", "batchOperation fail"}},
    };
    // clang-format on
    return rows;
}

INSTANTIATE_TEST_SUITE_P(File, RequestTable, testing::ValuesIn(Operations()), RowName);
INSTANTIATE_TEST_SUITE_P(File, RequestFailureTable, testing::ValuesIn(WithLines(Operations())),
                         RowName);

// ---- Reading the replies ----

class FileReplies : public testing::Test {
protected:
    ServiceRig rig;
};

TEST_F(FileReplies, ListingBuildsPathsAndFillsDefaultsFromTheRequest) {
    const std::string reply =
        R"({"code":0,"data":{"hasMore":true,"parentPath":"/data/","offset":2,"files":[)"
        R"({"id":4,"name":"x","type":3,"category":"own","size":"12"},null,7,)"
        R"({"name":"y","type":1}]}})";
    rig.Answer("/filesvc/files", reply);
    FileListData list;
    ASSERT_TRUE(Files().GetFiles({"/data/", 10, 0, 77, "s", "user", ""}, list));
    EXPECT_TRUE(list.hasMore);
    EXPECT_EQ(list.offset, 2);
    EXPECT_EQ(list.rawReply, reply);
    ASSERT_EQ(list.files.size(), 2u);
    const FileData& folder = *list.files[0];
    EXPECT_EQ(folder.path + " " + folder.fullPath + " " + folder.parentPath,
              "/data/x/ /data/x /data/");
    EXPECT_EQ(folder.category, "own");
    EXPECT_EQ(folder.size, 12);
    EXPECT_EQ(folder.id, 4);
    EXPECT_EQ(folder.requestTag, 77);
    const FileData& file = *list.files[1];
    EXPECT_EQ(file.path + " " + file.fullPath, "/data/y /data/y");
    EXPECT_EQ(file.category, "user");
}

TEST_F(FileReplies, ListingWithoutDataFailsAndKeepsTheDeviceCode) {
    const std::tuple<const char*, bool, std::int64_t> cases[] = {
        {R"({"code":13})", false, 13},
        {R"({"msg":"x"})", false, -1},
        {"[1]", false, -1},
        {R"({"code":13,"data":{}})", true, -1}};
    for (const auto& [reply, result, code] : cases) {
        FileListData list;
        list.code = -1;
        EXPECT_EQ(Files().ParseFileListData(reply, list, {}, FILTER_FILE_TYPE_ALL), result)
            << reply;
        EXPECT_EQ(list.code, code) << reply;
        EXPECT_TRUE(list.files.empty());
    }
    EXPECT_TRUE(rig.log.Records().empty()) << "the file parsers log nothing of their own";
}

TEST_F(FileReplies, ListingFilterKeepsFoldersOrFiles) {
    std::string files;
    for (int type = 0; type <= 7; ++type) {
        files += (type ? R"(,{"type":)" : R"({"type":)") + std::to_string(type) + "}";
    }
    const std::string reply = R"({"data":{"files":[)" + files + "]}}";
    auto kept = [&](int filter) {
        FileListData list;
        EXPECT_TRUE(
            Files().ParseFileListData(reply, list, {}, static_cast<FilterFileType>(filter)));
        std::vector<int> types;
        for (const auto& file : list.files) {
            types.push_back(file->type);
        }
        return types;
    };
    EXPECT_EQ(kept(FILTER_FILE_TYPE_ALL), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(kept(FILTER_FILE_TYPE_DIR), (std::vector<int>{2, 3, 4, 5, 6}));
    EXPECT_EQ(kept(FILTER_FILE_TYPE_FILE), (std::vector<int>{0, 1, 7}));
    EXPECT_EQ(kept(9), (std::vector<int>{0, 1, 7}));
}

TEST_F(FileReplies, UsbEntriesGetIdsThatStayTheSameAcrossListings) {
    auto listing = [](const std::string& parent) {
        FileListData list;
        EXPECT_TRUE(Files().ParseFileListData(
            R"({"data":{"parentPath":")" + parent +
                R"(","files":[{"id":1,"name":"a","type":3},{"id":1,"name":"b","type":1}]}})",
            list, {}, FILTER_FILE_TYPE_ALL));
        return std::vector<std::int64_t>{list.files.at(0)->id, list.files.at(1)->id};
    };
    const auto first = listing("/mnt/usbdisk/");
    EXPECT_NE(first[0], first[1]);
    EXPECT_EQ(listing("/mnt/usbdisk/"), first);
    EXPECT_EQ(FileIntfZeq::GetUsbFileIdCount("/mnt/usbdisk/a/"), first[0]);
    EXPECT_EQ(listing("/mnt/us/"), (std::vector<std::int64_t>{1, 1}));
}

TEST(UsbFileIds, SamePathSameIdAndNoIdTwiceFromSeveralThreads) {
    constexpr int kThreads = 4;
    constexpr int kPaths = 200;
    std::vector<std::vector<std::int64_t>> ids(kThreads);
    std::vector<std::vector<std::int64_t>> fresh(kThreads);
    {
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int p = 0; p < kPaths; ++p) {
                    ids[t].push_back(
                        FileIntfZeq::GetUsbFileIdCount("/mnt/usb/" + std::to_string(p)));
                    fresh[t].push_back(FileIntfZeq::GetUsbFileIdCount(""));
                }
            });
        }
    }
    std::set<std::int64_t> all(ids[0].begin(), ids[0].end());
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(ids[t], ids[0]);
        all.insert(fresh[t].begin(), fresh[t].end());
    }
    // Each path once, each empty path afresh: no id was handed out twice.
    EXPECT_EQ(all.size(), static_cast<std::size_t>(kPaths + kThreads * kPaths));
}

TEST_F(FileReplies, ReadOperationsNeedTheirDataButNotCodeZero) {
    FolderDetailResp detail;
    rig.Answer("/filesvc/detail", R"({"code":3,"version":"v2"})");
    EXPECT_FALSE(Files().GetFolderDetail({"e", "/p", "user"}, detail));
    EXPECT_EQ(detail.code, 3);
    EXPECT_EQ(detail.version, "v2");
    rig.Answer("/filesvc/detail", R"({"code":3,"data":{"name":"p","dirCount":7}})");
    ASSERT_TRUE(Files().GetFolderDetail({"e", "/p", "user"}, detail));
    EXPECT_EQ(detail.name + detail.version + std::to_string(detail.dirCount), "p7");

    FolderStructureResp structure;
    rig.Answer("/filesvc/allFiles", R"({"code":2,"data":[]})");
    EXPECT_FALSE(Files().GetFolderAllSubFiles(structure, 0, "user", "/d"));
    EXPECT_EQ(structure.code, 2);

    RcvProgressRespData progress;
    rig.Answer("/filesvc/recoverProgress", R"({"code":1,"data":{"proFailure":"1",)"
                                           R"("errorInfos":[{"id":"5"},null]}})");
    ASSERT_TRUE(Files().GetRecoverProgress({"p", "f", "user"}, progress));
    EXPECT_EQ(progress.proFailure, 1);
    ASSERT_EQ(progress.errorInfos.size(), 1u);
    EXPECT_EQ(progress.errorInfos[0].id, "5");
}

TEST_F(FileReplies, UsbStatusWithoutDataClearsTheRecord) {
    rig.Answer("/filesvc/usbStatus", R"({"data":{"status":true,"mountPath":"/mnt/usb",)"
                                     R"("info":[{"name":"u","totalSize":2},3]}})");
    UsbStatusResp status;
    ASSERT_TRUE(Files().GetUsbStatus(status));
    EXPECT_TRUE(status.status);
    ASSERT_EQ(status.info.size(), 1u);
    EXPECT_EQ(status.info[0].totalSize, 2);
    rig.Answer("/filesvc/usbStatus", R"({"code":4})");
    ASSERT_TRUE(Files().GetUsbStatus(status));
    EXPECT_EQ(status.code, 4);
    EXPECT_FALSE(status.status);
    EXPECT_EQ(status.mountPath, "");
    EXPECT_TRUE(status.info.empty());
}

TEST_F(FileReplies, SambaFolderIsReadOnlyFromAnObject) {
    std::string folder = "before";
    for (const auto& [reply, result, expected] :
         {std::tuple{"[]", false, "before"}, std::tuple{R"({"Path":7})", true, ""},
          std::tuple{R"({"Path":"/share/u"})", true, "/share/u"}}) {
        rig.Answer("/api/app/usersamba", reply);
        EXPECT_EQ(Files().GetUserSambFolder(folder), result) << reply;
        EXPECT_EQ(folder, expected);
    }
}

TEST_F(FileReplies, OnlyTheSimpleOperationsTurnADeviceCodeIntoFalse) {
    FileBaseData base;
    rig.Answer("/filesvc/mkdir", R"({"code":5,"desc":"disk busy","data":{"fid":1}})");
    EXPECT_FALSE(Files().MakeDirectory({"/d", 0, "user"}, base));
    EXPECT_EQ(base.code, 5);
    EXPECT_EQ(
        rig.LinesOf("FileIntfZeq"),
        std::vector<std::string>{"FileIntfZeq::ParseBaseData: ParseBaseData error: 5, disk busy"});
    EXPECT_EQ(rig.log.Records().front().module, Scribo::subBase);
    rig.Answer("/filesvc/mkdir", R"({"code":0,"data":{"fid":77}})");
    EXPECT_TRUE(Files().MakeDirectory({"/d", 0, "user"}, base));
    EXPECT_EQ(base.fid, 77);
    EXPECT_EQ(base.desc, "");

    rig.log.Clear();
    DeleteResp removed;
    rig.Answer("/filesvc/remove", R"({"code":9,"data":{"progressId":"pg"}})");
    EXPECT_TRUE(Files().Delete({{"/a"}, "user", "force"}, removed));
    EXPECT_EQ(removed.code, 9);
    EXPECT_EQ(removed.progressId, "pg");
    CopyMoveResp copy;
    copy.tasks.resize(2);
    rig.Answer("/trans/copy", R"({"code":9,"desc":"partly"})");
    EXPECT_TRUE(Files().Copy(CopyTask({"/a"}), copy));
    EXPECT_EQ(copy.desc, "partly");
    EXPECT_TRUE(copy.tasks.empty());
    EXPECT_TRUE(rig.log.Records().empty());
}

TEST_F(FileReplies, TaskCenterFieldsOfACopyAreReadOnlyWithCapability8) {
    rig.Answer("/trans/copy", R"({"data":{"tasks":[{"id":1,"subtaskId":2,"centerId":3,)"
                              R"("transId":"t"},"x"]}})");
    for (const bool supported : {false, true}) {
        rig.EnableCaps(supported ? kCap8 : Caps{});
        CopyMoveResp copy;
        ASSERT_TRUE(Files().Copy(CopyTask({"/a"}), copy));
        ASSERT_EQ(copy.tasks.size(), 1u);
        EXPECT_EQ(copy.tasks[0].id, 1);
        EXPECT_EQ(copy.tasks[0].subtaskId + copy.tasks[0].centerId, supported ? 5 : 0);
        EXPECT_EQ(copy.tasks[0].transId, supported ? "t" : "");
    }
}

TEST_F(FileReplies, FolderTreeErrorsSitTwoLevelsDown) {
    FolderStructureCreateResp result;
    rig.Answer("/filesvc/createDirs", R"({"code":1,"data":{"errorInfos":[{"err":2}]}})");
    EXPECT_FALSE(Files().CreateFolderStructure({"/p", {"a"}}, "user", result));
    EXPECT_EQ(result.code, 1);
    rig.Answer("/filesvc/createDirs", R"({"data":{"data":{"errorInfos":[{"path":"a","err":2}]}}})");
    ASSERT_TRUE(Files().CreateFolderStructure({"/p", {"a"}}, "user", result));
    ASSERT_EQ(result.errorInfos.size(), 1u);
    EXPECT_EQ(result.errorInfos[0].err, 2);
}

TEST_F(FileReplies, BatchOperationNeedsCapability10AndReadsTheFirstTask) {
    FileBatchOperationResp result;
    const FileBatchOperationRequestParam request{{"/a"}, {}, "n", 1, "op", "user", "qt", 0, ""};
    EXPECT_FALSE(Files().BatchOperation(request, result));
    EXPECT_EQ(rig.server.RequestCount(), 0u);
    EXPECT_TRUE(rig.log.Records().empty());

    rig.EnableCaps(kCap10);
    rig.Answer("/filesvc/batchOperation", R"({"code":0,"data":{"tasks":[]}})");
    EXPECT_FALSE(Files().BatchOperation(request, result));
    rig.Answer("/filesvc/batchOperation",
               R"({"data":{"tasks":[{"taskId":"31","transId":"a"},{"taskId":32}]}})");
    ASSERT_TRUE(Files().BatchOperation(request, result));
    EXPECT_EQ(result.taskId, 31);
    EXPECT_EQ(result.transId, "a");
}

TEST_F(FileReplies, WithoutTheCapabilityCallbackACopyCarriesNoTaskCenterFields) {
    HttpReqZEQ::RegHttpReqZeqApi(HttpReqZEQ::getZeqConnInfo, nullptr,
                                 HttpReqZEQ::getZeqDataConnInfo, HttpReqZEQ::getFarDataService);
    rig.Answer("/trans/copy", R"({"data":{"tasks":[]}})");
    CopyMoveResp copy;
    EXPECT_TRUE(Files().Copy(CopyTask({"/a"}), copy));
    EXPECT_EQ(rig.server.Requests().at(0).body.find("transId"), std::string::npos);
    // One question for the body, one for the reply.
    EXPECT_EQ(
        rig.log.Count("TaskCenterIntfZEQ::IsSupportFileCap", "getZeqDevCap uninitialized error!"),
        2u);
}

} // namespace
} // namespace servicetest
