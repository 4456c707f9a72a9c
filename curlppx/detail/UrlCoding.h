#pragma once

#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <climits>
#include <cstddef>
#include <string>

namespace curlppx::detail {

// libcurl's escape and unescape take an int length, so a text of 2 GiB or
// more goes through them in pieces of at most chunk bytes; a piece never
// ends inside a "%XX". Without a handle or on a failure the text comes back
// unchanged; a decoded text ends at its first zero byte.
HTTPLIB_API std::string Escape(CURL* handle, const std::string& text, size_t chunk = INT_MAX);
HTTPLIB_API std::string Unescape(CURL* handle, const std::string& text, size_t chunk = INT_MAX);

} // namespace curlppx::detail
