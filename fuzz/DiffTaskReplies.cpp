// The task center's reply steps against their jsoncpp reference.
#include "DiffSupport.h"
#include "ReplyStepAccess.h"
#include "reference/ReferenceReplies.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using difffuzz::Compare;

namespace {

struct TasksAndCode {
    std::vector<TaskInfo> tasks{TaskInfo{}};
    std::int64_t code = 77;
};
auto Members(const TasksAndCode& r) {
    return std::tie(r.tasks, r.code);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    difffuzz::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;

    Compare(
        TasksAndCode{}, [&](auto& r) { return Access::TaskCenterGet(reply, r.tasks, r.code); },
        [&](auto& r) { return reference::ParseTaskCenterGetRsp(reply, r.tasks, r.code); });
    Compare(
        std::vector<std::uint64_t>{7}, [&](auto& r) { return Access::TaskCenterClean(reply, r); },
        [&](auto& r) { return reference::ParseTaskCenterCleanRsp(reply, r); });
    Compare(
        TaskCenterRetryReqRsp{"t", 7}, [&](auto& r) { return Access::TaskCenterRetry(reply, r); },
        [&](auto& r) { return reference::ParseTaskCenterRetryRsp(reply, r); });
    Compare(
        std::vector<std::uint64_t>{7}, [&](auto& r) { return Access::TaskCenterCancel(reply, r); },
        [&](auto& r) { return reference::ParseTaskCenterCancelRsp(reply, r); });
    Compare(
        TaskStatusRsp{1, 2, 3, 4, 5, 6}, [&](auto& r) { return Access::TaskStatus(reply, r); },
        [&](auto& r) { return reference::ParseTaskStatusRsp(reply, r); });
    return 0;
}
