// The album service's reply steps against their jsoncpp reference.
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

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    difffuzz::Setup();
    const std::string reply = fuzzsupport::Text(data, size);
    using Access = ReplyStepAccess;

    auto albums = Used<GalleryAllAlbumListRsp>();
    albums.albumlist.push_back(std::make_shared<AlbumBasicModel>());
    Compare(
        albums, [&](auto& r) { return Access::AllAlbumList(reply, r); },
        [&](auto& r) { return reference::ParseAllAlbumListRsp(reply, r); });

    auto files = Used<AlbumInfoRsp>();
    files.data.push_back(std::make_shared<AlbumMembInfo>());
    Compare(
        files, [&](auto& r) { return Access::AlbumInfo(reply, r); },
        [&](auto& r) { return reference::ParseAlbumInfoRsp(reply, r); });

    auto changes = Used<GalleryAlbumIncInfoRsp>();
    changes.data.emplace_back();
    Compare(
        changes, [&](auto& r) { return Access::AlbumIncInfo(reply, r); },
        [&](auto& r) { return reference::ParseAlbumIncInfoRsp(reply, r); });

    auto members = Used<GalleryAlbumMembersInfoRsp>();
    members.data.emplace_back();
    Compare(
        members, [&](auto& r) { return Access::AlbumMembersInfo(reply, r); },
        [&](auto& r) { return reference::ParseAlbumMembersInfoRsp(reply, r); });

    auto memberChanges = Used<GalleryAlbumMemberIncInfoRsp>();
    memberChanges.data.emplace_back();
    Compare(
        memberChanges, [&](auto& r) { return Access::AlbumMembersIncInfo(reply, r); },
        [&](auto& r) { return reference::ParseAlbumMembersIncInfoRsp(reply, r); });

    Compare(
        IdsAndCode{}, [&](auto& r) { return Access::AddAlbumMembers(reply, r.ids, &r.code); },
        [&](auto& r) { return reference::ParseAddAlbumMembersRsp(reply, r.ids, &r.code); });
    Compare(
        IdsAndCode{}, [&](auto& r) { return Access::DelAlbumMembers(reply, r.ids, nullptr); },
        [&](auto& r) { return reference::ParseDelAlbumMembersRsp(reply, r.ids, nullptr); });
    Compare(
        TaskIdAndCode{},
        [&](auto& r) { return Access::AddAlbumMembAsync(reply, r.taskId, &r.code); },
        [&](auto& r) { return reference::ParseAddAlbumMembAsyncRsp(reply, r.taskId, &r.code); });
    return 0;
}
