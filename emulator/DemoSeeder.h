#pragma once

#include <filesystem>

namespace zeqemu {

class FileArea;
class Gallery;

// Fills a new data directory with something to look at: a few folders and
// files in each area, a few dozen gallery items with plausible metadata, and
// albums of every kind. Deterministic, so two fresh emulators look alike.
class DemoSeeder {
public:
    static void Seed(const std::filesystem::path& dataDir, Gallery& gallery);
};

} // namespace zeqemu
