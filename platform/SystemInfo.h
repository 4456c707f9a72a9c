#pragma once

#include "platform/HttpLibExport.h"

#include <cstddef>
#include <string>
#include <string_view>

// Facts about the running process and system, read from the kernel.
namespace platform {

// Full path of the running executable as the kernel reports it (raw bytes,
// normally UTF-8); empty on failure.
HTTPLIB_API std::string ExecutablePath();

// The folder of the running executable with its closing separator, in wide
// text; empty when the path is unknown or not UTF-8.
HTTPLIB_API std::wstring ExecutableDirectory();

// Fills buf from the kernel's cryptographic random source; false unless every
// byte was filled.
HTTPLIB_API bool SecureRandom(void* buf, std::size_t len);

// "<sysname> <major>.<minor>.<build>.0" from the leading numbers of a kernel
// release string (missing minor or build count as 0, build keeps its low 16
// bits), or "Unknow Platform" when the release does not start with a number.
HTTPLIB_API std::wstring FormatOsVersionName(std::string_view sysname, std::string_view release);

// FormatOsVersionName applied to this system's uname, or "Unknow Platform".
HTTPLIB_API std::wstring OsVersionName();

} // namespace platform
