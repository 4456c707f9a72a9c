#pragma once

#include <map>
#include <string>

// Method numbers of the strategy API; the same numbers as the device request's.
enum HttpRequestMethod : int {
    HTTP_GET = 0,
    HTTP_POST = 1,
    HTTP_DELETE = 2,
    HTTP_PATCH = 3,
    HTTP_PUT = 4,
};

// The name a method is sent and logged under.
inline const std::map<HttpRequestMethod, std::wstring> g_httpMethodNames = {
    {HTTP_GET, L"GET"},     {HTTP_POST, L"POST"}, {HTTP_DELETE, L"DELETE"},
    {HTTP_PATCH, L"PATCH"}, {HTTP_PUT, L"PUT"},
};
