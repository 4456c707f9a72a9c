#include "curlppx/detail/Request.h"

#include "curlppx/detail/CallbackPool.h"
#include "curlppx/detail/EventLoop.h"

namespace curlppx::detail {

bool Request::Complete(CURLcode code) {
    if (m_completed.exchange(true)) {
        return false;
    }
    Deliver(code);
    return true;
}

bool Request::CompleteBeforeNextPoll(CURLcode code) {
    if (m_completed.exchange(true)) {
        return false;
    }
    EventLoop::Instance().DeliverBeforeNextPoll(shared_from_this(), code);
    return true;
}

void Request::Deliver(CURLcode code) {
    // Nothing of the connection may be touched from here on: its owner may
    // take the future's answer and drop the connection at once.
    m_promise.set_value(code);
    if (m_done) {
        CallbackPool::Instance().Run([done = std::move(m_done), code] { done(code); });
    }
}

} // namespace curlppx::detail
