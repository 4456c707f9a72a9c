// The reply steps that follow one task: the transfer status form and the
// first task of a task-center list, with and without the reply's code kept.
#include "FuzzSupport.h"
#include "ReplyStepAccess.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;
    {
        TaskStatusRsp rsp;
        Access::TaskStatus(reply, rsp);
    }
    for (const bool keepReplyCode : {true, false}) {
        TaskStatusRsp rsp;
        Access::StatusFromTaskList(reply, rsp, keepReplyCode);
    }
    return 0;
}
