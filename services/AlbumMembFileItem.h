#pragma once

#include <cstdint>
#include <string_view>
#include <tuple>

// One gallery file named in a request body, by id only. Album member changes
// and the photo metadata query send the same one-field object.
struct AlbumMembFileItem {
    std::int64_t fileId = 0;

    static constexpr std::string_view kFieldList = "fileId";
    auto Fields() const { return std::tie(fileId); }
};
