#include "emulator/BodyReader.h"

#include "emulator/ApiError.h"
#include "emulator/ErrorCodes.h"
#include "emulator/HttpConnection.h"
#include "emulator/RequestHead.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace zeqemu {

namespace {

constexpr std::size_t kMaxLine = 4096;

ApiError TooLarge() {
    return ApiError(413, code::kTooLarge, "request body too large");
}

} // namespace

BodyReader::BodyReader(HttpConnection& connection, const RequestHead& head, std::uint64_t limit,
                       std::chrono::milliseconds timeout)
    : m_connection(connection), m_limit(limit), m_timeout(timeout), m_chunked(head.chunked),
      m_left(head.chunked ? 0 : head.contentLength) {
    if (!m_chunked && m_left > m_limit) {
        throw TooLarge();
    }
    m_finished = !m_chunked && m_left == 0;
}

void BodyReader::Broken(const char* why) {
    throw ApiError(400, code::kBadJson, std::string("request body ") + why);
}

void BodyReader::Fill() {
    if (!m_connection.Fill(m_timeout)) {
        Broken("cut off");
    }
}

std::string BodyReader::Line() {
    auto& in = m_connection.Buffered();
    std::size_t end = 0;
    while ((end = in.find("\r\n")) == std::string::npos) {
        if (in.size() > kMaxLine) {
            Broken("has an overlong chunk line");
        }
        Fill();
    }
    auto line = in.substr(0, end);
    in.erase(0, end + 2);
    return line;
}

std::size_t BodyReader::Read(char* out, std::size_t size) {
    if (m_finished || size == 0) {
        return 0;
    }
    if (m_chunked && !m_inChunk) {
        const auto line = Line();
        const auto end = line.find(';');
        const auto digits = std::string_view(line).substr(0, end);
        std::uint64_t chunk = 0;
        const auto [ptr, ec] =
            std::from_chars(digits.data(), digits.data() + digits.size(), chunk, 16);
        if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
            Broken("has a bad chunk size");
        }
        if (chunk == 0) {
            while (!Line().empty()) {
                // trailer fields: nothing here needs them
            }
            m_finished = true;
            return 0;
        }
        if (chunk > m_limit - m_received) {
            throw TooLarge();
        }
        m_left = chunk;
        m_inChunk = true;
    }
    auto& in = m_connection.Buffered();
    if (in.empty()) {
        Fill();
    }
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>({size, m_left, in.size()}));
    std::memcpy(out, in.data(), n);
    in.erase(0, n);
    m_left -= n;
    m_received += n;
    if (m_left == 0) {
        if (m_chunked) {
            if (!Line().empty()) {
                Broken("has a chunk longer than announced");
            }
            m_inChunk = false;
        } else {
            m_finished = true;
        }
    }
    return n;
}

std::string BodyReader::ReadAll() {
    std::string body;
    char buffer[16384];
    while (const auto n = Read(buffer, sizeof buffer)) {
        body.append(buffer, n);
    }
    return body;
}

} // namespace zeqemu
