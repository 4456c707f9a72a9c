#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace enginebench {

// The HTTPS server used where nginx is missing: the same two replies, served
// by cpp-httplib from a child process, so that neither its threads' heap nor
// its shutdown mixes with the measured process. cpp-httplib's stop waits for
// every keep-alive connection to end, and the engine's pools keep theirs open
// until the engine goes at exit; a child is simply ended instead.
class FallbackServer {
public:
    // Must run before the engine starts its threads: the child of a fork
    // must not inherit a lock that another thread held.
    FallbackServer(const std::string& cert, const std::string& key, size_t largeBytes);
    ~FallbackServer();
    FallbackServer(const FallbackServer&) = delete;
    FallbackServer& operator=(const FallbackServer&) = delete;

    bool Valid() const { return m_port > 0; }
    int Port() const { return m_port; }

private:
    pid_t m_child = -1;
    int m_port = 0;
};

} // namespace enginebench
