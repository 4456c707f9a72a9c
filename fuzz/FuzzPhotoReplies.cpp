// Every reply step of the photo service on the same bytes.
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
        GalleryFilesAllMetadataRsp rsp;
        Access::AllMetadata(reply, rsp);
    }
    {
        GalleryFilesIncRsp rsp;
        Access::IncInfo(reply, rsp);
    }
    {
        GalleryFilesSelectedMetadataRsp rsp;
        HttpPostRspCode code;
        Access::SelectedMetadata(reply, rsp, &code);
        Access::SelectedMetadata(reply, rsp, nullptr);
    }
    {
        std::vector<std::int64_t> ids{7};
        HttpPostRspCode code;
        Access::DelGalleryFiles(reply, ids, &code);
        Access::DelBinFiles(reply, ids, nullptr);
        Access::RcvrBinFiles(reply, ids, &code);
        Access::ClearBin(reply, &code);
    }
    {
        std::int64_t taskId = 0;
        HttpPostRspCode code;
        Access::DelGalleryFilesAsync(reply, taskId, &code);
        Access::DelBinFilesAsync(reply, taskId, nullptr);
        Access::RcvrBinFilesAsync(reply, taskId, &code);
    }
    {
        BinQueryInfo info;
        Access::QueryBinFiles(reply, info);
    }
    return 0;
}
