#include "Progress.h"

#include "Output.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace zeqctl {

namespace {

constexpr int kBarWidth = 30;

} // namespace

ProgressView::ProgressView(std::ostream& out, bool live, std::string label, ProgressUnit unit)
    : m_out(out), m_live(live), m_label(std::move(label)), m_unit(unit) {}

std::optional<double> ProgressView::Speed(const ProgressSample& sample,
                                          Clock::time_point now) const {
    if (!m_start) {
        return std::nullopt;
    }
    const double seconds = std::chrono::duration<double>(now - *m_start).count();
    const auto items = sample.done - m_first.done;
    if (seconds <= 0.05 || items <= 0) {
        return std::nullopt;
    }
    return static_cast<double>(items) / seconds;
}

std::optional<double> ProgressView::Eta(const ProgressSample& sample, Clock::time_point now) const {
    if (!m_start) {
        return std::nullopt;
    }
    const double seconds = std::chrono::duration<double>(now - *m_start).count();
    const auto gained = sample.percent - m_first.percent;
    if (gained <= 0 || seconds <= 0.05) {
        return std::nullopt;
    }
    return seconds * static_cast<double>(100 - sample.percent) / static_cast<double>(gained);
}

std::string ProgressView::Duration(double seconds) {
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600) {
        std::snprintf(text, sizeof(text), "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                      whole % 60);
    } else {
        std::snprintf(text, sizeof(text), "%lld:%02lld", whole / 60, whole % 60);
    }
    return text;
}

std::string ProgressView::Render(const ProgressSample& sample, Clock::time_point now) const {
    const auto percent = std::clamp<std::int64_t>(sample.percent, 0, 100);
    std::string text = m_label + " ";
    if (m_live) {
        const auto filled = static_cast<int>(percent * kBarWidth / 100);
        text.append(1, '[')
            .append(static_cast<std::size_t>(filled), '#')
            .append(static_cast<std::size_t>(kBarWidth - filled), '.')
            .append("] ");
    }
    char figures[96];
    std::snprintf(figures, sizeof(figures), "%3lld%%", static_cast<long long>(percent));
    text += figures;
    if (m_unit == ProgressUnit::Bytes) {
        text.append("  ").append(Output::Bytes(sample.done));
        if (sample.total > 0) {
            text.append("/").append(Output::Bytes(sample.total));
        }
        if (const auto speed = Speed(sample, now)) {
            text.append("  ").append(Output::Bytes(static_cast<std::int64_t>(*speed))).append("/s");
        }
    } else {
        if (sample.total > 0) {
            text.append("  ")
                .append(std::to_string(sample.done))
                .append("/")
                .append(std::to_string(sample.total))
                .append(" items");
        }
        if (const auto speed = Speed(sample, now)) {
            std::snprintf(figures, sizeof(figures), "  %.1f items/s", *speed);
            text += figures;
        }
    }
    if (percent < 100) {
        const auto eta = Eta(sample, now);
        text.append("  ETA ").append(eta ? Duration(*eta) : std::string("--:--"));
    }
    return text;
}

void ProgressView::Update(const ProgressSample& sample, Clock::time_point now) {
    if (!m_start) {
        m_start = now;
        m_first = sample;
    }
    const bool changed = !m_last || m_last->percent != sample.percent ||
                         m_last->total != sample.total ||
                         (m_unit == ProgressUnit::Items && m_last->done != sample.done);
    m_last = sample;
    if (!m_live) {
        if (changed) {
            m_out << Render(sample, now) << '\n' << std::flush;
        }
        return;
    }
    const auto line = Render(sample, now);
    // Blanks over the end of a longer earlier line.
    const std::size_t pad = m_drawnWidth > line.size() ? m_drawnWidth - line.size() : 0;
    m_out << '\r' << line << std::string(pad, ' ') << std::flush;
    m_drawnWidth = line.size();
}

void ProgressView::Finish() {
    if (m_live && m_drawnWidth > 0) {
        m_out << '\n' << std::flush;
        m_drawnWidth = 0;
    }
}

} // namespace zeqctl
