#include "PhotoTablePage.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

namespace servicesbench {
namespace {

void Key(std::string& out, std::string_view key) {
    out.append("\"").append(key).append("\":");
}

void Text(std::string& out, std::string_view key, std::string_view value, bool comma = true) {
    Key(out, key);
    out.append("\"").append(value).append("\"");
    if (comma) {
        out.append(",");
    }
}

void Number(std::string& out, std::string_view key, std::int64_t value, bool comma = true) {
    Key(out, key);
    out.append(std::to_string(value));
    if (comma) {
        out.append(",");
    }
}

void AppendItem(std::string& out, std::size_t index) {
    const auto i = static_cast<std::int64_t>(index);
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%08lld.jpg", static_cast<long long>(i));
    char hash[33];
    for (int k = 0; k < 32; ++k) {
        hash[k] = "0123456789abcdef"[(i * 7919 + k * 31) % 16];
    }
    hash[32] = '\0';
    const std::string folder =
        "/mnt/photos/" + std::to_string(2015 + i % 9) + "/" + std::to_string(1 + i % 12) + "/";
    const std::string cache = "/.cache/" + std::to_string(i % 977) + "/";

    out.append("{");
    Text(out, "attachPath", i % 5 == 0 ? cache + "a/" + name : "");
    Text(out, "city", "Springfield");
    Text(out, "comment", "Lake, day two");
    Text(out, "country", "Freedonia");
    Number(out, "createTime", 1600000000000 + i * 1000);
    Number(out, "dateModified", 1600000500000 + i * 1000);
    Number(out, "day", 20200101 + i % 28);
    Text(out, "district", "Lakeside");
    Number(out, "duration", i % 5 == 0 ? 12000 + i : 0);
    Number(out, "favorite", i % 2);
    Number(out, "fileId", 100000 + i);
    Text(out, "fileSrcPath", folder + name);
    Text(out, "hash", hash);
    Text(out, "zeqFilePath", cache + "z/" + name);
    Number(out, "height", 3024);
    Text(out, "lcdFilePath", cache + "l/" + name);
    Number(out, "mediaType", i % 5 == 0 ? 3 : 1);
    Text(out, "mimeType", i % 5 == 0 ? "video/mp4" : "image/jpeg");
    Number(out, "month", 202001 + i % 12);
    Number(out, "orientation", (i % 4) * 90);
    Number(out, "ownerId", 1000 + i % 3);
    Text(out, "ownerName", "member");
    Text(out, "province", "North");
    Number(out, "recycleFlag", 0);
    Number(out, "size", 2000000 + i * 37);
    Number(out, "sourceAlbum", i % 7);
    Number(out, "subType", i % 3);
    Number(out, "takenTime", 1590000000000 + i * 1000);
    Text(out, "thumbFilePath", cache + "t/" + name);
    Text(out, "township", "Old Mill");
    Text(out, "viewPath", "/gallery/view/" + std::to_string(100000 + i));
    Number(out, "width", 4032, false);
    out.append("}");
}

} // namespace

std::string PhotoTablePage(std::size_t items) {
    std::string out;
    out.reserve(items * 720 + 128);
    out.append("{");
    Number(out, "code", 0);
    Text(out, "des", "success");
    Number(out, "finish", 0);
    Number(out, "maxRowId", static_cast<std::int64_t>(items));
    Number(out, "num", static_cast<std::int64_t>(items));
    Key(out, "data");
    out.append("[");
    for (std::size_t i = 0; i < items; ++i) {
        if (i != 0) {
            out.append(",");
        }
        AppendItem(out, i);
    }
    out.append("]}");
    return out;
}

} // namespace servicesbench
