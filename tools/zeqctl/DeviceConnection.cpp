#include "DeviceConnection.h"

#include "Progress.h"
#include "Session.h"
#include "TlsCheck.h"

#include "curlppx/CurlConn.h"
#include "curlppx/CurlGlobal.h"
#include "platform/TextCodec.h"

namespace zeqctl {

namespace {

// A pool of the tool's own, apart from the library's: the engine keeps one
// multi handle and connection cache per pool.
constexpr std::size_t kTransferPool = 0x7a71;
// How often the bar is redrawn while the engine works; the wait ends at once
// when the transfer does.
constexpr std::chrono::milliseconds kRedraw{100};

std::wstring Wide(const std::string& text) {
    std::wstring out;
    return platform::Utf8ToWide(text, out) ? out : std::wstring();
}

} // namespace

// libcurl checks the host name itself as well, pin or not. The engine's
// progress hook stays off: its callback lets libcurl draw its own meter on
// standard error as well, so the byte counts come from the data callbacks.
DeviceConnection::DeviceConnection(Session& s, const std::string& url) : m_session(s) {
    auto& engine = curlppx::CurlGlobal::GetInstance();
    const char* why = nullptr;
    if (!engine.HasInit(&why)) {
        throw CommandError::Device(std::string("the transfer engine did not start: ") +
                                   (why != nullptr ? why : "unknown reason"));
    }
    m_conn = engine.GetConn(kTransferPool);
    if (!m_conn) {
        throw CommandError::Device("the transfer engine has no connection to give");
    }
    const auto& device = s.Device();
    const auto ca = Connection::CaFile();
    if (m_conn->SetURL(url) != CURLE_OK) {
        throw CommandError::Usage("not a usable URL: " + url);
    }
    if (m_conn->SetSSLVerify("PEM") != CURLE_OK || m_conn->SetCA(Wide(ca.string())) != CURLE_OK) {
        throw CommandError(ExitCode::Connection, "no CA file at " + ca.string() +
                                                     ": put the CA that signed the device's "
                                                     "certificate there");
    }
    m_conn->SetSslCtxFunction([](CURL* easy, void* sslCtx) {
        return static_cast<CURLcode>(TlsCheck::Hook(easy, sslCtx, nullptr));
    });
    m_conn->SetHeader("Cookie", "ID=" + device.CookieId());
    m_conn->SetHeader("Token", device.Token());
    // A retried download would append its body a second time, and a retried
    // upload would be refused by the device as a second part.
    m_conn->SetNeedRetry(false);
}

DeviceConnection::~DeviceConnection() {
    curlppx::CurlGlobal::GetInstance().FreeConn(kTransferPool, m_conn);
}

TransferEnd DeviceConnection::Await(std::future<CURLcode>& done, ProgressView& view,
                                    const Activity& activity,
                                    const std::function<ProgressSample()>& sample) {
    bool stalled = false;
    while (done.wait_for(kRedraw) != std::future_status::ready) {
        view.Update(sample());
        if (!stalled && activity.Idle() >= m_session.Timeout()) {
            stalled = true;
            m_conn->Break(); // the request completes, with CURLE_ABORTED_BY_CALLBACK
        }
    }
    const auto end = Ended(done, stalled);
    // A refusal moved nothing worth a last line.
    if (const auto last = sample(); last.done > 0) {
        view.Update(last);
    }
    view.Finish();
    return end;
}

TransferEnd DeviceConnection::Await(std::future<CURLcode>& done) {
    const bool stalled = done.wait_for(m_session.Timeout()) != std::future_status::ready;
    if (stalled) {
        m_conn->Break();
    }
    return Ended(done, stalled);
}

TransferEnd DeviceConnection::Ended(std::future<CURLcode>& done, bool stalled) {
    TransferEnd end;
    end.code = done.get();
    // The engine's own low-speed limit ends a stalled transfer too, once
    // connected; before that, the time-out is the connect time-out.
    end.stalled = stalled || (end.code == CURLE_OPERATION_TIMEDOUT &&
                              (m_conn->GetReqSSLTime() > 0 || m_conn->GetResCode() != 0));
    if (end.code == curlppx::CurlConn::kRedirectRefused) {
        end.refusedRedirect = m_conn->GetRefusedRedirect();
    }
    return end;
}

void FailIfCutShort(Session& s, const std::string& what, const TransferEnd& end) {
    if (end.stalled) {
        s.FailStalled(what);
    }
    if (!end.refusedRedirect.empty()) {
        throw CommandError(ExitCode::Connection,
                           what + ": the device redirected to " + end.refusedRedirect +
                               ", which zeqctl refuses: the device's credentials never go over "
                               "plain HTTP or to another origin");
    }
}

} // namespace zeqctl
