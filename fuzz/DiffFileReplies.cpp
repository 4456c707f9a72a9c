// The file service's reply steps against their jsoncpp reference, with the
// transfer task center capability both present and absent.
#include "DiffSupport.h"
#include "ReplyStepAccess.h"
#include "reference/ReferenceReplies.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using difffuzz::Compare;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    difffuzz::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;

    GetFilesRequestParam request;
    request.category = "user";
    request.requestTag = 5;
    FileListData listing;
    listing.code = 77;
    listing.files.push_back(std::make_shared<FileData>());
    for (const FilterFileType filter :
         {FILTER_FILE_TYPE_ALL, FILTER_FILE_TYPE_FILE, FILTER_FILE_TYPE_DIR}) {
        Compare(
            listing, [&](auto& r) { return Access::FileList(reply, r, request, filter); },
            [&](auto& r) { return reference::ParseFileListData(reply, r, request, filter); });
    }
    Compare(
        FolderDetailResp{77, "n", 1, 2, 3, 4, "v"},
        [&](auto& r) { return Access::FolderDetail(reply, r); },
        [&](auto& r) { return reference::ParseFolderDetailResp(reply, r); });
    Compare(
        RecycleFileListData{true, 1, 2, {std::make_shared<RecycleFileData>()}},
        [&](auto& r) { return Access::RecycleFileList(reply, r); },
        [&](auto& r) { return reference::ParseRecycleFileListData(reply, r); });
    Compare(
        UsbStatusResp{77, "v", true, "/mnt", {UsbDiskInfo{}}},
        [&](auto& r) { return Access::UsbStatus(reply, r); },
        [&](auto& r) { return reference::ParseUsbStatusResp(reply, r); });
    Compare(
        FolderStructureResp{77, 1, "/d", {FolderFileEntry{}}, true},
        [&](auto& r) { return Access::FolderFileData(reply, r); },
        [&](auto& r) { return reference::ParseFolderFileDataResp(reply, r); });
    Compare(
        RcvProgressRespData{1, 2, 3, true, {RecoverErrorInfo{}}},
        [&](auto& r) { return Access::RcvProgress(reply, r); },
        [&](auto& r) { return reference::ParseRcvProgressResp(reply, r); });
    Compare(
        FileBaseData{77, "d", "v", 1}, [&](auto& r) { return Access::BaseData(reply, r); },
        [&](auto& r) { return reference::ParseBaseData(reply, r); });
    for (const bool capability : {true, false}) {
        fuzzsupport::CapabilityAnswer() = capability;
        Compare(
            CopyMoveResp{77, "d", {CopyMoveTaskResult{}}},
            [&](auto& r) { return Access::CopyMove(reply, r); },
            [&](auto& r) { return reference::ParseCopyMoveResp(reply, r); });
    }
    fuzzsupport::CapabilityAnswer() = true;
    Compare(
        DeleteResp{77, "p"}, [&](auto& r) { return Access::Delete(reply, r); },
        [&](auto& r) { return reference::ParseDeleteResp(reply, r); });
    Compare(
        FolderStructureCreateResp{77, {FolderCreateError{}}},
        [&](auto& r) { return Access::FolderCreate(reply, r); },
        [&](auto& r) { return reference::ParseFolderCreateResp(reply, r); });
    Compare(
        FileBatchOperationResp{77, 1, "t"},
        [&](auto& r) { return Access::BatchOperation(reply, r); },
        [&](auto& r) { return reference::ParseBatchOperationResp(reply, r); });
    return 0;
}
