#include "platform/Scribo.h"

#include "platform/TextCodec.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>

namespace Scribo {
namespace {

constexpr std::array<std::string_view, 23> kModuleNames = {"subCloudSuite",
                                                           "subCloud",
                                                           "subRecord",
                                                           "subGallery",
                                                           "subAlbum",
                                                           "subContact",
                                                           "subSetting",
                                                           "subFeedback",
                                                           "subSpaceManage",
                                                           "subOMService",
                                                           "subPushService",
                                                           "subUserAuthService",
                                                           "subGuiDepcDownload",
                                                           "subGPW",
                                                           "subGRS",
                                                           "subP2PService",
                                                           "subTrans",
                                                           "subDb",
                                                           "subDevice",
                                                           "subTray",
                                                           "subBase",
                                                           "subFile",
                                                           "subBound"};

constexpr std::array<std::string_view, 6> kSeveritySuffixes = {"_NET",  "_DEBUG",    "_INFO",
                                                               "_SYNC", "_TRACE_UI", "_ERROR"};

void WriteToStderr(const LogRecord& record) {
    const std::string line = FormatLine(record) + '\n';
    // One fwrite per line keeps lines from different threads whole.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

// The sink is swapped under the mutex and called outside it through a shared
// copy, so a slow sink never blocks another thread's SetSink, and a sink
// replaced while in use stays alive until its last call returns.
std::mutex g_sinkMutex;
std::shared_ptr<const Sink> g_sink;

std::shared_ptr<const Sink> CurrentSink() {
    std::lock_guard lock(g_sinkMutex);
    return g_sink;
}

void Dispatch(const LogRecord& record) {
    if (const auto sink = CurrentSink()) {
        (*sink)(record);
    } else {
        WriteToStderr(record);
    }
}

} // namespace

std::string_view ModuleName(ModuleType module) {
    const auto index = static_cast<std::size_t>(module);
    return index < kModuleNames.size() ? kModuleNames[index] : std::string_view{};
}

std::string_view SeveritySuffix(LogSeverity severity) {
    const auto index = static_cast<std::size_t>(severity);
    return index < kSeveritySuffixes.size() ? kSeveritySuffixes[index] : std::string_view{};
}

Sink SetSink(Sink sink) {
    auto next = sink ? std::make_shared<const Sink>(std::move(sink)) : nullptr;
    std::lock_guard lock(g_sinkMutex);
    std::swap(g_sink, next);
    return next ? *next : Sink{};
}

std::string FormatLine(const LogRecord& record) {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    const std::size_t len = std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(millis));

    std::string line;
    line.reserve(64 + record.function.size() + record.message.size());
    line.append(stamp, len).append(fraction).append(" ");
    line.append(ModuleName(record.module)).append(SeveritySuffix(record.severity)).append(" ");
    line.append(record.function).append(":").append(std::to_string(record.line)).append(" ");
    line.append(record.message);
    return line;
}

void Output(ModuleType module, LogSeverity severity, std::int32_t line, const std::string& function,
            const std::string& message, bool flag) {
    Dispatch(LogRecord{module, severity, line, function, message, flag});
}

void Output(ModuleType module, LogSeverity severity, std::int32_t line, const std::string& function,
            const std::wstring& message, bool flag) {
    Dispatch(LogRecord{module, severity, line, function, platform::WideToUtf8Lossy(message), flag});
}

} // namespace Scribo
