#pragma once

#include <string>
#include <vector>

namespace zeqemu {

// Paths as the client names them: absolute, "/"-separated, UTF-8. Canonical
// form has no empty, "." or ".." component and no trailing "/", except the
// root "/". Anything that could step outside the data directory is refused.
class VirtualPath {
public:
    // Throws ApiError (bad path) for relative paths, "." or "..", NUL bytes
    // and backslashes, with HTTP 400 for text that is not UTF-8.
    static std::string Normalize(const std::string& text);
    // Joins a canonical folder and a single name or relative path.
    static std::string Join(const std::string& folder, const std::string& relative);
    static std::string Parent(const std::string& canonical);
    static std::string Name(const std::string& canonical);
    static std::vector<std::string> Components(const std::string& canonical);
    // "/a/b" is inside "/a" and inside itself.
    static bool IsWithin(const std::string& canonical, const std::string& folder);
    // The canonical folder with one "/" behind it, as listings show a parent.
    static std::string AsFolder(const std::string& canonical);
};

} // namespace zeqemu
