#include "services/TaskCenterIntfZEQ.h"
#include "support/DeviceHost.h"
#include "support/LogCapture.h"

#include <gtest/gtest.h>

namespace {

TEST(TaskCenterCapabilities, WithoutTheCallbackNothingIsSupportedAndEachCheckSaysWhy) {
    testsupport::LogCapture log;
    EXPECT_FALSE(
        TaskCenterIntfZEQ::Instance().IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS));
    EXPECT_FALSE(TaskCenterIntfZEQ::IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER));
    EXPECT_EQ(
        log.Count("TaskCenterIntfZEQ::IsTaskCenterCapSupport", "getZeqDevCap uninitialized error!"),
        1u);
    EXPECT_EQ(log.Count("TaskCenterIntfZEQ::IsSupportFileCap", "getZeqDevCap uninitialized error!"),
              1u);
}

TEST(TaskCenterCapabilities, EachCheckAsksItsOwnCategoryAfresh) {
    testsupport::DeviceHost host("https://127.0.0.1:1/");
    host.SetCapability(2, TASK_CENTER_CAP_GALLERY_STATUS, 1);
    host.SetCapability(1, FILE_CAP_BATCH_OPERATION, 3);
    host.SetCapability(1, FILE_CAP_TRANS_TASK_CENTER, -1);
    TaskCenterIntfZEQ& taskCenter = TaskCenterIntfZEQ::Instance();
    EXPECT_TRUE(taskCenter.IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS));
    EXPECT_FALSE(taskCenter.IsTaskCenterCapSupport(TASK_CENTER_CAP_TYPE_305));
    EXPECT_TRUE(TaskCenterIntfZEQ::IsSupportFileCap(FILE_CAP_BATCH_OPERATION));
    EXPECT_FALSE(TaskCenterIntfZEQ::IsSupportFileCap(FILE_CAP_TRANS_TASK_CENTER));
    // Category 1 and 2 are separate questions, not one capability table.
    host.SetCapability(2, TASK_CENTER_CAP_GALLERY_STATUS, 0);
    EXPECT_FALSE(taskCenter.IsTaskCenterCapSupport(TASK_CENTER_CAP_GALLERY_STATUS));
}

} // namespace
