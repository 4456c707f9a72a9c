#pragma once

#include <json/value.h>

#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace zeqctl {

enum class Shown {
    Text,  // as is
    Bytes, // 1536 -> "1.5 KiB"
    Time,  // device seconds or milliseconds since the epoch -> local date and time
    Count, // right-aligned number
};

struct Column {
    std::string key; // member of each JSON row
    std::string header;
    Shown shown = Shown::Text;
};

// Every command builds one JSON document. With --json that document is the
// whole output (one per command, for scripts); otherwise the command renders
// it for a person with aligned tables and "Label: value" blocks.
class Output {
public:
    Output(bool json, std::ostream& out);

    bool Json() const { return m_json; }
    std::ostream& Stream() { return m_out; }

    // Writes doc with --json, runs human otherwise.
    void Emit(const Json::Value& doc, const std::function<void()>& human);

    void Table(const Json::Value& rows, const std::vector<Column>& columns);
    void Fields(const Json::Value& object, const std::vector<Column>& columns);
    void Line(const std::string& text);
    void Heading(const std::string& text);

    static std::string Show(const Json::Value& value, Shown shown);
    static std::string Bytes(std::int64_t bytes);
    static std::string Time(std::int64_t deviceTime);
    // Lowercase hex digits, two per byte.
    static std::string Hex(const unsigned char* bytes, std::size_t size);

private:
    bool m_json;
    std::ostream& m_out;
};

} // namespace zeqctl
