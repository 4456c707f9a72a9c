#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace zeqemu {

class HttpConnection;
struct RequestHead;

// Reads one request body (by length or chunked) from a connection as the
// handler asks for it, never more than the limit: the refusal comes as soon
// as a length or a chunk size passes it, before those bytes are read.
class BodyReader {
public:
    BodyReader(HttpConnection& connection, const RequestHead& head, std::uint64_t limit,
               std::chrono::milliseconds timeout);

    // Up to size bytes into out; 0 at the end of the body. Throws ApiError:
    // 413 past the limit, 400 for a malformed or cut-off body.
    std::size_t Read(char* out, std::size_t size);
    std::string ReadAll();
    // The whole body was read: the connection is at the next request.
    bool Finished() const { return m_finished; }
    std::uint64_t Received() const { return m_received; }

private:
    std::string Line();
    void Fill();
    [[noreturn]] void Broken(const char* why);

    HttpConnection& m_connection;
    std::uint64_t m_limit;
    std::chrono::milliseconds m_timeout;
    bool m_chunked;
    std::uint64_t m_left;   // of the whole body, or of the current chunk
    bool m_inChunk = false; // a chunk's bytes (and its closing line) are pending
    bool m_finished = false;
    std::uint64_t m_received = 0;
};

} // namespace zeqemu
