#pragma once

#include <cstddef>
#include <string>

// Device replies of the list operations as the device sends them: the
// envelope, the page's own keys and `items` list entries carrying every key
// the client reads, in the device's key order.
namespace servicesbench {

// The full photo table; 10,000 items make about 7 MB. Album file pages carry
// the same items.
std::string PhotoTablePage(std::size_t items);
std::string AlbumFilesPage(std::size_t items);
std::string PhotoChangesPage(std::size_t items);
std::string BinPage(std::size_t items);
std::string AlbumListPage(std::size_t items);
std::string AlbumChangesPage(std::size_t items);
std::string AlbumMembersPage(std::size_t items);
std::string AlbumMemberChangesPage(std::size_t items);
std::string FolderPage(std::size_t items);
std::string FlatListingPage(std::size_t items);
std::string RecycleFolderPage(std::size_t items);
std::string TaskListPage(std::size_t items);

} // namespace servicesbench
