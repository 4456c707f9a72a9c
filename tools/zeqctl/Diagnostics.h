#pragma once

#include "platform/Scribo.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace zeqctl {

// What the library's log lines tell about the last failed operation. The
// services report most failures only as false; the reason (the libcurl code,
// the device's code and text) is in the line they log.
struct FailureClues {
    bool transportFailed = false; // a request ended with no HTTP status at all
    int curlCode = 0;             // last "request fail, result: N"
    std::optional<std::int64_t> deviceCode;
    std::string deviceText;
    // The copyright download (generic HTTP service) reports in its own words.
    int downloadCurlCode = 0;
    int downloadHttpStatus = 0;
};

// Owns the library's log sink for the life of the tool: lines are parsed
// into clues, shown on standard error only with --verbose, and never reach
// the terminal otherwise.
class Diagnostics {
public:
    explicit Diagnostics(bool verbose);
    ~Diagnostics();
    Diagnostics(const Diagnostics&) = delete;
    Diagnostics& operator=(const Diagnostics&) = delete;

    // Forgets the clues of earlier operations, so a transient failure that a
    // retry overcame is not blamed for a later refusal.
    void Reset();
    FailureClues Clues() const;

private:
    void Take(const Scribo::LogRecord& record);

    bool m_verbose;
    mutable std::mutex m_mutex;
    FailureClues m_clues;
    Scribo::Sink m_previous;
};

} // namespace zeqctl
