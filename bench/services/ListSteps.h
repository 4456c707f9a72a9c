#pragma once

#include "ReplyPages.h"
#include "ReplyStepAccess.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Every list reply step with a page of its reply, for the timing and memory
// benchmarks alike.
namespace servicesbench {

struct ListStep {
    const char* name;
    std::string (*page)(std::size_t items);
    std::size_t items;
    // Runs the step on text; the records it made, held for the caller, and
    // how many list entries they hold (0 when the step failed).
    struct Result {
        std::shared_ptr<void> records;
        std::size_t entries = 0;
    };
    Result (*run)(const std::string& text);
};

template <typename Record, typename Step, typename Entries>
ListStep::Result RunStep(const std::string& text, Step step, Entries entries) {
    auto records = std::make_shared<Record>();
    const bool ok = step(text, *records);
    return {records, ok ? entries(*records) : 0};
}

inline const std::vector<ListStep>& ListSteps() {
    static const std::vector<ListStep> steps{
        {"photo full table", PhotoTablePage, 10000,
         [](const std::string& text) {
             return RunStep<GalleryFilesAllMetadataRsp>(
                 text, ReplyStepAccess::AllMetadata,
                 [](const GalleryFilesAllMetadataRsp& r) { return r.data.size(); });
         }},
        {"photo selected metadata", PhotoTablePage, 10000,
         [](const std::string& text) {
             return RunStep<GalleryFilesSelectedMetadataRsp>(
                 text, ReplyStepAccess::SelectedMetadata,
                 [](const GalleryFilesSelectedMetadataRsp& r) { return r.data.size(); });
         }},
        {"photo changes", PhotoChangesPage, 50000,
         [](const std::string& text) {
             return RunStep<GalleryFilesIncRsp>(
                 text, ReplyStepAccess::PhotoChanges,
                 [](const GalleryFilesIncRsp& r) { return r.data.size(); });
         }},
        {"photo recycle bin", BinPage, 10000,
         [](const std::string& text) {
             return RunStep<BinQueryInfo>(text, ReplyStepAccess::BinPage,
                                          [](const BinQueryInfo& r) { return r.data.size(); });
         }},
        {"album list", AlbumListPage, 3000,
         [](const std::string& text) {
             return RunStep<GalleryAllAlbumListRsp>(
                 text, ReplyStepAccess::AlbumList,
                 [](const GalleryAllAlbumListRsp& r) { return r.albumlist.size(); });
         }},
        {"album files", AlbumFilesPage, 10000,
         [](const std::string& text) {
             return RunStep<AlbumInfoRsp>(text, ReplyStepAccess::AlbumFiles,
                                          [](const AlbumInfoRsp& r) { return r.data.size(); });
         }},
        {"album changes", AlbumChangesPage, 50000,
         [](const std::string& text) {
             return RunStep<GalleryAlbumIncInfoRsp>(
                 text, ReplyStepAccess::AlbumChanges,
                 [](const GalleryAlbumIncInfoRsp& r) { return r.data.size(); });
         }},
        {"album members", AlbumMembersPage, 100000,
         [](const std::string& text) {
             return RunStep<GalleryAlbumMembersInfoRsp>(
                 text, ReplyStepAccess::AlbumMembers,
                 [](const GalleryAlbumMembersInfoRsp& r) { return r.data.size(); });
         }},
        {"album member changes", AlbumMemberChangesPage, 50000,
         [](const std::string& text) {
             return RunStep<GalleryAlbumMemberIncInfoRsp>(
                 text, ReplyStepAccess::AlbumMemberChanges,
                 [](const GalleryAlbumMemberIncInfoRsp& r) { return r.data.size(); });
         }},
        {"folder listing", FolderPage, 10000,
         [](const std::string& text) {
             return RunStep<FileListData>(
                 text,
                 [](const std::string& reply, FileListData& list) {
                     return FileIntfZeq::Instance().ParseFileListData(reply, list, {},
                                                                      FILTER_FILE_TYPE_ALL);
                 },
                 [](const FileListData& r) { return r.files.size(); });
         }},
        {"flat listing", FlatListingPage, 20000,
         [](const std::string& text) {
             return RunStep<FolderStructureResp>(
                 text, ReplyStepAccess::FlatListing,
                 [](const FolderStructureResp& r) { return r.files.size(); });
         }},
        {"file recycle bin", RecycleFolderPage, 20000,
         [](const std::string& text) {
             return RunStep<RecycleFileListData>(
                 text, ReplyStepAccess::RecycleFolder,
                 [](const RecycleFileListData& r) { return r.files.size(); });
         }},
        {"task list", TaskListPage, 20000,
         [](const std::string& text) {
             return RunStep<std::vector<TaskInfo>>(
                 text, ReplyStepAccess::TaskList,
                 [](const std::vector<TaskInfo>& r) { return r.size(); });
         }},
    };
    return steps;
}

} // namespace servicesbench
