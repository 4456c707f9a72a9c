#pragma once

#include "curlppx/CurlGlobal.h"

#include <cstddef>
#include <string>

// The level test comes first so that no message text is built for a line that
// would be dropped; the engine logs from the loop thread, where that matters.
#define CURLPPX_LOG(level, func, message, poolId)                                                  \
    do {                                                                                           \
        if (::curlppx::detail::LogEnabled(level)) {                                                \
            ::curlppx::detail::WriteLog((level), __LINE__, (func), (message), (poolId));           \
        }                                                                                          \
    } while (false)

namespace curlppx::detail {

inline constexpr size_t kNoPool = static_cast<size_t>(-1);

// The engine's log hook: CurlGlobal::g_logFun at levels up to
// CurlGlobal::g_logLevel. Any thread may log while another replaces the hook.
bool LogEnabled(CurlLogLevel level);
void WriteLog(CurlLogLevel level, int line, const std::string& func, const std::string& msg,
              size_t poolId);
void ReplaceLogFun(CurlLogFun fun);

} // namespace curlppx::detail
