// Every reply step of the file service on the same bytes, with the device's
// transfer task center capability both present and absent.
#include "FuzzSupport.h"
#include "ReplyStepAccess.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzzsupport::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;
    for (const FilterFileType filter :
         {FILTER_FILE_TYPE_ALL, FILTER_FILE_TYPE_FILE, FILTER_FILE_TYPE_DIR}) {
        FileListData list;
        GetFilesRequestParam request;
        request.path = "/mnt/usb1/";
        request.category = "user";
        request.requestTag = 5;
        Access::FileList(reply, list, request, filter);
    }
    {
        FolderDetailResp detail;
        Access::FolderDetail(reply, detail);
    }
    {
        RecycleFileListData list;
        Access::RecycleFileList(reply, list);
    }
    {
        UsbStatusResp status;
        Access::UsbStatus(reply, status);
    }
    {
        FolderStructureResp structure;
        Access::FolderFileData(reply, structure);
    }
    {
        RcvProgressRespData progress;
        Access::RcvProgress(reply, progress);
    }
    {
        FileBaseData result;
        Access::BaseData(reply, result);
    }
    for (const bool capability : {true, false}) {
        fuzzsupport::CapabilityAnswer() = capability;
        CopyMoveResp result;
        Access::CopyMove(reply, result);
    }
    fuzzsupport::CapabilityAnswer() = true;
    {
        DeleteResp result;
        Access::Delete(reply, result);
    }
    {
        FolderStructureCreateResp result;
        Access::FolderCreate(reply, result);
    }
    {
        FileBatchOperationResp result;
        Access::BatchOperation(reply, result);
    }
    return 0;
}
