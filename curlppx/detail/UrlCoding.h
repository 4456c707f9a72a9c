#pragma once

#include "platform/HttpLibExport.h"

#include <curl/curl.h>

#include <climits>
#include <cstddef>
#include <string>

namespace curlppx {
class CurlConn;
}

namespace curlppx::detail {

// libcurl's escape and unescape take an int length, so a text of 2 GiB or
// more goes through them in pieces of at most chunk bytes; a piece never
// ends inside a "%XX". Without a handle or on a failure the text comes back
// unchanged; a decoded text ends at its first zero byte.
HTTPLIB_API std::string Escape(CURL* handle, const std::string& text, size_t chunk = INT_MAX);
HTTPLIB_API std::string Unescape(CURL* handle, const std::string& text, size_t chunk = INT_MAX);

// Codes text with one of a connection's coding operations on the process's
// shared coder connection (CurlGlobal::g_coder, a connection of pool 0 made
// on first use), under CurlGlobal::g_coderMtx so that any thread may call.
std::string CodeWithSharedConn(const std::string& text,
                               std::string (CurlConn::*code)(const std::string&));

} // namespace curlppx::detail
