#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace zeqemu {

// The request line and headers of one HTTP/1.1 request, read strictly: a
// head that could be read two ways (two lengths, a length beside chunking,
// an unknown transfer coding) is refused rather than guessed at.
struct RequestHead {
    std::string method;
    std::string path; // percent-decoded, with its leading "/"
    std::multimap<std::string, std::string> query;
    std::multimap<std::string, std::string> headers;
    bool keepAlive = true;
    bool chunked = false;
    std::uint64_t contentLength = 0;
    bool expectContinue = false;

    // Header value (case-insensitive name), "" when absent.
    std::string Header(std::string_view name) const;
    bool HasBody() const { return chunked || contentLength > 0; }

    // The head as received, without the blank line that ends it.
    static std::optional<RequestHead> Parse(std::string_view text);
    // %XX decoding; plusIsSpace for query texts.
    static std::optional<std::string> Decode(std::string_view text, bool plusIsSpace);
};

} // namespace zeqemu
