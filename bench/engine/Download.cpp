// One large download into a sink that only counts, through the engine and
// through one plain easy handle.
#include "EngineBench.h"

namespace enginebench {

namespace {

size_t Count(char*, size_t size, size_t count, void* bytes) {
    *static_cast<size_t*>(bytes) += size * count;
    return size * count;
}

DownloadResult Rate(Clock::time_point began, size_t bytes, bool ok) {
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    return {static_cast<double>(bytes) / (1024.0 * 1024.0) / seconds, bytes, ok ? 0U : 1U};
}

} // namespace

DownloadResult PlainDownload(const Target& target) {
    size_t bytes = 0;
    Headers headers;
    // Warmed on the small reply, as the engine's connection is, so that
    // neither side pays a handshake inside the timed download.
    CURL* easy = PlainEasy(target, kSmallPath, Count, &bytes, &headers);
    const bool warmed = Succeeded(easy, curl_easy_perform(easy));
    curl_easy_setopt(easy, CURLOPT_URL, target.Url(kLargePath).c_str());
    bytes = 0;
    headers.clear();
    const auto began = Clock::now();
    const CURLcode code = curl_easy_perform(easy);
    const DownloadResult result = Rate(began, bytes, Succeeded(easy, code) && warmed);
    curl_easy_cleanup(easy);
    return result;
}

DownloadResult EngineDownload(const Target& target) {
    EngineConns conns(FreshPool(), target, kSmallPath, 1);
    curlppx::CurlConn& conn = conns[0];
    conn.SetURL(target.Url(kLargePath));
    size_t bytes = 0;
    const auto began = Clock::now();
    const CURLcode code = conn.HttpDownload(Count, &bytes).get();
    return Rate(began, bytes, Succeeded(conn, code) && conns.WarmFailures() == 0);
}

} // namespace enginebench
