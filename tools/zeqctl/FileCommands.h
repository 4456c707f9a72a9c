#pragma once

#include <CLI/CLI.hpp>
#include <json/value.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zeqctl {

class Session;

// Device paths: absolute, "/" between names.
std::string Parent(const std::string& path);
std::string Leaf(std::string path);
void RequireAbsolute(const std::string& path);
// --category of the file commands.
void AddCategory(CLI::App* sub, std::string& category);
// Whether path names a folder on the device; false also when it cannot tell.
bool IsDeviceFolder(Session& session, const std::string& path, const std::string& category);

// Shared with the demo.
struct ListingArgs {
    std::string path = "/";
    std::string category = "user";
    std::int32_t limit = 100;
    std::int64_t offset = 0;
    std::string sort = "nameAsc";
};
Json::Value FetchListing(Session& session, const ListingArgs& args);
void ShowListing(Session& session, const Json::Value& doc);

// Starts a copy; returns the transfer task ids the device gave.
std::vector<std::int64_t> StartCopy(Session& session, const std::vector<std::string>& sources,
                                    const std::string& destination, const std::string& category,
                                    bool move);

} // namespace zeqctl
