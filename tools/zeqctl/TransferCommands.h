#pragma once

#include <json/value.h>

#include <string>

namespace zeqctl {

class Session;

// Downloads url (absolute on the device, or a path on it) to file through the
// transfer engine with a progress view, resuming an existing partial file.
// Returns the summary document; shared with the demo.
Json::Value Download(Session& session, const std::string& url, const std::string& file);
void ShowTransfer(Session& session, const Json::Value& summary);

} // namespace zeqctl
