#pragma once

#include <json/value.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace zeqctl {

class Session;

// One transfer through the engine, as the commands describe it.
struct TransferTarget {
    std::string what; // leads every message, e.g. "files get /a.pdf"
    std::string url;  // absolute, on the device
    // Runs on an HTTP refusal before the generic message, to throw a more
    // precise one when the command knows what the status means.
    std::function<void(long status)> explainRefusal;
};

// The device's credentials go with every transfer, so an absolute URL must
// name the device itself; anything else is a path on it.
std::string ResolveOnDevice(const std::string& baseUrl, const std::string& url);
// Where the device serves the bytes of the file at devicePath.
std::string ContentUrl(const std::string& baseUrl, const std::string& devicePath,
                       const std::string& category);

// The bytes of a download in progress lie beside the file it becomes.
std::filesystem::path PartialFile(const std::filesystem::path& file);

// Downloads into file with a progress view. The bytes go to the partial file,
// which a later run resumes while the device's file is the same version (its
// validator is kept beside the part); file appears under its name only once
// complete. Returns the summary document.
Json::Value Download(Session& session, const TransferTarget& target,
                     const std::filesystem::path& file);
// Uploads file through the transfer engine with a progress view. It resumes
// only where the device holds the beginning of this very file (checked by its
// SHA-256): at the offset given, or without one wherever the device's part
// ends; any other part is replaced, and the summary says why.
Json::Value Upload(Session& session, const TransferTarget& target,
                   const std::filesystem::path& file, std::optional<std::int64_t> offset);
void ShowTransfer(Session& session, const Json::Value& summary);

} // namespace zeqctl
