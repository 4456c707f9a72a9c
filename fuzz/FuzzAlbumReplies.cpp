// Every reply step of the album service on the same bytes.
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
        GalleryAllAlbumListRsp rsp;
        Access::AllAlbumList(reply, rsp);
    }
    {
        AlbumInfoRsp rsp;
        Access::AlbumInfo(reply, rsp);
    }
    {
        GalleryAlbumIncInfoRsp rsp;
        Access::AlbumIncInfo(reply, rsp);
    }
    {
        GalleryAlbumMembersInfoRsp rsp;
        Access::AlbumMembersInfo(reply, rsp);
    }
    {
        GalleryAlbumMemberIncInfoRsp rsp;
        Access::AlbumMembersIncInfo(reply, rsp);
    }
    {
        std::vector<std::int64_t> ids{1, 2};
        HttpPostRspCode code;
        Access::AddAlbumMembers(reply, ids, &code);
        Access::DelAlbumMembers(reply, ids, nullptr);
    }
    {
        std::int64_t taskId = 0;
        HttpPostRspCode code;
        Access::AddAlbumMembAsync(reply, taskId, &code);
        Access::AddAlbumMembAsync(reply, taskId, nullptr);
    }
    return 0;
}
