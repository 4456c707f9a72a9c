#pragma once

#include "curlppx/CurlConn.h"
#include "curlppx/CurlConnPool.h"

#include <curl/curl.h>

#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace enginebench {

using Clock = std::chrono::steady_clock;

// The server every measurement talks to, and the CA that both sides verify
// it against: the engine and plain libcurl always run with the same TLS
// settings.
struct Target {
    std::string origin; // https://127.0.0.1:PORT
    std::string ca;
    std::string Url(const char* path) const { return origin + path; }
};

// The small reply of the request-rate runs and the large one of the download.
inline constexpr const char* kSmallPath = "/small";
inline constexpr const char* kLargePath = "/large";

struct RunResult {
    double perSecond = 0;
    double p50Us = 0;
    double p99Us = 0;
    // The whole process's CPU time per request: every thread of the side
    // measured, which a loaded machine disturbs far less than the rate.
    double cpuUs = 0;
    size_t failures = 0;
};

// Latencies of one run; the rate is taken over the run's whole wall time,
// the CPU time from construction to Finish.
class Timings {
public:
    explicit Timings(size_t expected);
    void Add(Clock::time_point startedAt, bool ok);
    RunResult Finish(Clock::time_point runBegan);

private:
    std::vector<double> m_us;
    size_t m_failures = 0;
    double m_cpuBeganUs;
};

// A completed request that got the reply it asked for.
bool Succeeded(CURL* easy, CURLcode code);
bool Succeeded(curlppx::CurlConn& conn, CURLcode code);

// Response headers as the engine keeps them: the trimmed value by name.
using Headers = std::map<std::string, std::string>;

// A plain easy handle with the options every engine connection carries: its
// default set (time-outs, low-speed limit, Accept-Encoding, redirects, the TLS
// floor and cipher list), peer verification against the target's CA, and the
// response headers collected into `headers` as the engine collects them. A
// ratio then measures what the engine itself costs, not what these options
// cost libcurl.
CURL* PlainEasy(const Target& target, const char* path, curl_write_callback sink, void* sinkData,
                Headers* headers);

enum class Warm { Together, OneByOne };

// Connections of one pool, each verified against the target's CA and warmed
// by one request: all in flight together, or each after the previous one
// completed. They go back to the pool on destruction.
class EngineConns {
public:
    EngineConns(std::shared_ptr<curlppx::CurlConnPool> pool, const Target& target, const char* path,
                size_t count, Warm warm = Warm::Together);
    ~EngineConns();
    EngineConns(const EngineConns&) = delete;
    EngineConns& operator=(const EngineConns&) = delete;

    curlppx::CurlConn& operator[](size_t i) { return *m_conns[i]; }
    size_t Size() const { return m_conns.size(); }
    size_t WarmFailures() const { return m_warmFailures; }

private:
    std::shared_ptr<curlppx::CurlConnPool> m_pool;
    std::vector<std::shared_ptr<curlppx::CurlConn>> m_conns;
    size_t m_warmFailures = 0;
};

// A pool no earlier run has touched.
std::shared_ptr<curlppx::CurlConnPool> FreshPool();

// Small GETs, `inflight` at a time, `total` in all.
RunResult PlainRequests(const Target& target, size_t inflight, size_t total);
RunResult EngineFutureRequests(const Target& target, size_t inflight, size_t total);
RunResult EngineCallbackRequests(const Target& target, size_t inflight, size_t total);

// Round trips between this thread and a libuv loop thread: woken with
// uv_async_send, answered through a promise.
RunResult WakeUpPingPong(size_t trips);

struct DownloadResult {
    double perSecond = 0; // MiB
    size_t bytes = 0;
    size_t failures = 0;
};
DownloadResult PlainDownload(const Target& target);
DownloadResult EngineDownload(const Target& target);

// Heap held per connection that did one request and went back to its pool;
// negative when a request failed.
double IdlePooledConnectionBytes(const Target& target, size_t count);

// Context switches per second of the engine's loop thread while nothing runs;
// negative when the loop thread could not be found.
double IdleLoopSwitchesPerSecond(std::chrono::seconds idle);

} // namespace enginebench
