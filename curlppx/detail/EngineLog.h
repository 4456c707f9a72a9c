#pragma once

#include "curlppx/CurlGlobal.h"

// The level test comes first so that no message text is built for a line that
// would be dropped; the engine logs from the loop thread, where that matters.
#define CURLPPX_LOG(level, func, message, poolId)                                                  \
    do {                                                                                           \
        if (::curlppx::CurlGlobal::LogEnabled(level)) {                                            \
            ::curlppx::CurlGlobal::WriteLog((level), __LINE__, (func), (message), (poolId));       \
        }                                                                                          \
    } while (false)

namespace curlppx::detail {

inline constexpr size_t kNoPool = static_cast<size_t>(-1);

} // namespace curlppx::detail
