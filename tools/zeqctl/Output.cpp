#include "Output.h"

#include <json/writer.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>
#include <ostream>

namespace zeqctl {

namespace {

// Columns are measured in code points, so names with accents still line up.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(std::count_if(text.begin(), text.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}

void Pad(std::ostream& out, const std::string& text, std::size_t width, bool right) {
    const std::string fill(width > Width(text) ? width - Width(text) : 0, ' ');
    if (right) {
        out << fill << text;
    } else {
        out << text << fill;
    }
}

} // namespace

Output::Output(bool json, std::ostream& out) : m_json(json), m_out(out) {}

void Output::Emit(const Json::Value& doc, const std::function<void()>& human) {
    if (!m_json) {
        human();
        return;
    }
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "  ";
    const std::unique_ptr<Json::StreamWriter> writer(builder.newStreamWriter());
    writer->write(doc, &m_out);
    m_out << '\n';
    m_out.flush();
}

std::string Output::Bytes(std::int64_t bytes) {
    if (bytes < 1024) {
        return std::to_string(bytes) + " B";
    }
    static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    double value = static_cast<double>(bytes) / 1024.0;
    std::size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof(text), value < 10 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
    return text;
}

std::string Output::Hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 2);
    for (std::size_t i = 0; i < size; ++i) {
        text += kDigits[bytes[i] >> 4];
        text += kDigits[bytes[i] & 0x0f];
    }
    return text;
}

std::string Output::Time(std::int64_t deviceTime) {
    // Devices give seconds in some records and milliseconds in others.
    std::int64_t seconds = deviceTime;
    if (deviceTime > 100000000000LL) {
        seconds = deviceTime / 1000;
    }
    if (seconds <= 0) {
        return "-";
    }
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) {
        return std::to_string(deviceTime);
    }
    char text[32];
    std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &local);
    return text;
}

std::string Output::Show(const Json::Value& value, Shown shown) {
    if (value.isNull()) {
        return "";
    }
    switch (shown) {
    case Shown::Bytes:
        return value.isIntegral() ? Bytes(value.asInt64()) : value.asString();
    case Shown::Time:
        return value.isIntegral() ? Time(value.asInt64()) : value.asString();
    case Shown::Count:
    case Shown::Text:
        break;
    }
    if (value.isBool()) {
        return value.asBool() ? "yes" : "no";
    }
    if (value.isArray()) {
        std::string joined;
        for (const auto& element : value) {
            joined += (joined.empty() ? "" : ", ") + Show(element, shown);
        }
        return joined;
    }
    return value.isConvertibleTo(Json::stringValue) ? value.asString() : "";
}

void Output::Table(const Json::Value& rows, const std::vector<Column>& columns) {
    std::vector<std::size_t> widths;
    for (const auto& column : columns) {
        widths.push_back(Width(column.header));
    }
    std::vector<std::vector<std::string>> cells;
    for (const auto& row : rows) {
        auto& line = cells.emplace_back();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            line.push_back(Show(row[columns[i].key], columns[i].shown));
            widths[i] = std::max(widths[i], Width(line.back()));
        }
    }
    const auto print = [&](const std::vector<std::string>& line) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const bool last = i + 1 == columns.size();
            const bool right = columns[i].shown != Shown::Text && columns[i].shown != Shown::Time;
            if (last && !right) {
                m_out << line[i];
            } else {
                Pad(m_out, line[i], widths[i], right);
            }
            m_out << (last ? "\n" : "  ");
        }
    };
    std::vector<std::string> headers;
    for (const auto& column : columns) {
        headers.push_back(column.header);
    }
    print(headers);
    for (const auto& line : cells) {
        print(line);
    }
    if (cells.empty()) {
        m_out << "(none)\n";
    }
}

void Output::Fields(const Json::Value& object, const std::vector<Column>& columns) {
    std::size_t width = 0;
    for (const auto& column : columns) {
        width = std::max(width, Width(column.header));
    }
    for (const auto& column : columns) {
        Pad(m_out, column.header + ":", width + 1, false);
        m_out << "  " << Show(object[column.key], column.shown) << '\n';
    }
}

void Output::Line(const std::string& text) {
    m_out << text << '\n';
}

void Output::Heading(const std::string& text) {
    m_out << '\n' << text << '\n' << std::string(Width(text), '-') << '\n';
}

} // namespace zeqctl
