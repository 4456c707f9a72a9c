#pragma once

#include <curl/curl.h>

#include <atomic>
#include <functional>
#include <future>
#include <memory>

namespace curlppx::detail {

// One request's identity. A break, a start task and a finish each hold the
// request they were made for and compare it with what the connection runs,
// so that a break ends exactly the request it was aimed at (or none), and a
// request completes once whichever thread gets there first.
class Request : public std::enable_shared_from_this<Request> {
public:
    using DoneFunc = std::function<void(CURLcode)>;

    explicit Request(DoneFunc done) : m_done(std::move(done)) {}

    std::future<CURLcode> Future() { return m_promise.get_future(); }

    // Satisfies the future and hands the code to the completion callback;
    // false when the request had completed already.
    bool Complete(CURLcode code);
    // Loop thread, in a socket or timer callback: completes the request at
    // once for the engine, and for its owner once the loop has handled this
    // turn's events, together with the others that finished meanwhile. A
    // caller waiting on several futures then wakes once for all of them,
    // not once for each.
    bool CompleteBeforeNextPoll(CURLcode code);
    bool Completed() const { return m_completed.load(); }

    // True for the first break only: a second one while the first is on
    // its way returns at once.
    bool AskBreak() { return !m_breakAsked.exchange(true); }
    bool BreakAsked() const { return m_breakAsked.load(std::memory_order_relaxed); }

private:
    friend class EventLoop;
    void Deliver(CURLcode code);

    std::promise<CURLcode> m_promise;
    DoneFunc m_done;
    std::atomic<bool> m_completed{false};
    std::atomic<bool> m_breakAsked{false};
};

using RequestPtr = std::shared_ptr<Request>;

} // namespace curlppx::detail
