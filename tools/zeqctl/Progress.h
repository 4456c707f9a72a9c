#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace zeqctl {

// One look at a followed task or transfer.
struct ProgressSample {
    std::int64_t percent = 0; // 0..100
    std::int64_t done = 0;    // items finished, or bytes moved
    std::int64_t total = 0;   // items in all; 0 when the device does not say
};

enum class ProgressUnit { Items, Bytes };

// Shows a followed task. On a terminal one line is redrawn in place (bar,
// percentage, items, speed, ETA); elsewhere a plain line is written whenever
// the progress changes (for bytes: the percentage), so a log file or a pipe
// gets no control characters and no flood of lines.
class ProgressView {
public:
    using Clock = std::chrono::steady_clock;

    ProgressView(std::ostream& out, bool live, std::string label,
                 ProgressUnit unit = ProgressUnit::Items);

    void Update(const ProgressSample& sample, Clock::time_point now = Clock::now());
    // Ends the live line; a closing plain line is up to the caller.
    void Finish();

    // Items (or bytes) per second since the first sample, when anything was done.
    std::optional<double> Speed(const ProgressSample& sample, Clock::time_point now) const;
    // Seconds left judged by the progress rate so far.
    std::optional<double> Eta(const ProgressSample& sample, Clock::time_point now) const;

    static std::string Duration(double seconds);

private:
    std::string Render(const ProgressSample& sample, Clock::time_point now) const;

    std::ostream& m_out;
    bool m_live;
    std::string m_label;
    ProgressUnit m_unit;
    std::optional<Clock::time_point> m_start;
    ProgressSample m_first;
    std::optional<ProgressSample> m_last;
    std::size_t m_drawnWidth = 0;
};

} // namespace zeqctl
