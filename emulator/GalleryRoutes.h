#pragma once

#include "emulator/Router.h"
#include "emulator/Services.h"

namespace zeqemu {

// Albums, photo metadata and the gallery recycle bin under "gallery/".
class GalleryRoutes {
public:
    explicit GalleryRoutes(Services services) : m_s(services) {}
    void Register(Router& router);

private:
    // Album queries.
    ApiReply AllAlbums(const ApiRequest& q);
    ApiReply AlbumsByType(const ApiRequest& q);
    ApiReply AlbumFiles(const ApiRequest& q);
    ApiReply AlbumChanges(const ApiRequest& q);
    ApiReply AlbumSettings(const ApiRequest& q);
    ApiReply MembersOfType(const ApiRequest& q);
    ApiReply MemberChanges(const ApiRequest& q);
    // Album changes.
    ApiReply AddAlbum(const ApiRequest& q);
    ApiReply DeleteAlbum(const ApiRequest& q);
    ApiReply ChangeAlbumSettings(const ApiRequest& q);
    ApiReply AddMembers(const ApiRequest& q);
    ApiReply RemoveMembers(const ApiRequest& q);
    ApiReply AddMembersAsync(const ApiRequest& q);
    ApiReply ShareToPerson(const ApiRequest& q);
    ApiReply ShareToPersonAsync(const ApiRequest& q);
    ApiReply MergeFaceAlbums(const ApiRequest& q);
    ApiReply HideAlbums(const ApiRequest& q);
    // Photo metadata.
    ApiReply FullTable(const ApiRequest& q);
    ApiReply IncTable(const ApiRequest& q);
    ApiReply SelectedFiles(const ApiRequest& q);
    ApiReply ModifyFileAttr(const ApiRequest& q);
    // Recycle bin.
    ApiReply DeleteFiles(const ApiRequest& q);
    ApiReply DeleteFilesAsync(const ApiRequest& q);
    ApiReply CleanBin(const ApiRequest& q);
    ApiReply CleanBinAsync(const ApiRequest& q);
    ApiReply RecoverFiles(const ApiRequest& q);
    ApiReply RecoverFilesAsync(const ApiRequest& q);
    ApiReply QueryBin(const ApiRequest& q);

    using FileAction = bool (Gallery::*)(std::int64_t, const std::string&);
    ApiReply BinAction(const ApiRequest& q, FileAction action, bool allowEmpty);
    ApiReply BinActionAsync(const ApiRequest& q, FileAction action, int taskType, const char* what);
    ApiReply MembersAsync(const ApiRequest& q, const char* listKey, int taskType, bool shared);

    Services m_s;
};

} // namespace zeqemu
