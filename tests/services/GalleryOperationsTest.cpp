#include "services/AlbumIntfZEQ.h"
#include "services/PhotoIntfZEQ.h"
#include "services/TaskCenterIntfZEQ.h"

#include "GalleryFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

// Every operation of the two gallery services as one table: what goes on the
// wire, and the one log line of each failure mechanism in the device's words.
namespace {

using gallerytest::GalleryTest;

struct Operation {
    const char* label;
    std::function<bool(HttpPostRspCode*)> call; // hands back the code where the operation keeps it
    const char*
        request; // "METHOD path?query" under gallery/; GETs also carry clientType and deviceId
    const char* body;
    const char* name; // null for a variant whose failures its main row covers
    const char* requestPhrase;
    const char* replyStep;
    const char* replyPhrase;
    bool keepsDeviceCode = true;
    int galleryStatusCap = 0;
    const char* doPhrase = nullptr; // when it differs from requestPhrase
};

void PrintTo(const Operation& op, std::ostream* os) {
    *os << op.label;
}

AlbumIntfZEQ& Albums() {
    return AlbumIntfZEQ::Instance();
}
PhotoIntfZEQ& Photos() {
    return PhotoIntfZEQ::Instance();
}

// Runs a query into a record that starts with the caller's envelope and hands
// back what the record holds afterwards.
template <typename Rsp> auto IntoRecord(std::function<bool(Rsp&)> query) {
    return [query](HttpPostRspCode* code) {
        Rsp rsp;
        static_cast<HttpPostRspCode&>(rsp) = *code;
        const bool ok = query(rsp);
        *code = rsp;
        return ok;
    };
}

AlbumBasicModel Album(std::int64_t id, std::int64_t num) {
    AlbumBasicModel album;
    album.albumId = id;
    album.num = num;
    return album;
}

using List = GalleryAllAlbumListRsp;
using Ids = std::vector<std::int64_t>;
Ids g_ids;
Ids g_fileIds{11, 12};
std::int64_t g_id = 0;
GalleryAlbumAttr g_attr{1, "1990-01-01"};
const ChgAlbumMembersParam kMembers{5, "A", 1, {11, 12}, 99};
const ChgAlbumShareToPersonParam kShare{5, "A", 6, {{1, 2, "a.jpg"}, {3, 4, "b.jpg"}}, 99};
const AlbumCfgModifyParam kCfg{1, 5, 8, "New", nullptr, 0, 77};
const AlbumCfgModifyParam kCfgAttr{1, 5, 8, "New", &g_attr, 0, 77};
const std::vector<AlbumBasicModel> kFaces{Album(5, 3), Album(0, 9), Album(6, 8), Album(7, 8),
                                          Album(8, 1)};
const std::vector<GalleryFileMember> kFiles{{1, "a.jpg"}, {2, "b.mp4"}};

#define MEMBS R"("membs":[{"fileId":1,"name":"a.jpg"},{"fileId":2,"name":"b.mp4"}])"
#define SHARE_FILES                                                                                \
    R"("fileIds":[{"fileId":1,"fileName":"a.jpg","ownerId":2},{"fileId":3,"fileName":"b.jpg","ownerId":4}])"

// Field-list bodies keep their list order; tree bodies come out with sorted keys.
// clang-format off
const Operation kOperations[] = {
    {"AllAlbumList", IntoRecord<List>([](List& r) { return Albums().GetGalleryAllAlbumList(-5, 20, r); }),
     "GET getAllAlbumList?lastAlbumId=-5&num=20", "",
     "AlbumIntfZEQ::GetGalleryAllAlbumList", "get all album list", "AlbumIntfZEQ::ParseAllAlbumListRsp", "http get all albumlist", false},
    {"AlbumByType", IntoRecord<List>([](List& r) { return Albums().GetGalleryAlbumByType(GalleryAlbumType(4), r); }),
     "GET getAlbumList?albumType=4", "",
     "AlbumIntfZEQ::GetGalleryAlbumByType", "get album by type", "AlbumIntfZEQ::ParseAllAlbumListRsp", "http get all albumlist", false},
    {"ShareAlbumListIgnoresItsFirstArgument", IntoRecord<List>([](List& r) { return Albums().GetShareAlbumList(12345, r); }),
     "GET getAlbumList?albumType=6", "", nullptr, nullptr, nullptr, nullptr},
    {"AlbumInfo", IntoRecord<AlbumInfoRsp>([](AlbumInfoRsp& r) { return Albums().GetAlbumInfo(7, GalleryAlbumType(2), 1000, 33, r); }),
     "GET getAlbumInfo?albumId=7&albumType=2&lastRowId=33&lastCreTime=1000&num=500&dataType=1", "",
     "AlbumIntfZEQ::GetAlbumInfo", "get album info", "AlbumIntfZEQ::ParseAlbumInfoRsp", "http get album info", false},
    {"ShareAlbumMembInfo", IntoRecord<AlbumInfoRsp>([](AlbumInfoRsp& r) { return Albums().GetShareAlbumMembInfo(7, 1000, 33, r); }),
     "GET getAlbumInfo?albumId=7&albumType=6&lastRowId=33&lastCreTime=1000&num=500&dataType=1", "", nullptr, nullptr, nullptr, nullptr},
    {"AlbumIncInfo", IntoRecord<GalleryAlbumIncInfoRsp>([](auto& r) { return Albums().GetGalleryAlbumIncInfo(9, 50, r); }),
     "GET albumIncInfo?preId=9&num=50", "",
     "AlbumIntfZEQ::GetGalleryAlbumIncInfo", "get album inc info", "AlbumIntfZEQ::ParseAlbumIncInfoRsp", "http get album inc info"},
    {"AlbumCfg", [](HttpPostRspCode*) { AlbumBasicModel m; return Albums().GetSelectedGalleryAlbumCfg(23, 8, m); },
     "GET albumCfg?albumType=23&albumId=8", "",
     "AlbumIntfZEQ::GetSelectedGalleryAlbumCfg", "get album cfg", "AlbumIntfZEQ::GetSelectedGalleryAlbumCfg", "http get album cfg", false},
    {"MembersInfo", IntoRecord<GalleryAlbumMembersInfoRsp>([](auto& r) { return Albums().GetGalleryAlbumMembersInfo(1, 2, 3, 4, r); }),
     "GET getAlbumMembsInfo?albumType=1&lastRowId=2&lastCreTime=3&num=4", "",
     "AlbumIntfZEQ::GetGalleryAlbumMembersInfo", "get album members info", "AlbumIntfZEQ::ParseAlbumMembersInfoRsp", "http get album members info"},
    {"MemberIncInfo", IntoRecord<GalleryAlbumMemberIncInfoRsp>([](auto& r) { return Albums().GetGalleryAlbumMemberIncInfo(5, 6, 7, r); }),
     "GET albumMembIncInfo?preId=5&albumType=6&num=7", "",
     "AlbumIntfZEQ::GetGalleryAlbumMemberIncInfo", "get album member inc info", "AlbumIntfZEQ::ParseAlbumMembersIncInfoRsp", "http get album member inc info"},
    {"CreateAlbum", [](HttpPostRspCode* c) { return Albums().CreateGalleryUserAlbum(g_id, "Trip", 1, nullptr, c); },
     "POST addAlbum", R"({"clientType":3,"deviceId":"dev-1","albumName":"Trip","albumType":1})",
     "AlbumIntfZEQ::CreateGalleryUserAlbum", "post add user album", "AlbumIntfZEQ::CreateGalleryUserAlbum", "http req add user album"},
    {"CreateAlbumWithAttr", [](HttpPostRspCode* c) { return Albums().CreateGalleryUserAlbum(g_id, "Ann", 23, &g_attr, c); },
     "POST addAlbum", R"({"clientType":3,"deviceId":"dev-1","albumName":"Ann","albumType":23,"albumAttr":{"gender":1,"birth":"1990-01-01"}})",
     nullptr, nullptr, nullptr, nullptr},
    {"DeleteAlbum", [](HttpPostRspCode* c) { return Albums().DeleteGalleryUserAlbum("Trip", 1, 9, c); },
     "POST delAlbum", R"({"clientType":3,"deviceId":"dev-1","albumName":"Trip","albumType":1,"albumId":9})",
     "AlbumIntfZEQ::DeleteGalleryUserAlbum", "post del user album", "AlbumIntfZEQ::DeleteGalleryUserAlbum", "http req del user album"},
    {"DeleteShareAlbum", [](HttpPostRspCode* c) { return Albums().DeleteShareAlbum(9, "Trip", c); },
     "POST delAlbum", R"({"clientType":3,"deviceId":"dev-1","albumName":"Trip","albumType":6,"albumId":9})", nullptr, nullptr, nullptr, nullptr},
    {"ModifyName", [](HttpPostRspCode* c) { return Albums().ModifyGalleryAlbumCfg(kCfg, MDFY_ALBUM_CFG_NAME, nullptr, c); },
     "POST albumCfg", R"({"albumId":5,"albumName":"New","albumType":1,"clientType":3,"deviceId":"dev-1","modifyTime":77,"toShareAlbum":0})",
     "AlbumIntfZEQ::ModifyGalleryAlbumCfg", "post modify album cfg", "AlbumIntfZEQ::ModifyGalleryAlbumCfg", "http req modify album cfg"},
    {"ModifyRename", [](HttpPostRspCode* c) { return Albums().ModifyGalleryAlbumCfg(kCfg, MDFY_ALBUM_CFG_RENAME, nullptr, c); },
     "POST albumCfg", R"({"albumId":5,"albumName":"New","albumType":1,"clientType":3,"deviceId":"dev-1","modifyTime":77,"toShareAlbum":0})",
     nullptr, nullptr, nullptr, nullptr},
    {"ModifyCover", [](HttpPostRspCode* c) { return Albums().ModifyGalleryAlbumCfg(kCfg, MDFY_ALBUM_CFG_COVER, nullptr, c); },
     "POST albumCfg", R"({"albumId":5,"albumType":1,"clientType":3,"coverId":8,"deviceId":"dev-1","modifyTime":77,"toShareAlbum":0})",
     nullptr, nullptr, nullptr, nullptr},
    {"ModifyAttrWithoutAttr", [](HttpPostRspCode* c) { return Albums().ModifyGalleryAlbumCfg(kCfg, MDFY_ALBUM_CFG_ATTR, nullptr, c); },
     "POST albumCfg", R"({"albumAttr":{"birth":"","gender":0},"albumId":5,"albumType":1,"clientType":3,"deviceId":"dev-1","modifyTime":77,"toShareAlbum":0})",
     nullptr, nullptr, nullptr, nullptr},
    {"ModifyAttr", [](HttpPostRspCode* c) { return Albums().ModifyGalleryAlbumCfg(kCfgAttr, MDFY_ALBUM_CFG_ATTR, nullptr, c); },
     "POST albumCfg", R"({"albumAttr":{"birth":"1990-01-01","gender":1},"albumId":5,"albumType":1,"clientType":3,"deviceId":"dev-1","modifyTime":77,"toShareAlbum":0})",
     nullptr, nullptr, nullptr, nullptr},
    {"AddMembers", [](HttpPostRspCode* c) { return Albums().AddGalleryAlbumMembers(kMembers, g_ids, c); },
     "POST addAlbumMemb", R"({"clientType":3,"deviceId":"dev-1","albumId":5,"albumName":"A","albumType":1,"membs":[{"fileId":11},{"fileId":12}],"addTime":99})",
     "AlbumIntfZEQ::AddGalleryAlbumMembers", "post add album members", "AlbumIntfZEQ::ParseAddAlbumMembersRsp", "http req add album members"},
    {"RemoveMembers", [](HttpPostRspCode* c) { return Albums().RmvGalleryAlbumMembers(kMembers, g_ids, c); },
     "POST delAlbumMemb", R"({"clientType":3,"deviceId":"dev-1","albumId":5,"albumName":"A","albumType":1,"membs":[{"fileId":11},{"fileId":12}],"addTime":99})",
     "AlbumIntfZEQ::RmvGalleryAlbumMembers", "post del album members", "AlbumIntfZEQ::ParseDelAlbumMembersRsp", "http req del album members"},
    {"AddMembersAsync", [](HttpPostRspCode* c) { return Albums().AddAlbumMembersAsync(kMembers, "t-1", 4, g_id, c); },
     "POST addAlbumMembAsync", R"({"addTime":99,"albumId":5,"albumName":"A","albumType":1,"clientType":3,"deviceId":"dev-1","membs":[{"fileId":11},{"fileId":12}]})",
     "AlbumIntfZEQ::AddAlbumMembersAsync", "post add album members async", "AlbumIntfZEQ::ParseAddAlbumMembAsyncRsp", "http req add album members async"},
    {"AddMembersAsyncWithTransferIds", [](HttpPostRspCode* c) { return Albums().AddAlbumMembersAsync(kMembers, "t-1", 4, g_id, c); },
     "POST addAlbumMembAsync", R"({"addTime":99,"albumId":5,"albumName":"A","albumType":1,"clientType":3,"deviceId":"dev-1","membs":[{"fileId":11},{"fileId":12}],"subTaskId":4,"transId":"t-1"})",
     nullptr, nullptr, nullptr, nullptr, true, 1},
    {"ShareToPersonIgnoresTheCapability", [](HttpPostRspCode* c) { return Albums().AlbumShareToPerson(kShare, c); },
     "POST shareToPerson", R"({"addTime":99,"albumId":5,"albumName":"A","albumType":6,"clientType":3,"deviceId":"dev-1",)" SHARE_FILES "}",
     "AlbumIntfZEQ::AlbumShareToPerson", "post add shared album members", "AlbumIntfZEQ::ParseAddAlbumMembAsyncRsp", "http req add album members async", true, 1},
    {"ShareToPersonAsync", [](HttpPostRspCode* c) { return Albums().AlbumShareToPersonAsync(kShare, "t-1", 4, g_id, c); },
     "POST addShareToPerson", R"({"addTime":99,"albumId":5,"albumName":"A","albumType":6,"clientType":3,"deviceId":"dev-1",)" SHARE_FILES "}",
     "AlbumIntfZEQ::AlbumShareToPersonAsync", "post add shared album members async", "AlbumIntfZEQ::ParseAddAlbumMembAsyncRsp", "http req add album members async"},
    {"ShareToPersonAsyncWithTransferIds", [](HttpPostRspCode* c) { return Albums().AlbumShareToPersonAsync(kShare, "t-1", 4, g_id, c); },
     "POST addShareToPerson", R"({"addTime":99,"albumId":5,"albumName":"A","albumType":6,"clientType":3,"deviceId":"dev-1",)" SHARE_FILES R"(,"subTaskId":4,"transId":"t-1"})",
     nullptr, nullptr, nullptr, nullptr, true, 1},
    // The first album to reach the largest count leads; ties go to the back; ids below 1 stay out.
    {"MergeFaceAlbum", [](HttpPostRspCode* c) { return Albums().MergeFaceAlbum("Ann", kFaces, c); },
     "POST mergeFaceAlbums", R"({"albumIdMembs":[6,5,7,8],"albumName":"Ann","clientType":3,"deviceId":"dev-1"})",
     "AlbumIntfZEQ::MergeFaceAlbum", "post merge face album", "AlbumIntfZEQ::MergeFaceAlbum", "http req merge face album"},
    {"HiddenFaceAlbum", [](HttpPostRspCode* c) { return Albums().HiddenFaceAlbum({Album(3, 0), Album(-1, 0), Album(4, 0)}, c); },
     "POST modifyAlbumsHiddenStatus", R"({"albumIdMembs":[3,4],"albumType":23,"clientType":3,"deviceId":"dev-1","hiddenStatus":1})",
     "AlbumIntfZEQ::HiddenFaceAlbum", "post hidden face album", "AlbumIntfZEQ::HiddenFaceAlbum", "http req hidden face album"},
    {"HideNothingStillAsks", [](HttpPostRspCode* c) { return Albums().HiddenFaceAlbum({}, c); },
     "POST modifyAlbumsHiddenStatus", R"({"albumIdMembs":[],"albumType":23,"clientType":3,"deviceId":"dev-1","hiddenStatus":1})",
     nullptr, nullptr, nullptr, nullptr},

    {"AllMetadata", IntoRecord<GalleryFilesAllMetadataRsp>([](auto& r) { return Photos().GetGalleryFilesAllMetadata(100, r); }),
     "GET getFullPhotosInfoTable?startFileId=100", "",
     "PhotoIntfZEQ::GetGalleryFilesAllMetadata", "get full photos info tabl", "PhotoIntfZEQ::ParseAllMetadataRsp", "http get full photos info",
     true, 0, "get full photos info table"},
    {"IncInfo", IntoRecord<GalleryFilesIncRsp>([](auto& r) { return Photos().GetGalleryFilesIncInfo(-1, r); }),
     "GET getIncPhotosInfoTable?preRowId=-1", "",
     "PhotoIntfZEQ::GetGalleryFilesIncInfo", "get inc photos info table", "PhotoIntfZEQ::ParseIncInfoRsp", "http get inc photos info"},
    {"SelectedMetadata", [](HttpPostRspCode* c) { GalleryFilesSelectedMetadataRsp r; return Photos().GetSelectedGalleryFilesMetadata(g_fileIds, r, c); },
     "POST getSelectedPhotosInfo", R"({"clientType":3,"fileIds":[{"fileId":11},{"fileId":12}]})",
     "PhotoIntfZEQ::GetSelectedGalleryFilesMetadata", "post selected photos info", "PhotoIntfZEQ::ParseSelectdMetadataRsp", "http req selected photos info"},
    {"SelectedMetadataOfNothing", [](HttpPostRspCode* c) { Ids none; GalleryFilesSelectedMetadataRsp r; return Photos().GetSelectedGalleryFilesMetadata(none, r, c); },
     "POST getSelectedPhotosInfo", R"({"clientType":3,"fileIds":[]})", nullptr, nullptr, nullptr, nullptr},
    {"ModifyFileAttr", [](HttpPostRspCode* c) { return Photos().ModifyGalleryFileAttr(5, "", c); },
     "POST modifyFileAttr", R"({"clientType":3,"deviceId":"dev-1","id":5,"comment":""})",
     "PhotoIntfZEQ::ModifyGalleryFileAttr", "post modify gallery file attr", "PhotoIntfZEQ::ModifyGalleryFileAttr", "http req modify gallery file attr"},
    {"DeleteFiles", [](HttpPostRspCode* c) { return Photos().DeleteGalleryFiles(kFiles, g_ids, c); },
     "POST delFile", R"({"clientType":3,"userId":"user-1","deviceId":"dev-1",)" MEMBS "}",
     "PhotoIntfZEQ::DeleteGalleryFiles", "post delete gallery files", "PhotoIntfZEQ::ParseDelGalleryFilesRsp", "http req delete gallery files"},
    {"DeleteNoFiles", [](HttpPostRspCode* c) { return Photos().DeleteGalleryFiles({}, g_ids, c); },
     "POST delFile", R"({"clientType":3,"userId":"user-1","deviceId":"dev-1","membs":[]})", nullptr, nullptr, nullptr, nullptr},
    {"DeleteFilesAsync", [](HttpPostRspCode* c) { return Photos().DeleteGalleryFilesAsync(kFiles, "t-1", 4, g_id, c); },
     "POST delFileAsync", R"({"clientType":3,"deviceId":"dev-1",)" MEMBS R"(,"subTaskId":4,"transId":"t-1","userId":"user-1"})",
     "PhotoIntfZEQ::DeleteGalleryFilesAsync", "post delete gallery files async", "PhotoIntfZEQ::ParseDelGalleryFilesAsyncRsp", "http req delete gallery files async"},
    {"DeleteBinFiles", [](HttpPostRspCode* c) { return Photos().DeleteBinFiles(kFiles, g_ids, c); },
     "POST cleanBin", R"({"clientType":3,"userId":"user-1","deviceId":"dev-1","empty":0,)" MEMBS "}",
     "PhotoIntfZEQ::DeleteBinFiles", "post delete bin files", "PhotoIntfZEQ::ParseDelBinFilesRsp", "http del bin info"},
    {"ClearBin", [](HttpPostRspCode* c) { return Photos().DeleteBinFiles(c); },
     "POST cleanBin", R"({"clientType":3,"userId":"user-1","deviceId":"dev-1","empty":1,"membs":[]})",
     "PhotoIntfZEQ::DeleteBinFiles", "post clear bin files", "PhotoIntfZEQ::ParseDelBinFilesRsp", "http clear bin info"},
    {"DeleteBinFilesAsync", [](HttpPostRspCode* c) { return Photos().DeleteBinFilesAsync(kFiles, "t-1", 4, g_id, c); },
     "POST cleanBinAsync", R"({"clientType":3,"deviceId":"dev-1","empty":0,)" MEMBS R"(,"subTaskId":4,"transId":"t-1","userId":"user-1"})",
     "PhotoIntfZEQ::DeleteBinFilesAsync", "post delete bin files async", "PhotoIntfZEQ::ParseDelBinFilesAsyncRsp", "http req delete bin files async"},
    {"RecoverBinFiles", [](HttpPostRspCode* c) { return Photos().RecoverBinFiles(kFiles, g_ids, c); },
     "POST recoverFile", R"({"clientType":3,"userId":"user-1","deviceId":"dev-1","empty":0,)" MEMBS "}",
     "PhotoIntfZEQ::RecoverBinFiles", "post recover bin files", "PhotoIntfZEQ::ParseRcvrBinFilesRsp", "http req recover bin files"},
    {"RecoverBinFilesAsync", [](HttpPostRspCode* c) { return Photos().RecoverBinFilesAsync(kFiles, "t-1", 4, g_id, c); },
     "POST recoverFileAsync", R"({"clientType":3,"deviceId":"dev-1",)" MEMBS R"(,"subTaskId":4,"transId":"t-1","userId":"user-1"})",
     "PhotoIntfZEQ::RecoverBinFilesAsync", "post recover bin files async", "PhotoIntfZEQ::ParseRcvrBinFilesAsyncRsp", "http req recover bin files async"},
    {"QueryBin", [](HttpPostRspCode*) { BinQueryInfo info; return Photos().QueryBinFiles(0, 50, info); },
     "POST queryBin", R"({"offset":0,"num":50})",
     "PhotoIntfZEQ::QueryBinFiles", "post query bin files", "PhotoIntfZEQ::ParseQueryBinFilesRsp", "http query bin info", false},
};
// clang-format on
#undef MEMBS
#undef SHARE_FILES

class Requests : public GalleryTest, public testing::WithParamInterface<Operation> {};

TEST_P(Requests, GoOutExactly) {
    const Operation& op = GetParam();
    host.SetCapability(2, TASK_CENTER_CAP_GALLERY_STATUS, op.galleryStatusCap);
    HttpPostRspCode code;
    EXPECT_TRUE(op.call(&code));
    ASSERT_EQ(server.RequestCount(), 1u);
    const auto sent = server.Requests().front();
    const std::string request = op.request;
    const auto space = request.find(' ');
    const auto question = request.find('?');
    auto query =
        gallerytest::QueryMap(question == std::string::npos ? "" : request.substr(question + 1));
    if (sent.method == "GET") {
        query.insert({{"clientType", "3"}, {"deviceId", "dev-1"}});
    }
    EXPECT_EQ(sent.method, request.substr(0, space));
    EXPECT_EQ(sent.path, "/gallery/" + request.substr(space + 1, question - space - 1));
    EXPECT_EQ(gallerytest::QueryMap(sent.query), query);
    EXPECT_EQ(sent.body, op.body);
}

INSTANTIATE_TEST_SUITE_P(Gallery, Requests, testing::ValuesIn(kOperations),
                         [](const auto& info) { return std::string(info.param.label); });

enum class Mechanism { Preparation, Transfer, Envelope, DeviceError };
constexpr const char* kMechanismNames[] = {"Preparation", "Transfer", "Envelope", "DeviceError"};

void PrintTo(Mechanism mechanism, std::ostream* os) {
    *os << kMechanismNames[static_cast<int>(mechanism)];
}

std::vector<Operation> MainRows() {
    std::vector<Operation> rows;
    for (const Operation& op : kOperations) {
        if (op.name != nullptr) {
            rows.push_back(op);
        }
    }
    return rows;
}

class FailureLines : public GalleryTest,
                     public testing::WithParamInterface<std::tuple<Operation, Mechanism>> {
protected:
    // The service's own lines, each checked for the service's module and the
    // error severity.
    std::vector<std::string> ServiceLines(const std::string& service) const {
        const auto module = service == "AlbumIntfZEQ" ? Scribo::subAlbum : Scribo::subGallery;
        std::vector<std::string> lines;
        for (const auto& record : log.Records()) {
            if (record.function.starts_with(service + "::")) {
                EXPECT_EQ(record.module, module) << record.message;
                EXPECT_EQ(record.severity, Scribo::LOG_ERROR) << record.message;
                lines.push_back(record.function + ": " + record.message);
            }
        }
        return lines;
    }
};

TEST_P(FailureLines, AreLoggedOnceInTheDevicesWords) {
    const auto& [op, mechanism] = GetParam();
    const std::string name = std::string(op.name) + ": ";
    const std::string step = std::string(op.replyStep) + ": ";
    const std::string phrase = op.replyPhrase;
    HttpPostRspCode code{99, "untouched"};
    std::vector<std::string> expected;
    switch (mechanism) {
    case Mechanism::Preparation:
        host.SetBaseUrl("https://");
        EXPECT_FALSE(op.call(&code));
        expected = {name + "http request init failed for " + op.requestPhrase};
        break;
    case Mechanism::Transfer:
        host.SetBaseUrl("https://127.0.0.1:" + std::to_string(testsupport::RefusedPort()) + "/");
        EXPECT_FALSE(op.call(&code));
        expected = {name + "http request do failed for " +
                    (op.doPhrase != nullptr ? op.doPhrase : op.requestPhrase)};
        break;
    case Mechanism::Envelope:
        for (const char* reply : {"{", "null", "[1]"}) {
            server.SetDefault(testsupport::Reply::Json(reply));
            EXPECT_FALSE(op.call(&code));
        }
        expected = {step + "StringToCppJsonObj failed for " + phrase,
                    step + "jsonRoot is null for " + phrase,
                    step + "jsonRoot is not object for " + phrase};
        break;
    case Mechanism::DeviceError:
        server.SetDefault(testsupport::Reply::Json(R"({"code":7,"des":"busy"})"));
        EXPECT_FALSE(op.call(&code));
        expected = {step + phrase + " error: 7, busy"};
        break;
    }
    const std::string service = std::string(op.name).substr(0, std::string(op.name).find(':'));
    EXPECT_EQ(ServiceLines(service), expected);
    // The device's code reaches the caller before the verdict, and only from a readable reply.
    const bool stored = mechanism == Mechanism::DeviceError && op.keepsDeviceCode;
    EXPECT_EQ(code.code, stored ? 7 : 99);
    EXPECT_EQ(code.des, stored ? "busy" : "untouched");
}

INSTANTIATE_TEST_SUITE_P(Gallery, FailureLines,
                         testing::Combine(testing::ValuesIn(MainRows()),
                                          testing::Values(Mechanism::Preparation,
                                                          Mechanism::Transfer, Mechanism::Envelope,
                                                          Mechanism::DeviceError)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).label) + "_" +
                                    kMechanismNames[static_cast<int>(std::get<1>(info.param))];
                         });

} // namespace
