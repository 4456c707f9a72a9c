#pragma once

#include <json/value.h>

namespace zeqctl {

class Session;

// Shared with the demo.
Json::Value FetchAlbums(Session& session);
void ShowAlbums(Session& session, const Json::Value& doc);

} // namespace zeqctl
