#include "emulator/DemoSeeder.h"

#include "emulator/Gallery.h"
#include "emulator/StateFile.h"

#include <array>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace zeqemu {

namespace {

struct Place {
    const char* city;
    const char* province;
    const char* country;
    const char* district;
};

constexpr std::array<Place, 6> kPlaces{{
    {"Lisbon", "Lisboa", "Portugal", "Alfama"},
    {"Kyoto", "Kyoto", "Japan", "Higashiyama"},
    {"Vancouver", "British Columbia", "Canada", "Kitsilano"},
    {"Cape Town", "Western Cape", "South Africa", "Gardens"},
    {"Edinburgh", "Scotland", "United Kingdom", "Old Town"},
    {"Valparaiso", "Valparaiso", "Chile", "Cerro Alegre"},
}};

// Bytes that start and end like a JPEG or an MP4; enough for a file that is
// listed, copied and hashed, not for a viewer.
std::string FakeMedia(bool video, int index) {
    std::string bytes = video ? std::string("\0\0\0\x18"
                                            "ftypmp42",
                                            12)
                              : std::string("\xFF\xD8\xFF\xE0\0\x10JFIF\0", 11);
    const std::string filler = "zeq-emulator demo media " + std::to_string(index) + "\n";
    for (int i = 0; i < 40 + index * 7; ++i) {
        bytes += filler;
    }
    if (!video) {
        bytes += "\xFF\xD9";
    }
    return bytes;
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    StateFile::WriteAtomically(path, text);
}

void SeedFiles(const fs::path& dataDir) {
    const auto user = dataDir / "files" / "user";
    WriteFile(user / "Documents" / "notes.txt", "Shopping: bread, coffee, batteries.\n");
    WriteFile(user / "Documents" / "plans.md", "# Summer\n\n- visit Kyoto\n- fix the bike\n");
    WriteFile(user / "Documents" / "Taxes" / "2023.pdf", "%PDF-1.4\n% demo\n%%EOF\n");
    WriteFile(user / "Music" / "demo-track.mp3", std::string("ID3\x03\0\0\0\0\0\0", 10) + "demo");
    for (int i = 1; i <= 4; ++i) {
        WriteFile(user / "Photos" / ("IMG_000" + std::to_string(i) + ".jpg"), FakeMedia(false, i));
    }
    WriteFile(user / "Videos" / "birthday.mp4", FakeMedia(true, 9));
    fs::create_directories(user / "Empty folder");
    WriteFile(dataDir / "files" / "public" / "Shared" / "readme.txt",
              "Files here are visible to every user of the device.\n");
    WriteFile(dataDir / "usb" / "usb1" / "Backup" / "old-notes.txt", "Notes from 2019.\n");
    WriteFile(dataDir / "usb" / "usb1" / "camera.jpg", FakeMedia(false, 20));
}

} // namespace

void DemoSeeder::Seed(const fs::path& dataDir, Gallery& gallery) {
    SeedFiles(dataDir);
    gallery.DeferSaves(true);

    // Taken over two years, a little more than a week apart each.
    constexpr std::int64_t kStart = 1672531200; // 2023-01-01
    constexpr std::int64_t kStep = 9 * 24 * 3600 + 3 * 3600 + 17 * 60;
    std::vector<std::int64_t> ids;
    for (int i = 0; i < 36; ++i) {
        const bool video = i % 6 == 5;
        const auto& place = kPlaces[static_cast<std::size_t>(i) % kPlaces.size()];
        Gallery::NewItem item;
        item.name = (video ? "VID_2023" : "IMG_2023") + std::to_string(1000 + i) +
                    (video ? ".mp4" : ".jpg");
        item.mediaType = video ? Gallery::kVideo : Gallery::kPhoto;
        item.mimeType = video ? "video/mp4" : "image/jpeg";
        const bool portrait = i % 4 == 1;
        item.width = portrait ? 3024 : 4032;
        item.height = portrait ? 4032 : 3024;
        item.duration = video ? 5 + i : 0;
        item.orientation = i % 9 == 4 ? 90 : 0;
        item.takenTime = kStart + i * kStep;
        item.city = place.city;
        item.province = place.province;
        item.country = place.country;
        item.district = place.district;
        item.favorite = i % 7 == 0 ? 1 : 0;
        ids.push_back(gallery.AddItem(item, FakeMedia(video, i), "zeq-emulator-seed"));
    }

    const auto album = [&](const std::string& name, int type, const Gallery::AlbumAttr* attr,
                           std::size_t first, std::size_t count) {
        const auto albumId = gallery.CreateAlbum(name, type, attr);
        for (std::size_t i = first; i < first + count && i < ids.size(); ++i) {
            gallery.AddMember(albumId, ids[i], 0);
        }
        return albumId;
    };
    album("Holidays", Gallery::kUserAlbum, nullptr, 0, 12);
    album("Garden", Gallery::kUserAlbum, nullptr, 12, 6);
    album("Family (shared)", Gallery::kSharedAlbum, nullptr, 18, 8);
    const Gallery::AlbumAttr alex{1, "1988-04-12"};
    const Gallery::AlbumAttr sam{2, "1991-11-03"};
    album("Alex", Gallery::kFaceAlbum, &alex, 0, 9);
    album("Sam", Gallery::kFaceAlbum, &sam, 20, 7);
    album("", Gallery::kFaceAlbum, nullptr, 30, 3);

    // Two items already in the bin, so the recycle bin is not empty either.
    gallery.Recycle(ids[34], "zeq-emulator-seed");
    gallery.Recycle(ids[35], "zeq-emulator-seed");
    gallery.DeferSaves(false);
}

} // namespace zeqemu
