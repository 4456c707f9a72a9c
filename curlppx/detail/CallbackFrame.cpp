#include "curlppx/detail/CallbackFrame.h"

namespace curlppx::detail {

namespace {

thread_local CallbackFrame* t_innermost = nullptr;

} // namespace

CallbackFrame::CallbackFrame(const CurlConn* conn, bool insideLibcurl)
    : m_conn(conn), m_insideLibcurl(insideLibcurl), m_outer(t_innermost) {
    t_innermost = this;
}

CallbackFrame::~CallbackFrame() {
    t_innermost = m_outer;
}

bool CallbackFrame::InsideLibcurl() {
    for (const CallbackFrame* frame = t_innermost; frame != nullptr; frame = frame->m_outer) {
        if (frame->m_insideLibcurl) {
            return true;
        }
    }
    return false;
}

void CallbackFrame::LetGo(const CurlConn* conn) {
    for (CallbackFrame* frame = t_innermost; frame != nullptr; frame = frame->m_outer) {
        if (frame->m_conn == conn) {
            frame->m_letGo = true;
        }
    }
}

} // namespace curlppx::detail
