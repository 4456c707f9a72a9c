#pragma once

#include <json/value.h>

#include <filesystem>
#include <string>

namespace zeqctl {

class Session;

// "files get": the device file at path into file through the transfer
// engine. Returns the summary document; shared with the demo.
Json::Value GetDeviceFile(Session& session, const std::string& path, const std::string& category,
                          const std::filesystem::path& file);

} // namespace zeqctl
