#include "curlppx/detail/EngineLog.h"

#include <shared_mutex>
#include <utility>

namespace curlppx::detail {

namespace {

std::shared_mutex g_logMtx;

} // namespace

bool LogEnabled(CurlLogLevel level) {
    return level <= CurlGlobal::g_logLevel.load(std::memory_order_relaxed);
}

void WriteLog(CurlLogLevel level, int line, const std::string& func, const std::string& msg,
              size_t poolId) {
    if (!LogEnabled(level)) {
        return;
    }
    std::shared_lock lock(g_logMtx);
    if (CurlGlobal::g_logFun) {
        CurlGlobal::g_logFun(level, line, func, msg, poolId);
    }
}

void ReplaceLogFun(CurlLogFun fun) {
    CurlLogFun old;
    {
        std::unique_lock lock(g_logMtx);
        old = std::exchange(CurlGlobal::g_logFun, std::move(fun));
    }
    // The old hook is destroyed outside the lock: it may log itself.
}

} // namespace curlppx::detail
