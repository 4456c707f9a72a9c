#include "services/TaskCenterIntfZEQ.h"

#include "ServiceRig.h"

#include <gtest/gtest.h>

namespace servicetest {
namespace {

using testsupport::Reply;

TaskCenterIntfZEQ& Tasks() {
    return TaskCenterIntfZEQ::Instance();
}

const std::pair<int, int> kCap6{kTaskCenterCap, TASK_CENTER_CAP_GALLERY_STATUS};
const std::pair<int, int> kCap7{kTaskCenterCap, TASK_CENTER_CAP_TYPE_305};
const std::pair<int, int> kCap8{kFileCap, FILE_CAP_TRANS_TASK_CENTER};
const std::pair<int, int> kCap10{kFileCap, FILE_CAP_BATCH_OPERATION};

bool GalleryGet(std::vector<TaskInfo>& out) {
    return Tasks().TaskCenterGet(1, {5, 6}, out);
}
bool GalleryGet() {
    std::vector<TaskInfo> out;
    return GalleryGet(out);
}
bool GalleryClean() {
    std::vector<std::uint64_t> failed;
    return Tasks().HttpTaskCenterClean({1, 2}, failed);
}
bool GalleryRetry() {
    TaskCenterRetryReqRsp rsp;
    return Tasks().HttpTaskCenterRetry({1, 2, 3, "other", "t", {4, 5}}, rsp);
}
bool GalleryCancel() {
    std::vector<std::uint64_t> detail;
    return Tasks().HttpTaskCenterCancel({9}, detail);
}
bool List(TaskSuperType family) {
    std::vector<TaskInfo> out;
    return Tasks().GetAllTaskStatus(family, TASK_CATAGORY_BATCH_LIST, out);
}
bool Clean(TaskSuperType family) {
    std::vector<std::uint64_t> failed;
    return Tasks().CleanTaskRecord(family, {1, 2}, failed);
}
bool Retry(TaskSuperType family, std::int32_t subTask) {
    TaskCenterRetryReqRsp rsp;
    return Tasks().RetryTask(family, {subTask, 2, 7, "other", "t", {4}}, rsp);
}
bool FileTasks() {
    std::vector<TaskInfo> out;
    return Tasks().GetFileTaskStatus(8, out);
}
bool Follow(bool across) {
    TaskStatusRsp rsp;
    return Tasks().GetFileTaskStatus(rsp, 8, 10, across);
}
bool FollowDeletion() {
    TaskStatusRsp rsp;
    return Tasks().GetDeleteOrRecycleTaskStatus(rsp, 8);
}

// ---- Endpoint and body by family and capability ----

const std::vector<Row>& Operations() {
    const auto T = [](const char* operation) {
        return std::string("TaskCenterIntfZEQ::") + operation;
    };
    const auto Body = [](const std::string& members) {
        return R"({"clientType":3,"deviceId":"dev-1",)" + members + "}";
    };
    const auto gallery = [] { return List(TASK_SUPER_TYPE_GALLERY); };
    const auto trans = [] { return List(TASK_SUPER_TYPE_TRANS); };
    const std::string ids = R"("taskIdList":[1,2])";
    // clang-format off
    static const std::vector<Row> rows{
        // Capability 7 alone changes nothing: it is asked only behind 6.
        {"TaskCenterGetWithout6", {kCap7}, [] { return GalleryGet(); },
         Post("/gallery/getAllTask", "", R"({"taskCategory":1,"taskId":[5,6],"taskTypes":[]})"),
         T("TaskCenterGet"), Phrase("post task center info")},
        {"TaskCenterGetWith6Not7", {kCap6}, [] { return GalleryGet(); },
         Post("/gallery/getAllTaskStatus", "", R"({"taskCategory":1,"taskId":[5,6],"taskTypes":[300,302,303,304]})")},
        {"TaskCenterGetWith6And7", {kCap6, kCap7}, [] { return GalleryGet(); },
         Post("/gallery/getAllTaskStatus", "", R"({"taskCategory":1,"taskId":[5,6],"taskTypes":[300,302,303,304,305]})")},
        {"HttpTaskCenterCleanWithout6", {}, GalleryClean,
         Post("/gallery/cleanRecord", "", R"({"taskIdList":[1,2]})"),
         T("HttpTaskCenterClean"), Phrase("clean task center info")},
        {"HttpTaskCenterCleanWith6", {kCap6}, GalleryClean,
         Post("/gallery/cleanTaskRecord", "", R"({"taskIdList":[1,2]})")},
        {"HttpTaskCenterRetrySendsTheRequestsDeviceId", {}, GalleryRetry,
         Post("/gallery/retryTask", "", R"({"isSupportSubTask":1,"taskType":2,"taskId":3,"deviceId":"dev-1","transId":"t","objIdList":[4,5]})"),
         T("HttpTaskCenterRetry"), Phrase("retry task center info")},
        {"HttpTaskCenterCancel", {}, GalleryCancel,
         Post("/gallery/cancelRecord", "", R"({"taskIdList":[9]})"),
         T("HttpTaskCenterCancel"), Phrase("cancel task center info")},
        {"ListGalleryOlder", {}, gallery,
         Post("/gallery/getAllTask", "", Body(R"("taskCategory":2)")),
         T("GetAllTaskStatus"), Phrase("getAllTaskStatus")},
        {"ListGalleryStatus", {kCap6}, gallery,
         Post("/gallery/getAllTaskStatus", "", Body(R"("taskCategory":2,"taskTypes":[300,302,303,304])"))},
        {"ListTransOlder", {}, trans,
         Post("/trans/getAllTask", "", Body(R"("taskCategory":2)"))},
        {"ListTransStatus", {kCap8}, trans,
         Post("/trans/getAllTaskStatus", "", Body(R"("taskCategory":2,"taskTypes":[100,101,102,103,104,105,200,201,202])"))},
        {"ListFileStatus", {kCap10}, [] { return List(TASK_SUPER_TYPE_FILE); },
         Post("/filesvc/getAllTaskStatus", "", Body(R"("taskCategory":2,"taskTypes":[400,401,402,403,404,405,406,407,408])"))},
        {"CleanGalleryOlder", {}, [] { return Clean(TASK_SUPER_TYPE_GALLERY); },
         Post("/gallery/cleanRecord", "", Body(ids)),
         T("CleanTaskRecord"), Phrase("cleanTaskRecord")},
        {"CleanGalleryStatus", {kCap6}, [] { return Clean(TASK_SUPER_TYPE_GALLERY); },
         Post("/gallery/cleanTaskRecord", "", Body(ids))},
        {"CleanTransOlder", {}, [] { return Clean(TASK_SUPER_TYPE_TRANS); },
         Post("/trans/cleanRecord", "", Body(ids))},
        {"CleanTransStatus", {kCap8}, [] { return Clean(TASK_SUPER_TYPE_TRANS); },
         Post("/trans/cleanTaskRecord", "", Body(ids))},
        {"CleanFile", {}, [] { return Clean(TASK_SUPER_TYPE_FILE); },
         Post("/filesvc/cleanTaskRecord", "", Body(ids))},
        {"RetryGalleryWithoutSubTask", {}, [] { return Retry(TASK_SUPER_TYPE_GALLERY, 0); },
         Post("/gallery/retryTask", "", Body(R"("taskId":7)")),
         T("RetryTask"), Phrase("retryTask")},
        {"RetryTransWithSubTask", {}, [] { return Retry(TASK_SUPER_TYPE_TRANS, 1); },
         Post("/trans/retryTask", "", Body(R"("isSupportSubTask":1,"taskId":7,"transId":"t")"))},
        {"RetryFile", {}, [] { return Retry(TASK_SUPER_TYPE_FILE, 0); },
         Post("/filesvc/retryTask", "", Body(R"("taskId":7)"))},
        {"FileTaskList", {}, FileTasks,
         Post("/filesvc/getTaskStatus", "", Body(R"("taskId":8)")),
         T("GetFileTaskStatus"), Phrase("getTaskStatus")},
        {"FollowTransferWithCapability8", {kCap8}, [] { return Follow(false); },
         Post("/trans/getTaskStatus", "", R"({"category":"user","taskId":8})"),
         T("TransGetTaskStatus"), {"TransGetTaskStatus CtxInit fail", "TransGetTaskStatus fail"}},
        {"FollowAcrossCopyOlder", {}, [] { return Follow(true); },
         Post("/trans/acrossstatus", "", R"({"task":[{"id":8}]})"),
         T("TransAcrossStatus"), {"TransAcrossStatus CtxInit fail", "TransAcrossStatus fail"}},
        {"FollowTransferOlder", {}, [] { return Follow(false); },
         Get("/trans/status", "category=user&clientType=3&deviceId=dev-1&taskId=8"),
         T("TransStatus"), {"TransStatus CtxInit fail", "TransStatus fail"}},
        {"FollowDeletion", {}, FollowDeletion,
         Post("/filesvc/getTaskStatus", "", R"({"category":"user","taskId":8})"),
         T("GetDeleteOrRecycleTaskStatus"), {"GetDeleteOrRecycleTaskStatus CtxInit fail", "GetDeleteOrRecycleTaskStatus fail"}},
    };
    // clang-format on
    return rows;
}

INSTANTIATE_TEST_SUITE_P(TaskCenter, RequestTable, testing::ValuesIn(Operations()), RowName);
INSTANTIATE_TEST_SUITE_P(TaskCenter, RequestFailureTable,
                         testing::ValuesIn(WithLines(Operations())), RowName);

TEST(TaskRequestsNotSent, FileListWithoutCap10UnknownFamiliesAndEmptyIdLists) {
    ServiceRig rig;
    std::vector<TaskInfo> out(1);
    EXPECT_TRUE(Tasks().GetAllTaskStatus(TASK_SUPER_TYPE_FILE, TASK_CATAGORY_BATCH_LIST, out));
    EXPECT_EQ(out.size(), 1u);
    const auto unknown = static_cast<TaskSuperType>(3);
    EXPECT_FALSE(Tasks().GetAllTaskStatus(unknown, TASK_CATAGORY_BATCH_LIST, out));
    EXPECT_FALSE(Clean(unknown));
    EXPECT_FALSE(Retry(unknown, 0));
    std::vector<std::uint64_t> failed;
    EXPECT_FALSE(Tasks().CleanTaskRecord(TASK_SUPER_TYPE_FILE, {}, failed));
    EXPECT_EQ(rig.server.RequestCount(), 0u);
    EXPECT_TRUE(rig.log.Records().empty());
}

TEST(TaskCapabilities, WithoutTheCallbackTheOlderEndpointsAreUsedAndEachCheckLogs) {
    ServiceRig rig;
    HttpReqZEQ::RegHttpReqZeqApi(HttpReqZEQ::getZeqConnInfo, nullptr,
                                 HttpReqZEQ::getZeqDataConnInfo, HttpReqZEQ::getFarDataService);
    GalleryGet();
    Follow(false);
    const auto requests = rig.server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].path, "/gallery/getAllTask");
    EXPECT_EQ(requests[1].path, "/trans/status");
    const char* message = "getZeqDevCap uninitialized error!";
    EXPECT_EQ(rig.log.Count("TaskCenterIntfZEQ::IsTaskCenterCapSupport", message), 1u);
    EXPECT_EQ(rig.log.Count("TaskCenterIntfZEQ::IsSupportFileCap", message), 1u);
}

// ---- Reply envelope and device error code, per parser ----

struct EnvelopeCase {
    const char* parser;
    const char* phrase;
    bool (*call)();
};
void PrintTo(const EnvelopeCase& envelope, std::ostream* os) {
    *os << envelope.parser;
}

class TaskReplyEnvelope : public testing::TestWithParam<EnvelopeCase> {
protected:
    ServiceRig rig;
};

TEST_P(TaskReplyEnvelope, EachFailureLogsOnceWithTheParsersPhrase) {
    const std::string phrase = GetParam().phrase;
    const std::pair<const char*, std::string> cases[] = {
        {"{", "StringToCppJsonObj failed for " + phrase},
        {"null", "jsonRoot is null for " + phrase},
        {"[]", "jsonRoot is not object for " + phrase},
        {R"({"code":7,"des":"busy","data":{}})", phrase + " error: 7, busy"},
    };
    for (const auto& [reply, message] : cases) {
        rig.log.Clear();
        rig.server.SetDefault(Reply::Json(reply));
        EXPECT_FALSE(GetParam().call()) << reply;
        EXPECT_EQ(rig.log.Messages(),
                  std::vector<std::string>{"TaskCenterIntfZEQ::" + std::string(GetParam().parser) +
                                           ": " + message});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Parsers, TaskReplyEnvelope,
    testing::Values(
        EnvelopeCase{"ParseTaskCenterGetRsp", "http task center info", GalleryGet},
        EnvelopeCase{"ParseTaskCenterCleanRsp", "http task center info", GalleryClean},
        EnvelopeCase{"ParseTaskCenterRetryRsp", "http task center retry", GalleryRetry},
        EnvelopeCase{"ParseTaskCenterCancelRsp", "http task center cancel", GalleryCancel},
        EnvelopeCase{"ParseTaskStatusRsp", "ParseTaskStatusRsp", [] { return Follow(true); }}),
    [](const auto& info) { return std::string(info.param.parser); });

// ---- Reading the replies ----

class TaskReplies : public testing::Test {
protected:
    ServiceRig rig;
};

TEST_F(TaskReplies, TaskListIsAppendedAndEveryFieldIsRead) {
    rig.Answer("/gallery/getAllTask",
               R"({"code":0,"data":{"tasks":[{"taskId":5,"taskType":2,"progress":-1,)"
               R"("taskBeginTime":"1700","sumNum":9,"finishedNum":4,"originObjectName":"o",)"
               R"("destination":"d","objectType":3,"exceedFlag":true,"errorInfo":{"errorCode":11,)"
               R"("detail":[{"err":12,"name":"n","id":"i"},{"err":13}]}},null,4,{"taskId":6}]}})");
    std::vector<TaskInfo> out(1);
    ASSERT_TRUE(GalleryGet(out));
    ASSERT_EQ(out.size(), 3u);
    const TaskInfo& task = out[1];
    EXPECT_EQ(task.uniqueKey, 8589934597u);
    EXPECT_EQ(task.progress, -1);
    EXPECT_EQ(task.taskBeginTime, 1700);
    EXPECT_EQ(task.sumNum + task.finishedNum, 13u);
    EXPECT_EQ(task.originObjectName + task.destination, "od");
    EXPECT_EQ(task.objectType, 3);
    EXPECT_TRUE(task.exceedFlag);
    EXPECT_EQ(task.errorCode, 11);
    EXPECT_EQ(task.detailErr, 12);
    EXPECT_EQ(task.detailName + task.detailId, "ni");
    EXPECT_EQ(out[2].uniqueKey, 6u);
    EXPECT_EQ(out[2].errorCode + out[2].detailErr, 0);
    ASSERT_TRUE(GalleryGet(out));
    EXPECT_EQ(out.size(), 5u);
}

TEST_F(TaskReplies, TaskListNeedsDataButNotTasks) {
    std::vector<TaskInfo> out;
    rig.Answer("/gallery/getAllTask", R"({"code":0})");
    EXPECT_FALSE(GalleryGet(out));
    rig.Answer("/gallery/getAllTask", R"({"code":0,"data":{"tasks":[]}})");
    EXPECT_TRUE(GalleryGet(out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(rig.log.Records().empty());
}

TEST_F(TaskReplies, CleanRetryAndCancelReadTheirTopLevelKeys) {
    std::vector<std::uint64_t> ids{1};
    rig.Answer("/gallery/cleanRecord", R"({"errorIdList":[3,4]})");
    ASSERT_TRUE(Tasks().HttpTaskCenterClean({3, 4}, ids));
    rig.Answer("/gallery/cancelRecord", R"({"detail":[8]})");
    ASSERT_TRUE(Tasks().HttpTaskCenterCancel({8}, ids));
    EXPECT_EQ(ids, (std::vector<std::uint64_t>{1, 3, 4, 8}));
    rig.Answer("/gallery/retryTask", R"({"tranId":"tr","taskId":"18446744073709551615"})");
    TaskCenterRetryReqRsp rsp;
    ASSERT_TRUE(Tasks().HttpTaskCenterRetry({}, rsp));
    EXPECT_EQ(rsp.tranId, "tr");
    EXPECT_EQ(rsp.taskId, UINT64_MAX);
}

TEST_F(TaskReplies, BatchAppendsThreeFamiliesAndSortsNewestFirst) {
    rig.EnableCaps({kCap10});
    auto tasks = [](std::initializer_list<int> times) {
        std::string list;
        for (const int time : times) {
            list += (list.empty() ? R"({"taskBeginTime":)" : R"(,{"taskBeginTime":)") +
                    std::to_string(time) + "}";
        }
        return R"({"code":0,"data":{"tasks":[)" + list + "]}}";
    };
    rig.Answer("/gallery/getAllTask", tasks({10, 70}));
    rig.Answer("/filesvc/getAllTaskStatus", tasks({90}));
    rig.Answer("/trans/getAllTask", tasks({30}));
    std::vector<TaskInfo> out(1);
    out[0].taskBeginTime = 50;
    ASSERT_TRUE(Tasks().TaskCenterGetBatch(out));
    std::vector<std::int64_t> times;
    for (const TaskInfo& task : out) {
        times.push_back(task.taskBeginTime);
    }
    EXPECT_EQ(times, (std::vector<std::int64_t>{90, 70, 50, 30, 10}));

    // A failing family does not stop the others.
    rig.Answer("/gallery/getAllTask", R"({"code":7})");
    out.clear();
    EXPECT_FALSE(Tasks().TaskCenterGetBatch(out));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out.front().taskBeginTime, 90);
}

TEST_F(TaskReplies, StatusIsDerivedFromProgress) {
    rig.EnableCaps({kCap8});
    for (const auto& [progress, status] :
         {std::pair{-1, 4}, std::pair{100, 3}, std::pair{0, 2}, std::pair{57, 2}}) {
        rig.Answer("/trans/getTaskStatus",
                   R"({"data":{"tasks":[{"taskId":21,"progress":)" + std::to_string(progress) +
                       R"(,"sumNum":9,"finishedNum":4,"errorInfo":{"errorCode":3}}]}})");
        TaskStatusRsp rsp;
        ASSERT_TRUE(Tasks().GetFileTaskStatus(rsp, 21, 100, false));
        EXPECT_EQ(rsp.status, status) << progress;
        EXPECT_EQ(rsp.progress, progress);
        EXPECT_EQ(rsp.taskId, 21);
        EXPECT_EQ(rsp.totalCount, 9);
        EXPECT_EQ(rsp.successCount, 4);
        EXPECT_EQ(rsp.error, 3);
    }
}

TEST_F(TaskReplies, AnEmptyListKeepsTheReplyCodeOnlyForTransfers) {
    rig.EnableCaps({kCap8});
    rig.server.SetDefault(Reply::Json(R"({"code":6,"des":"gone"})"));
    TaskStatusRsp rsp;
    rsp.error = 99;
    EXPECT_FALSE(Tasks().GetDeleteOrRecycleTaskStatus(rsp, 1));
    EXPECT_EQ(rsp.error, 99);
    EXPECT_FALSE(Tasks().GetFileTaskStatus(rsp, 1, 0, false));
    EXPECT_EQ(rsp.error, 6);
}

TEST_F(TaskReplies, OlderFollowersTakeTheCallersTotalAndTheFirstTask) {
    rig.Answer("/trans/status", R"({"code":0,"data":{"tasks":[{"id":"12","progress":40,)"
                                R"("successCount":3,"status":1,"error":0},{"id":13}]}})");
    TaskStatusRsp rsp;
    ASSERT_TRUE(Tasks().GetFileTaskStatus(rsp, 12, 10, false));
    EXPECT_EQ(rsp.totalCount, 10);
    EXPECT_EQ(rsp.taskId, 12);
    EXPECT_EQ(rsp.progress, 40);
    EXPECT_EQ(rsp.successCount, 3);
    EXPECT_EQ(rsp.status, 1);

    // The device's code lands in error before it is judged.
    rig.Answer("/trans/acrossstatus", R"({"code":9,"des":"x"})");
    EXPECT_FALSE(Tasks().GetFileTaskStatus(rsp, 12, 10, true));
    EXPECT_EQ(rsp.error, 9);
    rig.Answer("/trans/acrossstatus", R"({"code":0,"data":[]})");
    EXPECT_FALSE(Tasks().GetFileTaskStatus(rsp, 12, 10, true));
    EXPECT_EQ(rsp.error, 0);
    rig.Answer("/trans/acrossstatus", R"({"code":0,"data":{"tasks":[]}})");
    EXPECT_TRUE(Tasks().GetFileTaskStatus(rsp, 12, 10, true));
}

} // namespace
} // namespace servicetest
