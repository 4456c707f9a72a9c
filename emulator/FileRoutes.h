#pragma once

#include "emulator/Router.h"
#include "emulator/Services.h"

namespace zeqemu {

// The file service under "filesvc/" and the share folder under "api/app/".
// A file's bytes go through "filesvc/content": read with an optional
// "Range: bytes=N-", written (POST or PUT) with an optional
// "Content-Range: bytes N-M/T" that appends to a partial upload. Reads carry
// a strong ETag and Last-Modified, and "If-Range" turns a range of a changed
// file into the whole file. "filesvc/contentHash" gives the SHA-256 of a
// file's first N bytes, so a client can check a partial upload before
// resuming it.
class FileRoutes {
public:
    explicit FileRoutes(Services services) : m_s(services) {}
    void Register(Router& router);

private:
    ApiReply ListFiles(const ApiRequest& q);
    ApiReply FolderDetail(const ApiRequest& q);
    ApiReply RecycleFiles(const ApiRequest& q);
    ApiReply UsbStatus(const ApiRequest& q);
    ApiReply ShareFolder(const ApiRequest& q);
    ApiReply AllFiles(const ApiRequest& q);
    ApiReply RecoverProgress(const ApiRequest& q);
    ApiReply MakeDir(const ApiRequest& q);
    ApiReply Rename(const ApiRequest& q);
    ApiReply Remove(const ApiRequest& q);
    ApiReply RecycleAction(const ApiRequest& q);
    ApiReply Redundancy(const ApiRequest& q);
    ApiReply Visibility(const ApiRequest& q);
    ApiReply CreateDirs(const ApiRequest& q);
    ApiReply BatchOperation(const ApiRequest& q);
    ApiReply ReadContent(const ApiRequest& q);
    ApiReply WriteContent(const ApiRequest& q);
    ApiReply ContentHash(const ApiRequest& q);
    ApiReply Read(const ApiRequest& q);
    ApiReply Write(const ApiRequest& q);

    Services m_s;
};

} // namespace zeqemu
