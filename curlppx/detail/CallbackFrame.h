#pragma once

namespace curlppx {
class CurlConn;
}

namespace curlppx::detail {

// Marks, on the loop thread, that a caller's code runs for a connection:
// its sink, source, progress or TLS hook inside one of libcurl's callbacks,
// where no multi call may be made, or its retry callback. Code run there may
// break, clear or destroy that connection (or another); the engine then
// defers what libcurl forbids and the callback touches the connection no
// more.
class CallbackFrame {
public:
    CallbackFrame(const CurlConn* conn, bool insideLibcurl);
    ~CallbackFrame();
    CallbackFrame(const CallbackFrame&) = delete;
    CallbackFrame& operator=(const CallbackFrame&) = delete;

    // The connection was cleared or destroyed by the code run in the frame.
    bool ConnLetGo() const { return m_letGo; }

    // Whether the calling thread is inside one of libcurl's callbacks.
    static bool InsideLibcurl();
    // Called by a connection that is cleared or destroyed.
    static void LetGo(const CurlConn* conn);

private:
    const CurlConn* m_conn;
    bool m_insideLibcurl;
    bool m_letGo = false;
    CallbackFrame* m_outer;
};

} // namespace curlppx::detail
