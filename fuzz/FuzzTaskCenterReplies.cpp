// Every reply step of the task center listings and changes on the same bytes.
// The clean and cancel steps read id arrays with the JSON library's own
// conversion, whose exceptions reach the caller by contract.
#include "FuzzSupport.h"
#include "ReplyStepAccess.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;
    {
        std::vector<TaskInfo> tasks;
        Access::TaskCenterGet(reply, tasks);
        std::int64_t code = 0;
        Access::TaskCenterGet(reply, tasks, code);
    }
    {
        std::vector<std::uint64_t> failedIds;
        fuzzsupport::JsonLibraryMayThrow([&] { return Access::TaskCenterClean(reply, failedIds); });
    }
    {
        TaskCenterRetryReqRsp rsp;
        Access::TaskCenterRetry(reply, rsp);
    }
    {
        std::vector<std::uint64_t> detail;
        fuzzsupport::JsonLibraryMayThrow([&] { return Access::TaskCenterCancel(reply, detail); });
    }
    return 0;
}
