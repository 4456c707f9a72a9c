#include "support/LogCapture.h"

namespace testsupport {

LogCapture::LogCapture() {
    m_previous = Scribo::SetSink([this](const Scribo::LogRecord& record) {
        std::lock_guard lock(m_mutex);
        m_records.push_back(record);
    });
}

LogCapture::~LogCapture() {
    Scribo::SetSink(std::move(m_previous));
}

std::vector<Scribo::LogRecord> LogCapture::Records() const {
    std::lock_guard lock(m_mutex);
    return m_records;
}

std::size_t LogCapture::Count(const std::string& function, const std::string& message) const {
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (const auto& r : m_records) {
        n += (r.function == function && r.message == message) ? 1 : 0;
    }
    return n;
}

std::vector<std::string> LogCapture::Messages() const {
    std::lock_guard lock(m_mutex);
    std::vector<std::string> out;
    out.reserve(m_records.size());
    for (const auto& r : m_records) {
        out.push_back(r.function + ": " + r.message);
    }
    return out;
}

void LogCapture::Clear() {
    std::lock_guard lock(m_mutex);
    m_records.clear();
}

} // namespace testsupport
