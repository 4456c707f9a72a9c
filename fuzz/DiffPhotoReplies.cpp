// The photo service's reply steps against their jsoncpp reference.
#include "DiffSupport.h"
#include "ReplyStepAccess.h"
#include "reference/ReferenceReplies.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

using difffuzz::Compare;
using difffuzz::IdsAndCode;
using difffuzz::TaskIdAndCode;
using difffuzz::Used;

namespace {

struct SelectedAndCode {
    GalleryFilesSelectedMetadataRsp rsp{3, {std::make_shared<GalleryModel>()}};
    HttpPostRspCode code{77, "earlier"};
};
auto Members(const SelectedAndCode& r) {
    return std::tie(r.rsp, r.code);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    difffuzz::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;

    auto table = Used<GalleryFilesAllMetadataRsp>();
    table.data.push_back(std::make_shared<GalleryModel>());
    Compare(
        table, [&](auto& r) { return Access::AllMetadata(reply, r); },
        [&](auto& r) { return reference::ParseAllMetadataRsp(reply, r); });

    auto changes = Used<GalleryFilesIncRsp>();
    changes.data.emplace_back();
    Compare(
        changes, [&](auto& r) { return Access::IncInfo(reply, r); },
        [&](auto& r) { return reference::ParseIncInfoRsp(reply, r); });

    Compare(
        SelectedAndCode{}, [&](auto& r) { return Access::SelectedMetadata(reply, r.rsp, &r.code); },
        [&](auto& r) { return reference::ParseSelectdMetadataRsp(reply, r.rsp, &r.code); });

    Compare(
        IdsAndCode{}, [&](auto& r) { return Access::DelGalleryFiles(reply, r.ids, &r.code); },
        [&](auto& r) { return reference::ParseDelGalleryFilesRsp(reply, r.ids, &r.code); });
    Compare(
        IdsAndCode{}, [&](auto& r) { return Access::DelBinFiles(reply, r.ids, nullptr); },
        [&](auto& r) { return reference::ParseDelBinFilesRsp(reply, r.ids, nullptr); });
    Compare(
        IdsAndCode{}, [&](auto& r) { return Access::RcvrBinFiles(reply, r.ids, &r.code); },
        [&](auto& r) { return reference::ParseRcvrBinFilesRsp(reply, r.ids, &r.code); });
    Compare(
        IdsAndCode{}, [&](auto& r) { return Access::ClearBin(reply, &r.code); },
        [&](auto& r) { return reference::ParseDelBinFilesRsp(reply, &r.code); });

    Compare(
        TaskIdAndCode{},
        [&](auto& r) { return Access::DelGalleryFilesAsync(reply, r.taskId, &r.code); },
        [&](auto& r) { return reference::ParseDelGalleryFilesAsyncRsp(reply, r.taskId, &r.code); });
    Compare(
        TaskIdAndCode{},
        [&](auto& r) { return Access::DelBinFilesAsync(reply, r.taskId, nullptr); },
        [&](auto& r) { return reference::ParseDelBinFilesAsyncRsp(reply, r.taskId, nullptr); });
    Compare(
        TaskIdAndCode{},
        [&](auto& r) { return Access::RcvrBinFilesAsync(reply, r.taskId, &r.code); },
        [&](auto& r) { return reference::ParseRcvrBinFilesAsyncRsp(reply, r.taskId, &r.code); });

    BinQueryInfo bin{4, 9, {BinFileInfo{}}};
    Compare(
        bin, [&](auto& r) { return Access::QueryBinFiles(reply, r); },
        [&](auto& r) { return reference::ParseQueryBinFilesRsp(reply, r); });
    return 0;
}
