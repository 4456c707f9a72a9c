#pragma once

#include <curl/curl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <string>

namespace curlppx {
class CurlConn;
}

namespace zeqctl {

class ProgressView;
class Session;
struct ProgressSample;

// When a transfer last moved a byte either way: touched on the engine's loop
// thread, read by the thread that waits for the transfer.
class Activity {
public:
    using Clock = std::chrono::steady_clock;

    Activity() { Touch(); }
    void Touch() { m_last.store(Clock::now().time_since_epoch().count()); }
    Clock::duration Idle() const {
        return Clock::now() - Clock::time_point(Clock::duration(m_last.load()));
    }

private:
    std::atomic<Clock::rep> m_last{0};
};

// How a request on the engine ended.
struct TransferEnd {
    CURLcode code = CURLE_OK;
    bool stalled = false;        // nothing moved for --timeout
    std::string refusedRedirect; // where the device sent the request, refused
};

// One connection of the tool's transfer pool, set up the way the device
// request is: the device's credentials as headers, peer verification against
// the CA beside the executable and the tool's TLS checks (pin or host name)
// on every connection it opens. Every connection of the pool comes from here,
// so a TLS session the pool shares was always checked. Handed back to the
// pool however the command ends.
class DeviceConnection {
public:
    DeviceConnection(Session& session, const std::string& url);
    ~DeviceConnection();
    DeviceConnection(const DeviceConnection&) = delete;
    DeviceConnection& operator=(const DeviceConnection&) = delete;

    curlppx::CurlConn& operator*() const { return *m_conn; }
    curlppx::CurlConn* operator->() const { return m_conn.get(); }

    // Waits for the request started on it, redrawing view, and breaks it off
    // once nothing has moved for --timeout.
    TransferEnd Await(std::future<CURLcode>& done, ProgressView& view, const Activity& activity,
                      const std::function<ProgressSample()>& sample);
    // The same for a short exchange without a view, touched by nobody: the
    // whole of it has --timeout.
    TransferEnd Await(std::future<CURLcode>& done);

private:
    TransferEnd Ended(std::future<CURLcode>& done, bool stalled);

    Session& m_session;
    std::shared_ptr<curlppx::CurlConn> m_conn;
};

// Ends the command when the request did not get to deliver: broken off for
// silence, or sent off the device.
void FailIfCutShort(Session& session, const std::string& what, const TransferEnd& end);

} // namespace zeqctl
