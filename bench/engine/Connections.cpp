#include "EngineBench.h"

#include "curlppx/CurlGlobal.h"
#include "platform/ClientConstants.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <ctime>
#include <filesystem>
#include <future>

namespace enginebench {

namespace {

double Percentile(std::vector<double>& values, double fraction) {
    if (values.empty()) {
        return 0;
    }
    const auto at = values.begin() +
                    static_cast<std::ptrdiff_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

double ProcessCpuUs() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

bool IsBlank(char c) {
    const auto u = static_cast<unsigned char>(c);
    return std::isspace(u) != 0 || std::iscntrl(u) != 0;
}

std::string Trim(const char* begin, const char* end) {
    while (begin < end && IsBlank(*begin)) {
        ++begin;
    }
    while (end > begin && IsBlank(*(end - 1))) {
        --end;
    }
    return std::string(begin, end);
}

// What the engine keeps of a header line: "name: value", both trimmed, both
// present; status lines and the blank end line are passed over.
size_t CollectHeader(char* line, size_t size, size_t count, void* headers) {
    const size_t bytes = size * count;
    const char* end = line + bytes;
    const char* colon = std::find(static_cast<const char*>(line), end, ':');
    if (colon != end && colon + 1 != end) {
        std::string name = Trim(line, colon);
        std::string value = Trim(colon + 1, end);
        if (!name.empty() && !value.empty()) {
            (*static_cast<Headers*>(headers))[std::move(name)] = std::move(value);
        }
    }
    return bytes;
}

} // namespace

Timings::Timings(size_t expected) : m_cpuBeganUs(ProcessCpuUs()) {
    m_us.reserve(expected);
}

void Timings::Add(Clock::time_point startedAt, bool ok) {
    m_us.push_back(std::chrono::duration<double, std::micro>(Clock::now() - startedAt).count());
    m_failures += ok ? 0 : 1;
}

RunResult Timings::Finish(Clock::time_point runBegan) {
    const double seconds = std::chrono::duration<double>(Clock::now() - runBegan).count();
    RunResult result;
    result.perSecond = static_cast<double>(m_us.size()) / seconds;
    result.p50Us = Percentile(m_us, 0.50);
    result.p99Us = Percentile(m_us, 0.99);
    result.cpuUs = (ProcessCpuUs() - m_cpuBeganUs) / static_cast<double>(m_us.size());
    result.failures = m_failures;
    return result;
}

bool Succeeded(CURL* easy, CURLcode code) {
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    return code == CURLE_OK && status == 200;
}

bool Succeeded(curlppx::CurlConn& conn, CURLcode code) {
    return code == CURLE_OK && conn.GetResCode() == 200;
}

CURL* PlainEasy(const Target& target, const char* path, curl_write_callback sink, void* sinkData,
                Headers* headers) {
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, target.Url(path).c_str());
    // The engine's default set, value for value.
    curl_easy_setopt(easy, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_DNS_CACHE_TIMEOUT, 300L);
    curl_easy_setopt(easy, CURLOPT_TCP_FASTOPEN, 1L);
    curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "deflate");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, 20000L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 30L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, 30L);
    curl_easy_setopt(easy, CURLOPT_SSL_FALSESTART, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_CIPHER_LIST, g_cipherList.c_str());
    curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, CollectHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, headers);
    // What SetCA and SetSSLVerify("PEM") give a connection.
    curl_easy_setopt(easy, CURLOPT_CAINFO, target.ca.c_str());
    curl_easy_setopt(easy, CURLOPT_SSLCERTTYPE, "PEM");
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, sink);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, sinkData);
    return easy;
}

std::shared_ptr<curlppx::CurlConnPool> FreshPool() {
    static std::atomic<size_t> next{1000};
    return curlppx::CurlGlobal::GetInstance().GetPool(next++);
}

EngineConns::EngineConns(std::shared_ptr<curlppx::CurlConnPool> pool, const Target& target,
                         const char* path, size_t count, Warm warm)
    : m_pool(std::move(pool)) {
    const std::wstring ca = std::filesystem::path(target.ca).wstring();
    std::vector<std::pair<curlppx::CurlConn*, std::future<CURLcode>>> pending;
    const auto settle = [&] {
        for (auto& [conn, result] : pending) {
            m_warmFailures += Succeeded(*conn, result.get()) ? 0 : 1;
        }
        pending.clear();
    };
    for (size_t i = 0; i < count; ++i) {
        m_conns.push_back(m_pool->GetConn());
        curlppx::CurlConn& conn = *m_conns.back();
        conn.SetURL(target.Url(path));
        conn.SetCA(ca);
        conn.SetSSLVerify("PEM");
        pending.emplace_back(&conn, conn.HttpGet());
        if (warm == Warm::OneByOne) {
            settle();
        }
    }
    settle();
}

EngineConns::~EngineConns() {
    for (auto& conn : m_conns) {
        m_pool->FreeConn(conn);
    }
}

} // namespace enginebench
