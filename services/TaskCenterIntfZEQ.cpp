#include "services/TaskCenterIntfZEQ.h"

#include "core/HttpReqZEQ.h"
#include "platform/Scribo.h"

namespace {

constexpr int kFileCapCategory = 1;
constexpr int kTaskCenterCapCategory = 2;

bool AskDeviceCap(int category, int cap, int line, const char* function) {
    if (HttpReqZEQ::getZeqDevCap == nullptr) {
        Scribo::Output(Scribo::subCloudSuite, Scribo::LOG_ERROR, line, function,
                       "getZeqDevCap uninitialized error!", true);
        return false;
    }
    return HttpReqZEQ::getZeqDevCap(category, cap) > 0;
}

} // namespace

TaskCenterIntfZEQ& TaskCenterIntfZEQ::Instance() {
    static TaskCenterIntfZEQ instance;
    return instance;
}

TaskCenterIntfZEQ::TaskCenterIntfZEQ() {
    // Constructing a request fills the device request's cached user and device ids.
    HttpReqZEQ request(HttpReqZEQ::HTTP_GET);
}

bool TaskCenterIntfZEQ::IsTaskCenterCapSupport(TaskCenterFeatureCap cap) {
    return AskDeviceCap(kTaskCenterCapCategory, cap, __LINE__,
                        "TaskCenterIntfZEQ::IsTaskCenterCapSupport");
}

bool TaskCenterIntfZEQ::IsSupportFileCap(FileFeatureCap cap) {
    return AskDeviceCap(kFileCapCategory, cap, __LINE__, "TaskCenterIntfZEQ::IsSupportFileCap");
}
