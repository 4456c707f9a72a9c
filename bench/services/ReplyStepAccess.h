#pragma once

#include "services/PhotoIntfZEQ.h"

#include <string>

// The benchmarks' way to a private reply step: the service names this struct
// as its friend, and only benchmark and fuzz code define it.
struct ReplyStepAccess {
    static bool ParseAllMetadataRsp(const std::string& reply, GalleryFilesAllMetadataRsp& rsp) {
        return PhotoIntfZEQ::Instance().ParseAllMetadataRsp(reply, rsp);
    }
};
