#include "ReplyPages.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string_view>

namespace servicesbench {
namespace {

// Writes one JSON object member by member, commas included.
class Object {
public:
    explicit Object(std::string& out) : m_out(out) { m_out.append("{"); }
    ~Object() { m_out.append("}"); }

    Object& Text(std::string_view key, std::string_view value) {
        Key(key).append("\"").append(value).append("\"");
        return *this;
    }
    Object& Number(std::string_view key, std::int64_t value) {
        Key(key).append(std::to_string(value));
        return *this;
    }
    Object& Raw(std::string_view key, std::string_view json) {
        Key(key).append(json);
        return *this;
    }
    // The member's value is written by the caller next.
    std::string& Key(std::string_view key) {
        if (!m_first) {
            m_out.append(",");
        }
        m_first = false;
        return m_out.append("\"").append(key).append("\":");
    }

private:
    std::string& m_out;
    bool m_first = true;
};

using Item = std::function<void(std::string&, std::int64_t)>;

void Items(std::string& out, std::size_t count, const Item& item) {
    out.append("[");
    for (std::size_t i = 0; i < count; ++i) {
        if (i != 0) {
            out.append(",");
        }
        item(out, static_cast<std::int64_t>(i));
    }
    out.append("]");
}

std::string Name(std::int64_t i) {
    char name[64];
    std::snprintf(name, sizeof name, "IMG_%08lld.jpg", static_cast<long long>(i));
    return name;
}

std::string Hash(std::int64_t i) {
    std::string hash(32, '0');
    for (int k = 0; k < 32; ++k) {
        hash[static_cast<std::size_t>(k)] = "0123456789abcdef"[(i * 7919 + k * 31) % 16];
    }
    return hash;
}

std::string Cache(std::int64_t i) {
    return "/.cache/" + std::to_string(i % 977) + "/";
}

void GalleryFile(std::string& out, std::int64_t i) {
    const std::string name = Name(i);
    const std::string folder =
        "/mnt/photos/" + std::to_string(2015 + i % 9) + "/" + std::to_string(1 + i % 12) + "/";
    const std::string cache = Cache(i);
    Object(out)
        .Text("attachPath", i % 5 == 0 ? cache + "a/" + name : "")
        .Text("city", "Springfield")
        .Text("comment", "Lake, day two")
        .Text("country", "Freedonia")
        .Number("createTime", 1600000000000 + i * 1000)
        .Number("dateModified", 1600000500000 + i * 1000)
        .Number("day", 20200101 + i % 28)
        .Text("district", "Lakeside")
        .Number("duration", i % 5 == 0 ? 12000 + i : 0)
        .Number("favorite", i % 2)
        .Number("fileId", 100000 + i)
        .Text("fileSrcPath", folder + name)
        .Text("hash", Hash(i))
        .Text("zeqFilePath", cache + "z/" + name)
        .Number("height", 3024)
        .Text("lcdFilePath", cache + "l/" + name)
        .Number("mediaType", i % 5 == 0 ? 3 : 1)
        .Text("mimeType", i % 5 == 0 ? "video/mp4" : "image/jpeg")
        .Number("month", 202001 + i % 12)
        .Number("orientation", (i % 4) * 90)
        .Number("ownerId", 1000 + i % 3)
        .Text("ownerName", "member")
        .Text("province", "North")
        .Number("recycleFlag", 0)
        .Number("size", 2000000 + i * 37)
        .Number("sourceAlbum", i % 7)
        .Number("subType", i % 3)
        .Number("takenTime", 1590000000000 + i * 1000)
        .Text("thumbFilePath", cache + "t/" + name)
        .Text("township", "Old Mill")
        .Text("viewPath", "/gallery/view/" + std::to_string(100000 + i))
        .Number("width", 4032);
}

// The envelope and a page's own numbers, then the list under listKey.
std::string GalleryPage(std::string_view listKey, std::size_t items, const Item& item) {
    std::string out;
    {
        Object page(out);
        page.Number("code", 0)
            .Text("des", "success")
            .Number("finish", 0)
            .Number("lastAlbumId", 4242)
            .Number("lastCretime", 1600000000000)
            .Number("lastId", static_cast<std::int64_t>(items))
            .Number("lastRowId", static_cast<std::int64_t>(items))
            .Number("maxRowId", static_cast<std::int64_t>(items))
            .Number("num", static_cast<std::int64_t>(items))
            .Number("offset", 0)
            .Number("preId", 7);
        Items(page.Key(listKey), items, item);
    }
    return out;
}

// The file service nests its page under "data".
std::string FilePage(std::size_t items, const Item& item) {
    std::string out;
    {
        Object page(out);
        page.Number("code", 0);
        Object data(page.Key("data"));
        data.Number("count", static_cast<std::int64_t>(items))
            .Text("parentDir", "/data/photos/")
            .Text("parentPath", "/data/photos/")
            .Raw("hasMore", "true")
            .Number("offset", 0);
        Items(data.Key("files"), items, item);
    }
    return out;
}

} // namespace

std::string PhotoTablePage(std::size_t items) {
    return GalleryPage("data", items, GalleryFile);
}

std::string AlbumFilesPage(std::size_t items) {
    return GalleryPage("data", items, GalleryFile);
}

std::string PhotoChangesPage(std::size_t items) {
    return GalleryPage("data", items, [](std::string& out, std::int64_t i) {
        Object(out)
            .Text("deviceId", "a1b2c3d4e5f60718")
            .Number("fileId", 100000 + i)
            .Number("operation", i % 3)
            .Number("rowId", 5000000 + i);
    });
}

std::string BinPage(std::size_t items) {
    return GalleryPage("data", items, [](std::string& out, std::int64_t i) {
        const std::string name = Name(i);
        const std::string cache = Cache(i);
        Object(out)
            .Number("fileId", 100000 + i)
            .Text("thumbFilePath", cache + "t/" + name)
            .Text("lcdFilePath", cache + "l/" + name)
            .Text("zeqFilePath", cache + "z/" + name)
            .Number("orientation", (i % 4) * 90)
            .Number("mediaType", 1)
            .Text("fileSrcPath", "/mnt/photos/2020/1/" + name)
            .Text("viewPath", "/gallery/view/" + std::to_string(100000 + i))
            .Number("duration", 0)
            .Number("mtime", 1600000000)
            .Number("createTime", 1600000000000 + i)
            .Text("attachPath", "")
            .Number("takenTime", 1590000000000 + i)
            .Number("subType", 0);
    });
}

std::string AlbumListPage(std::size_t items) {
    return GalleryPage("albumlist", items, [](std::string& out, std::int64_t i) {
        Object album(out);
        album.Number("albumId", 4000 + i).Text("albumName", "Holidays " + std::to_string(i));
        album.Number("albumType", i % 2 == 0 ? 1 : 23);
        std::string& covers = album.Key("coverInfo");
        Items(covers, 2, [i](std::string& cover, std::int64_t c) {
            const std::string name = Name(i * 2 + c);
            Object(cover)
                .Number("coverId", 100000 + i * 2 + c)
                .Text("thumbFilePath", Cache(i) + "t/" + name)
                .Text("zeqFilePath", Cache(i) + "z/" + name)
                .Text("lcdFilePath", Cache(i) + "l/" + name)
                .Text("ownerName", "member")
                .Number("mediaType", 1)
                .Number("orientation", 0)
                .Raw("faceCoordinate", "[120,80,460,520]")
                .Number("lcdHeight", 1080)
                .Number("lcdWidth", 1440);
        });
        album.Number("num", 10 + i % 50).Number("createTime", 1600000000000 + i);
        album.Raw("albumAttr", R"({"gender":1,"birth":"1990-01-01"})");
        album.Number("ownerId", 1000).Number("isOwner", 1).Number("hiddenStatus", 0);
    });
}

std::string AlbumChangesPage(std::size_t items) {
    return GalleryPage("data", items, [](std::string& out, std::int64_t i) {
        Object(out)
            .Number("albumId", 4000 + i % 300)
            .Number("albumType", 1)
            .Number("optTime", 1600000000000 + i)
            .Number("optType", i % 3);
    });
}

std::string AlbumMembersPage(std::size_t items) {
    return GalleryPage("data", items, [](std::string& out, std::int64_t i) {
        Object(out).Number("fileId", 100000 + i).Number("albumId", 4000 + i % 300);
    });
}

std::string AlbumMemberChangesPage(std::size_t items) {
    return GalleryPage("data", items, [](std::string& out, std::int64_t i) {
        Object(out)
            .Number("albumId", 4000 + i % 300)
            .Number("fileId", 100000 + i)
            .Number("albumType", 1)
            .Number("optTime", 1600000000000 + i)
            .Number("optType", i % 3);
    });
}

std::string FolderPage(std::size_t items) {
    return FilePage(items, [](std::string& out, std::int64_t i) {
        const bool folder = i % 10 == 0;
        Object(out)
            .Number("id", 700000 + i)
            .Number("attr", 0)
            .Number("count", folder ? 12 : 0)
            .Number("mtime", 1600000000 + i)
            .Text("name", folder ? "Folder " + std::to_string(i) : Name(i))
            .Number("type", folder ? 2 : 1)
            .Text("version", std::to_string(3 + i % 5))
            .Text("mime", folder ? "" : "image/jpeg")
            .Text("thumb", folder ? "" : Cache(i) + "t/" + Name(i))
            .Number("orientation", 0)
            .Number("size", folder ? 0 : 2000000 + i * 37)
            .Number("freeSize", 0)
            .Text("path", "/data/photos/" + Name(i))
            .Number("action", 0)
            .Number("time", 1600000000 + i)
            .Text("desc", "")
            .Text("category", "user")
            .Number("fid", 800000 + i)
            .Number("visibility", 1);
    });
}

std::string FlatListingPage(std::size_t items) {
    return FilePage(items, [](std::string& out, std::int64_t i) {
        Object(out)
            .Number("type", 1)
            .Number("fid", 800000 + i)
            .Number("mtime", 1600000000 + i)
            .Number("size", 2000000 + i * 37)
            .Text("hash", Hash(i))
            .Text("mimeType", "image/jpeg")
            .Text("relativePath", std::to_string(2015 + i % 9) + "/" + Name(i))
            .Text("thumbPath", Cache(i) + "t/" + Name(i));
    });
}

std::string RecycleFolderPage(std::size_t items) {
    return FilePage(items, [](std::string& out, std::int64_t i) {
        Object(out)
            .Text("name", Name(i))
            .Number("type", 1)
            .Number("rid", 900000 + i)
            .Number("size", 2000000 + i * 37)
            .Number("count", 0)
            .Number("dtime", 1600000000 + i)
            .Number("orientation", 0)
            .Text("mime", "image/jpeg")
            .Text("path", "/data/photos/" + Name(i))
            .Text("thumb", Cache(i) + "t/" + Name(i));
    });
}

std::string TaskListPage(std::size_t items) {
    std::string out;
    {
        Object page(out);
        page.Number("code", 0).Text("des", "success");
        Object data(page.Key("data"));
        Items(data.Key("tasks"), items, [](std::string& task, std::int64_t i) {
            Object(task)
                .Number("taskId", 60000 + i)
                .Number("taskType", 300 + i % 5)
                .Number("progress", i % 101)
                .Number("taskBeginTime", 1600000000000 + i)
                .Number("sumNum", 200)
                .Number("finishedNum", i % 200)
                .Text("originObjectName", Name(i))
                .Text("destination", "/data/backup/")
                .Number("objectType", 1)
                .Raw("exceedFlag", "false")
                .Raw("errorInfo", R"({"errorCode":0,"detail":[{"err":0,"name":"","id":""}]})");
        });
    }
    return out;
}

} // namespace servicesbench
