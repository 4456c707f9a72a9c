#include "emulator/RequestHead.h"

#include <charconv>
#include <strings.h>

namespace zeqemu {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool IsToken(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const unsigned char c : text) {
        if (c <= ' ' || c >= 0x7f || c == ':') {
            return false;
        }
    }
    return true;
}

bool ParseQuery(std::string_view text, std::multimap<std::string, std::string>& query) {
    while (!text.empty()) {
        const auto amp = text.find('&');
        const auto pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty()) {
            continue;
        }
        const auto eq = pair.find('=');
        const auto key = RequestHead::Decode(pair.substr(0, eq), true);
        const auto value = RequestHead::Decode(
            eq == std::string_view::npos ? std::string_view() : pair.substr(eq + 1), true);
        if (!key || !value) {
            return false;
        }
        query.emplace(*key, *value);
    }
    return true;
}

} // namespace

std::string RequestHead::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (SameName(key, name)) {
            return value;
        }
    }
    return {};
}

std::optional<std::string> RequestHead::Decode(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const auto high = HexDigit(text[i + 1]);
            const auto low = HexDigit(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += plusIsSpace && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::optional<RequestHead> RequestHead::Parse(std::string_view text) {
    RequestHead head;
    const auto lineEnd = text.find("\r\n");
    const auto line = text.substr(0, lineEnd);
    auto rest = lineEnd == std::string_view::npos ? std::string_view() : text.substr(lineEnd + 2);

    const auto firstSpace = line.find(' ');
    const auto lastSpace = line.rfind(' ');
    if (firstSpace == std::string_view::npos || lastSpace == firstSpace) {
        return std::nullopt;
    }
    head.method = std::string(line.substr(0, firstSpace));
    const auto target = line.substr(firstSpace + 1, lastSpace - firstSpace - 1);
    const auto version = line.substr(lastSpace + 1);
    if (!IsToken(head.method) || target.empty() || target.front() != '/') {
        return std::nullopt;
    }
    if (version == "HTTP/1.0") {
        head.keepAlive = false;
    } else if (version != "HTTP/1.1") {
        return std::nullopt;
    }
    const auto question = target.find('?');
    const auto path = Decode(target.substr(0, question), false);
    if (!path || (question != std::string_view::npos &&
                  !ParseQuery(target.substr(question + 1), head.query))) {
        return std::nullopt;
    }
    head.path = *path;

    std::optional<std::uint64_t> length;
    while (!rest.empty()) {
        const auto end = rest.find("\r\n");
        const auto field = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        const auto colon = field.find(':');
        if (colon == std::string_view::npos || !IsToken(field.substr(0, colon))) {
            return std::nullopt; // also refuses folded (obsolete) continuation lines
        }
        const auto name = field.substr(0, colon);
        const auto value = Trim(field.substr(colon + 1));
        if (SameName(name, "Content-Length")) {
            std::uint64_t parsed = 0;
            const auto [ptr, ec] =
                std::from_chars(value.data(), value.data() + value.size(), parsed);
            if (value.empty() || ec != std::errc() || ptr != value.data() + value.size() ||
                (length && *length != parsed)) {
                return std::nullopt;
            }
            length = parsed;
        } else if (SameName(name, "Transfer-Encoding")) {
            if (!SameName(value, "chunked") || head.chunked) {
                return std::nullopt;
            }
            head.chunked = true;
        } else if (SameName(name, "Connection")) {
            if (SameName(value, "close")) {
                head.keepAlive = false;
            } else if (SameName(value, "keep-alive")) {
                head.keepAlive = true;
            }
        } else if (SameName(name, "Expect")) {
            if (!SameName(value, "100-continue")) {
                return std::nullopt;
            }
            head.expectContinue = true;
        }
        head.headers.emplace(std::string(name), std::string(value));
    }
    if (head.chunked && length) {
        return std::nullopt;
    }
    head.contentLength = length.value_or(0);
    return head;
}

} // namespace zeqemu
