#pragma once

#include "platform/HttpLibExport.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The client's logging component. The library hands every diagnostic line to
// Output; where the line goes is decided by the installed sink, which the host
// (or a test) may replace.
namespace Scribo {

// Positions in the client's shared module-name table.
enum ModuleType : int {
    subCloudSuite = 0,
    subCloud,
    subRecord,
    subGallery,
    subAlbum,
    subContact,
    subSetting,
    subFeedback,
    subSpaceManage,
    subOMService,
    subPushService,
    subUserAuthService,
    subGuiDepcDownload,
    subGPW,
    subGRS,
    subP2PService,
    subTrans,
    subDb,
    subDevice,
    subTray,
    subBase,
    subFile,
    subBound,
};

// Positions in the shared severity-suffix table.
enum LogSeverity : int {
    LOG_NET = 0,
    LOG_DEBUG,
    LOG_INFO,
    LOG_SYNC,
    LOG_TRACE_UI,
    LOG_ERROR,
};

// Table text, or "" for a number outside the table.
HTTPLIB_API std::string_view ModuleName(ModuleType module);
HTTPLIB_API std::string_view SeveritySuffix(LogSeverity severity);

struct LogRecord {
    ModuleType module;
    LogSeverity severity;
    std::int32_t line;
    std::string function;
    std::string message; // UTF-8; a wide message arrives converted
    bool flag;
};

using Sink = std::function<void(const LogRecord&)>;

// Installs a sink and returns the one it replaces. An empty sink restores the
// default, which writes one line per record to standard error. Sinks may be
// called from any thread, concurrently.
HTTPLIB_API Sink SetSink(Sink sink);

// The default sink's line format, exposed so a host can reuse it.
HTTPLIB_API std::string FormatLine(const LogRecord& record);

HTTPLIB_API void Output(ModuleType module, LogSeverity severity, std::int32_t line,
                        const std::string& function, const std::string& message, bool flag);
HTTPLIB_API void Output(ModuleType module, LogSeverity severity, std::int32_t line,
                        const std::string& function, const std::wstring& message, bool flag);

} // namespace Scribo
