#pragma once

#include <json/value.h>

#include <filesystem>
#include <string>

namespace zeqemu {

// One JSON document on disk that is replaced whole and atomically: a crash at
// any point leaves either the previous document or the new one, never a torn
// mix. Not thread-safe; each owner serialises its own saves.
class StateFile {
public:
    explicit StateFile(std::filesystem::path path);

    // Null when the file does not exist yet. Throws std::runtime_error when it
    // exists but does not hold a JSON object (the data directory is damaged;
    // starting over silently would lose the user's state).
    Json::Value Load() const;
    // Throws std::runtime_error when the document cannot be made durable.
    void Save(const Json::Value& document) const;

    const std::filesystem::path& Path() const { return m_path; }

    // Writes text to path through a temporary file in the same folder, fsync
    // of the file, rename over the target and fsync of the folder.
    static void WriteAtomically(const std::filesystem::path& path, const std::string& text);

private:
    std::filesystem::path m_path;
};

} // namespace zeqemu
