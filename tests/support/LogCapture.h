#pragma once

#include "platform/Scribo.h"

#include <mutex>
#include <string>
#include <vector>

namespace testsupport {

// Collects every log record while alive, restoring the previous sink after.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<Scribo::LogRecord> Records() const;
    // Records with exactly this function name and message.
    std::size_t Count(const std::string& function, const std::string& message) const;
    // Messages in order, for readable assertion failures.
    std::vector<std::string> Messages() const;
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<Scribo::LogRecord> m_records;
    Scribo::Sink m_previous;
};

} // namespace testsupport
