#pragma once

#include "core/HttpPostRspCode.h"
#include "platform/HttpLibExport.h"
#include "services/PhotoModels.h"

#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

// Files (photos and videos) of the device's gallery: their metadata and their
// way through the recycle bin. Every operation is one synchronous request;
// nothing is cached between calls, and lists in the caller's records are
// appended to, never cleared.
class HTTPLIB_API PhotoIntfZEQ {
public:
    static PhotoIntfZEQ& Instance();

    PhotoIntfZEQ& operator=(const PhotoIntfZEQ&) { return *this; }

    // Metadata.
    bool GetGalleryFilesAllMetadata(std::int64_t startFileId, GalleryFilesAllMetadataRsp& rsp);
    bool GetGalleryFilesIncInfo(std::int64_t preRowId, GalleryFilesIncRsp& rsp);
    bool GetSelectedGalleryFilesMetadata(std::vector<std::int64_t>& fileIds,
                                         GalleryFilesSelectedMetadataRsp& rsp,
                                         HttpPostRspCode* code);
    bool ModifyGalleryFileAttr(std::int64_t id, const std::string& comment, HttpPostRspCode* code);

    // Deletion and recycle bin. code, when given, receives the device's code
    // and des whenever the reply was readable, on failure too.
    bool DeleteGalleryFiles(const std::vector<GalleryFileMember>& files,
                            std::vector<std::int64_t>& ids, HttpPostRspCode* code);
    bool DeleteGalleryFilesAsync(const std::vector<GalleryFileMember>& files,
                                 const std::string& transId, const std::int32_t& subTaskId,
                                 std::int64_t& taskId, HttpPostRspCode* code);
    bool DeleteBinFiles(const std::vector<GalleryFileMember>& files, std::vector<std::int64_t>& ids,
                        HttpPostRspCode* code);
    // Empties the whole recycle bin.
    bool DeleteBinFiles(HttpPostRspCode* code);
    bool DeleteBinFilesAsync(const std::vector<GalleryFileMember>& files,
                             const std::string& transId, const std::int32_t& subTaskId,
                             std::int64_t& taskId, HttpPostRspCode* code);
    bool RecoverBinFiles(const std::vector<GalleryFileMember>& files,
                         std::vector<std::int64_t>& ids, HttpPostRspCode* code);
    bool RecoverBinFilesAsync(const std::vector<GalleryFileMember>& files,
                              const std::string& transId, const std::int32_t& subTaskId,
                              std::int64_t& taskId, HttpPostRspCode* code);
    bool QueryBinFiles(std::int64_t offset, std::int32_t num, BinQueryInfo& info);

private:
    // Benchmarks and fuzz targets feed reply texts to the reply steps without
    // a network round trip; the struct is defined only in bench/ and fuzz/.
    friend struct ReplyStepAccess;

    PhotoIntfZEQ();
    ~PhotoIntfZEQ() = default;

    void FillGalleryModel(GalleryModel& model, const Json::Value& value);
    bool ParseAllMetadataRsp(const std::string& reply, GalleryFilesAllMetadataRsp& rsp);
    bool ParseIncInfoRsp(const std::string& reply, GalleryFilesIncRsp& rsp);
    bool ParseSelectdMetadataRsp(const std::string& reply, GalleryFilesSelectedMetadataRsp& rsp,
                                 HttpPostRspCode* code);

    bool ParseDelGalleryFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                                 HttpPostRspCode* code);
    bool ParseDelGalleryFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                      HttpPostRspCode* code);
    bool ParseDelBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                             HttpPostRspCode* code);
    bool ParseDelBinFilesRsp(const std::string& reply, HttpPostRspCode* code);
    bool ParseDelBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                  HttpPostRspCode* code);
    bool ParseRcvrBinFilesRsp(const std::string& reply, std::vector<std::int64_t>& ids,
                              HttpPostRspCode* code);
    bool ParseRcvrBinFilesAsyncRsp(const std::string& reply, std::int64_t& taskId,
                                   HttpPostRspCode* code);
    bool ParseQueryBinFilesRsp(const std::string& reply, BinQueryInfo& info);
};
