#include "FallbackServer.h"

#include "EngineBench.h"

#include <httplib.h>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

namespace enginebench {

namespace {

constexpr size_t kSlice = 1 << 20;

// Runs in the child: tells the parent its port (0 when it cannot serve),
// then serves until it is ended.
[[noreturn]] void Serve(int portPipe, const std::string& cert, const std::string& key,
                        size_t largeBytes) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    httplib::SSLServer server(cert.c_str(), key.c_str());
    int port = 0;
    const std::string slice(kSlice, '\0');
    if (server.is_valid()) {
        // cpp-httplib gives each open connection a worker, and the pools of
        // every run keep their keep-alive connections: workers for all.
        server.new_task_queue = [] { return new httplib::ThreadPool(1024); };
        server.set_keep_alive_max_count(10000000);
        server.set_keep_alive_timeout(600);
        server.set_tcp_nodelay(true);
        server.Get(kSmallPath, [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{\"ok\":true}", "application/json");
        });
        server.Get(kLargePath,
                   [&slice, largeBytes](const httplib::Request&, httplib::Response& res) {
                       res.set_content_provider(
                           largeBytes, "application/octet-stream",
                           [&slice](size_t offset, size_t length, httplib::DataSink& sink) {
                               const size_t at = offset % kSlice;
                               return sink.write(slice.data() + at, std::min(length, kSlice - at));
                           });
                   });
        port = server.bind_to_any_port("127.0.0.1");
    }
    const bool told = write(portPipe, &port, sizeof port) == sizeof port;
    close(portPipe);
    if (told && port > 0) {
        server.listen_after_bind();
    }
    _exit(0);
}

} // namespace

FallbackServer::FallbackServer(const std::string& cert, const std::string& key, size_t largeBytes) {
    int portPipe[2];
    if (pipe(portPipe) != 0) {
        return;
    }
    m_child = fork();
    if (m_child == 0) {
        close(portPipe[0]);
        Serve(portPipe[1], cert, key, largeBytes);
    }
    close(portPipe[1]);
    int port = 0;
    // The port is bound before it is sent: connections wait in the backlog.
    if (m_child > 0 && read(portPipe[0], &port, sizeof port) == sizeof port) {
        m_port = port;
    }
    close(portPipe[0]);
}

FallbackServer::~FallbackServer() {
    if (m_child > 0) {
        kill(m_child, SIGTERM);
        waitpid(m_child, nullptr, 0);
    }
}

} // namespace enginebench
