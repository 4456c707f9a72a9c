#pragma once

#include <json/value.h>

namespace zeqctl {

class Session;

// Shared with the demo.
Json::Value FetchDeviceInfo(Session& session);
void ShowDeviceInfo(Session& session, const Json::Value& doc);

} // namespace zeqctl
