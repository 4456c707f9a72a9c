#include "curlppx/detail/Request.h"

#include "curlppx/detail/CallbackPool.h"

namespace curlppx::detail {

bool Request::Complete(CURLcode code) {
    if (m_completed.exchange(true)) {
        return false;
    }
    // Nothing of the connection may be touched from here on: its owner may
    // take the future's answer and drop the connection at once.
    m_promise.set_value(code);
    if (m_done) {
        CallbackPool::Instance().Run([done = std::move(m_done), code] { done(code); });
    }
    return true;
}

} // namespace curlppx::detail
