// Every reply step of the device information service on the same bytes.
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
        DiskStatisInfo info;
        Access::UserDataStatis(reply, info);
    }
    {
        DeviceInfo info;
        Access::DeviceInformation(reply, info);
    }
    {
        volatile std::size_t slots = Access::DiskStatus(reply).size();
        (void)slots;
    }
    {
        std::vector<DeviceUserInfo> users(1);
        Access::UserList(reply, users);
    }
    return 0;
}
