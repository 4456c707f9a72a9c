#pragma once

#include <string>

// Texts the client sends to identify itself, shared by the strategy's standard
// header set and the request context's own header lines.
inline const std::wstring g_osBrand = L"Windows";
inline const std::wstring g_terminalKind = L"PC";
inline const std::wstring g_authorizationScheme = L"6";
