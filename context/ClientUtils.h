#pragma once

#include "platform/HttpLibExport.h"

#include <string>

// The client's environment utilities: text conversions, encoders, the secure
// random source, the executable's folder, the OS name and the client version.
// All are reentrant and keep no state.

HTTPLIB_API std::string UnicodeToUTF8(const std::wstring& text);
HTTPLIB_API std::wstring UTF8ToUnicode(const std::string& text);
HTTPLIB_API bool UnicodeToMultiByte(const std::wstring& text, std::string& out,
                                    unsigned int codePage);
HTTPLIB_API std::wstring AnsiToUnicode(const std::string& text);
HTTPLIB_API std::string UnicodeToAnsi(const std::wstring& text);
HTTPLIB_API std::wstring UrlEncode(const std::wstring& text);
HTTPLIB_API std::string PercentEncode(const std::string& text);
HTTPLIB_API std::string Base64UrlEncode(const unsigned char* data, unsigned int length);
HTTPLIB_API bool GenRandomUint32(unsigned char out[4]);
HTTPLIB_API std::wstring GetExeDirectory();
HTTPLIB_API std::wstring GetOsVersionName();
HTTPLIB_API bool GetClientVersion(std::wstring& out);
