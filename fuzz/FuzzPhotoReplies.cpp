// Every reply step of the photo service on the same bytes. The gallery file
// filler reads an item's members with a cursor; every item it fills must
// match what the plain JsonUtil getters read from the same object.
#include "FuzzSupport.h"
#include "ReplyStepAccess.h"

#include "core/JsonUtil.h"

#include <json/value.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

void FillerAgreesWithGetters(const Json::Value& item) {
    GalleryModel model;
    ReplyStepAccess::FillGalleryModel(model, item);
    const auto text = [&](const char* key) { return JsonUtil::GetStrValFromJson(item, key); };
    const auto number = [&](const char* key) {
        return JsonUtil::GetInt64ValFromJson(item, key, 0);
    };
    Require(model.attachPath == text("attachPath") && model.city == text("city") &&
            model.comment == text("comment") && model.country == text("country") &&
            model.district == text("district") && model.fileSrcPath == text("fileSrcPath") &&
            model.hash == text("hash") && model.zeqFilePath == text("zeqFilePath") &&
            model.lcdFilePath == text("lcdFilePath") && model.mimeType == text("mimeType") &&
            model.ownerName == text("ownerName") && model.province == text("province") &&
            model.thumbFilePath == text("thumbFilePath") && model.township == text("township") &&
            model.viewPath == text("viewPath"));
    Require(model.createTime == number("createTime") &&
            model.dateModified == number("dateModified") && model.day == number("day") &&
            model.duration == number("duration") && model.favorite == number("favorite") &&
            model.fileId == number("fileId") && model.height == number("height") &&
            model.mediaType == number("mediaType") && model.month == number("month") &&
            model.orientation == number("orientation") && model.ownerId == number("ownerId") &&
            model.recycleFlag == number("recycleFlag") && model.size == number("size") &&
            model.sourceAlbum == number("sourceAlbum") && model.subType == number("subType") &&
            model.takenTime == number("takenTime") && model.width == number("width"));
}

} // namespace

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
    Json::Value root;
    if (JsonUtil::StringToCppJsonObj(reply, root)) {
        // Any object will do, the root too: the filler takes what it is given.
        FillerAgreesWithGetters(root);
        const Json::Value data = JsonUtil::GetJsonArrayValFromJson(root, "data");
        for (const Json::Value& item : data) {
            FillerAgreesWithGetters(item);
        }
    }
    return 0;
}
