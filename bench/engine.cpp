// Compares the engine with plain libcurl on the same local HTTP server:
//   1. small GETs over keep-alive, 1, 16 and 64 in flight through one pool,
//      against a curl_multi_poll loop doing the same work;
//   2. one large download into a discarding sink, against an easy handle;
//   3. heap held per idle pooled connection.
// Usage: engine [--download-mib N] [--requests N]

#include "curlppx/CurlConn.h"
#include "curlppx/CurlConnPool.h"
#include "curlppx/CurlGlobal.h"

#include <httplib.h>
#include <malloc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kSlice = 1 << 20;

struct Options {
    size_t downloadMiB = 1024;
    size_t requests = 20000;
};

Options Parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--download-mib") == 0) {
            options.downloadMiB = std::strtoull(argv[i + 1], nullptr, 10);
        } else if (std::strcmp(argv[i], "--requests") == 0) {
            options.requests = std::strtoull(argv[i + 1], nullptr, 10);
        }
    }
    return options;
}

class Server {
public:
    // cpp-httplib gives each open connection a worker, and the pools of every
    // run keep their keep-alive connections: enough workers for all of them.
    explicit Server(size_t largeBytes) : m_slice(kSlice, 'x') {
        m_server.new_task_queue = [] { return new httplib::ThreadPool(512); };
        m_server.set_keep_alive_max_count(1000000);
        m_server.set_keep_alive_timeout(30);
        m_server.set_tcp_nodelay(true);
        m_server.Get("/small", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("{\"ok\":true}", "application/json");
        });
        m_server.Get("/large", [this, largeBytes](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(largeBytes, "application/octet-stream",
                                     [this](size_t offset, size_t length, httplib::DataSink& sink) {
                                         const size_t at = offset % kSlice;
                                         return sink.write(m_slice.data() + at,
                                                           std::min(length, kSlice - at));
                                     });
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~Server() {
        m_server.stop();
        m_thread.join();
    }
    std::string Url(const char* path) const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    std::string m_slice;
    httplib::Server m_server;
    int m_port = 0;
    std::thread m_thread;
};

size_t Collect(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

size_t Discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// Requests per second of the engine with `inflight` chains on one pool; each
// completion callback starts the next request of its connection.
double EngineSmall(const std::string& url, size_t inflight, size_t total, size_t poolId) {
    auto pool = curlppx::CurlGlobal::GetInstance().GetPool(poolId);
    std::vector<std::shared_ptr<curlppx::CurlConn>> conns;
    for (size_t i = 0; i < inflight; ++i) {
        conns.push_back(pool->GetConn());
        conns.back()->SetURL(url);
    }
    // Warm all at once, as the plain loop does: one keep-alive connection each.
    for (int round = 0; round < 2; ++round) {
        std::vector<std::future<CURLcode>> warm;
        for (auto& conn : conns) {
            warm.push_back(conn->HttpGet());
        }
        for (auto& result : warm) {
            result.wait();
        }
    }
    std::atomic<size_t> started{0};
    size_t exited = 0; // callbacks that have left the engine's code paths
    std::mutex mutex;
    std::condition_variable finished;
    std::function<void(curlppx::CurlConn*)> issue = [&](curlppx::CurlConn* conn) {
        if (started.fetch_add(1) >= total) {
            return;
        }
        conn->HttpGet([&, conn](CURLcode) {
            issue(conn);
            std::lock_guard lock(mutex);
            ++exited;
            finished.notify_all();
        });
    };
    const auto begin = Clock::now();
    for (auto& conn : conns) {
        issue(conn.get());
    }
    double seconds = 0;
    {
        std::unique_lock lock(mutex);
        finished.wait(lock, [&] { return exited >= total; });
        seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    }
    for (auto& conn : conns) {
        pool->FreeConn(conn);
    }
    return static_cast<double>(total) / seconds;
}

// The same with the future form: one driver thread keeps `inflight` requests
// outstanding, waiting on the oldest and starting the next on its connection.
double EngineSmallFutures(const std::string& url, size_t inflight, size_t total, size_t poolId) {
    auto pool = curlppx::CurlGlobal::GetInstance().GetPool(poolId);
    std::vector<std::shared_ptr<curlppx::CurlConn>> conns;
    for (size_t i = 0; i < inflight; ++i) {
        conns.push_back(pool->GetConn());
        conns.back()->SetURL(url);
    }
    for (int round = 0; round < 2; ++round) {
        std::vector<std::future<CURLcode>> warm;
        for (auto& conn : conns) {
            warm.push_back(conn->HttpGet());
        }
        for (auto& result : warm) {
            result.wait();
        }
    }
    std::deque<std::pair<curlppx::CurlConn*, std::future<CURLcode>>> outstanding;
    const auto begin = Clock::now();
    size_t started = 0;
    for (auto& conn : conns) {
        outstanding.emplace_back(conn.get(), conn->HttpGet());
        ++started;
    }
    while (!outstanding.empty()) {
        auto [conn, result] = std::move(outstanding.front());
        outstanding.pop_front();
        result.wait();
        if (started < total) {
            outstanding.emplace_back(conn, conn->HttpGet());
            ++started;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    for (auto& conn : conns) {
        pool->FreeConn(conn);
    }
    return static_cast<double>(total) / seconds;
}

// The same work through a plain curl_multi_poll loop on this thread.
double PlainSmall(const std::string& url, size_t inflight, size_t total) {
    CURLM* multi = curl_multi_init();
    std::vector<CURL*> easies(inflight);
    std::vector<std::string> bodies(inflight);
    for (size_t i = 0; i < inflight; ++i) {
        easies[i] = curl_easy_init();
        curl_easy_setopt(easies[i], CURLOPT_URL, url.c_str());
        curl_easy_setopt(easies[i], CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easies[i], CURLOPT_WRITEFUNCTION, Collect);
        curl_easy_setopt(easies[i], CURLOPT_WRITEDATA, &bodies[i]);
        curl_easy_setopt(easies[i], CURLOPT_PRIVATE, &bodies[i]);
    }
    const auto runUntil = [&](size_t target, bool timed) {
        size_t started = 0;
        size_t done = 0;
        for (size_t i = 0; i < inflight && started < target; ++i, ++started) {
            curl_multi_add_handle(multi, easies[i]);
        }
        const auto begin = Clock::now();
        while (done < target) {
            int running = 0;
            curl_multi_perform(multi, &running);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
                if (msg->msg != CURLMSG_DONE) {
                    continue;
                }
                CURL* easy = msg->easy_handle;
                curl_multi_remove_handle(multi, easy);
                ++done;
                std::string* body = nullptr;
                curl_easy_getinfo(easy, CURLINFO_PRIVATE, &body);
                body->clear();
                if (started < target) {
                    ++started;
                    curl_multi_add_handle(multi, easy);
                }
            }
            if (done < target) {
                curl_multi_poll(multi, nullptr, 0, 1000, nullptr);
            }
        }
        return timed ? std::chrono::duration<double>(Clock::now() - begin).count() : 0.0;
    };
    runUntil(inflight, false); // warm: one keep-alive connection per handle
    const double seconds = runUntil(total, true);
    for (CURL* easy : easies) {
        curl_easy_cleanup(easy);
    }
    curl_multi_cleanup(multi);
    return static_cast<double>(total) / seconds;
}

double EngineDownload(const std::string& url, size_t bytes) {
    auto conn = curlppx::CurlGlobal::GetInstance().GetConn(90);
    conn->SetURL(url);
    const auto begin = Clock::now();
    auto done = conn->HttpDownload(Discard, nullptr);
    const CURLcode code = done.get();
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    if (code != CURLE_OK) {
        std::fprintf(stderr, "engine download failed: %d\n", code);
    }
    curlppx::CurlGlobal::GetInstance().FreeConn(90, conn);
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

double PlainDownload(const std::string& url, size_t bytes) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Discard);
    const auto begin = Clock::now();
    const CURLcode code = curl_easy_perform(easy);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    if (code != CURLE_OK) {
        std::fprintf(stderr, "plain download failed: %d\n", code);
    }
    curl_easy_cleanup(easy);
    return static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds;
}

// Heap held per connection that did one request and went back to its pool.
double IdleConnectionBytes(const std::string& url) {
    constexpr size_t kConns = 256;
    constexpr size_t kBatch = 32;
    auto pool = curlppx::CurlGlobal::GetInstance().GetPool(91);
    // Pool, share and first connection set up outside the measurement.
    auto first = pool->GetConn();
    first->SetURL(url);
    first->HttpGet().wait();
    pool->FreeConn(first);
    first.reset();
    malloc_trim(0);
    const size_t before = mallinfo2().uordblks;
    std::vector<std::shared_ptr<curlppx::CurlConn>> conns;
    for (size_t i = 0; i < kConns; ++i) {
        conns.push_back(pool->GetConn());
    }
    for (size_t i = 0; i < kConns; i += kBatch) {
        std::vector<std::future<CURLcode>> batch;
        for (size_t j = i; j < i + kBatch; ++j) {
            conns[j]->SetURL(url);
            batch.push_back(conns[j]->HttpGet());
        }
        for (auto& result : batch) {
            result.wait();
        }
    }
    for (auto& conn : conns) {
        pool->FreeConn(conn);
    }
    conns.clear(); // the pool's free queue now holds them
    const size_t after = mallinfo2().uordblks;
    return static_cast<double>(after - before) / static_cast<double>(kConns);
}

} // namespace

int main(int argc, char** argv) {
    const Options options = Parse(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const size_t largeBytes = options.downloadMiB * 1024 * 1024;
    auto& global = curlppx::CurlGlobal::GetInstance();
    if (!global.HasInit(nullptr)) {
        std::fprintf(stderr, "engine did not start\n");
        return 1;
    }
    Server server(largeBytes);
    const std::string small = server.Url("/small");

    std::printf("small GETs over keep-alive (%zu requests per run)\n", options.requests);
    std::printf("%9s %14s %14s %8s %18s %8s\n", "inflight", "plain req/s", "engine req/s", "ratio",
                "engine cb req/s", "ratio");
    size_t poolId = 80;
    for (size_t inflight : {1, 16, 64}) {
        const size_t total = inflight == 1 ? options.requests / 4 : options.requests;
        const double plain = PlainSmall(small, inflight, total);
        const double futures = EngineSmallFutures(small, inflight, total, poolId++);
        const double callbacks = EngineSmall(small, inflight, total, poolId++);
        std::printf("%9zu %14.0f %14.0f %8.2f %18.0f %8.2f\n", inflight, plain, futures,
                    futures / plain, callbacks, callbacks / plain);
    }
    std::printf("(engine: future form, one driver thread; engine cb: callback form, each\n"
                " completion on its own new thread starting the next request)\n");

    std::printf("\nlarge download (%zu MiB)\n", options.downloadMiB);
    const double engineMBs = EngineDownload(server.Url("/large"), largeBytes);
    const double plainMBs = PlainDownload(server.Url("/large"), largeBytes);
    std::printf("%9s %14s %14s %8s\n", "", "engine MiB/s", "plain MiB/s", "ratio");
    std::printf("%9s %14.0f %14.0f %8.2f\n", "", engineMBs, plainMBs, engineMBs / plainMBs);

    std::printf("\nheap per idle pooled connection: %.1f KiB\n",
                IdleConnectionBytes(small) / 1024.0);
    return 0;
}
