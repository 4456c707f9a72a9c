#include "Diagnostics.h"

#include <charconv>
#include <iostream>
#include <string_view>

namespace zeqctl {

namespace {

// The number that follows prefix in text, when text starts with it.
template <typename T> bool NumberAfter(std::string_view text, std::string_view prefix, T& value) {
    if (!text.starts_with(prefix)) {
        return false;
    }
    text.remove_prefix(prefix.size());
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end != text.data();
}

// "<phrase> error: <code>, <des>": the one form every envelope check uses.
bool DeviceError(std::string_view text, std::int64_t& code, std::string& des) {
    constexpr std::string_view kMarker = " error: ";
    const auto at = text.find(kMarker);
    if (at == std::string_view::npos) {
        return false;
    }
    text.remove_prefix(at + kMarker.size());
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), code);
    if (ec != std::errc()) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    if (text.starts_with(", ")) {
        text.remove_prefix(2);
    }
    des = std::string(text);
    return true;
}

} // namespace

Diagnostics::Diagnostics(bool verbose) : m_verbose(verbose) {
    m_previous = Scribo::SetSink([this](const Scribo::LogRecord& record) { Take(record); });
}

Diagnostics::~Diagnostics() {
    Scribo::SetSink(std::move(m_previous));
}

void Diagnostics::Reset() {
    std::lock_guard lock(m_mutex);
    m_clues = FailureClues{};
}

FailureClues Diagnostics::Clues() const {
    std::lock_guard lock(m_mutex);
    return m_clues;
}

void Diagnostics::Take(const Scribo::LogRecord& record) {
    const std::string_view text = record.message;
    std::lock_guard lock(m_mutex);
    if (m_verbose) {
        std::cerr << Scribo::FormatLine(record) << '\n';
    }
    int number = 0;
    std::int64_t code = 0;
    std::string des;
    if (NumberAfter(text, "request fail, result: ", number)) {
        m_clues.curlCode = number;
    } else if (NumberAfter(text, "request fail, code:", number)) {
        // Only the want of any HTTP status makes the device request fail.
        m_clues.transportFailed = true;
    } else if (NumberAfter(text, "DownloadFile: no file written, CurlCode: ", number)) {
        m_clues.downloadCurlCode = number;
        const auto at = text.find("HttpCode= ");
        if (at != std::string_view::npos) {
            NumberAfter(text.substr(at), "HttpCode= ", m_clues.downloadHttpStatus);
        }
    } else if (DeviceError(text, code, des)) {
        m_clues.deviceCode = code;
        m_clues.deviceText = std::move(des);
    }
}

} // namespace zeqctl
