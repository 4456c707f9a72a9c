#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The reply reader's tokenizer: strict JSON (RFC 8259) read straight from
// the reply text, which it never writes to, as events for a handler:
//
//     bool Null(); bool Bool(bool); bool Int64(std::int64_t); bool Uint64(std::uint64_t);
//     bool Real(std::string_view text);  // a fraction, an exponent or an integer past 64 bits
//     bool String(const char*, std::size_t, bool unescaped);
//     bool Key(const char*, std::size_t, bool unescaped);
//     bool StartObject(); bool EndObject(std::size_t members);
//     bool StartArray(); bool EndArray(std::size_t elements);
//     const NamePattern* ExpectedKey();  // the name the next key probably has, or null
//     bool ExpectedKeyFound();           // instead of Key: the next key is that name
//     // Before each element of an array, at p: where the handler has read
//     // the elements from p on up to, adding them to count (a later element
//     // or the array's closing bracket); null to read on here.
//     const char* ElementAt(const char* p, const char* end, std::size_t& count);
//
// A string without escapes points into the text; one with escapes (unescaped
// true) lives in a scratch buffer only until the next event. Anything it does
// not take (no JSON, a raw control byte or a lone surrogate in a string,
// nesting past the depth limit, text after the value) makes Parse false, and
// the caller reads the text some other way.
namespace replyjson::detail {

inline std::uint64_t Load8(const char* bytes) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Whether text starts with name. Eight bytes at a time: names are short, and
// a call per comparison costs more than the comparison.
inline bool SameBytes(const char* text, std::string_view name) {
    std::size_t i = 0;
    for (; i + 8 <= name.size(); i += 8) {
        if (Load8(text + i) != Load8(name.data() + i)) {
            return false;
        }
    }
    for (; i < name.size(); ++i) {
        if (text[i] != name[i]) {
            return false;
        }
    }
    return true;
}

// A member name as it lies in a reply after its opening quote: its bytes and
// the closing quote, held as words so that comparing takes two loads. Only
// for a name without bytes that JSON escapes, whose text is the name itself.
class NamePattern {
public:
    explicit NamePattern(std::string_view name) : m_bytes(std::string(name) + '"') {
        char head[8] = {};
        const std::size_t headSize = std::min<std::size_t>(m_bytes.size(), 8);
        std::memcpy(head, m_bytes.data(), headSize);
        m_head = Load8(head);
        std::memset(head, 0xff, headSize);
        std::memset(head + headSize, 0, sizeof head - headSize);
        m_headMask = Load8(head);
        m_tail = m_bytes.size() > 8 ? Load8(m_bytes.data() + m_bytes.size() - 8) : 0;
    }

    // The name's bytes and its quote.
    std::size_t Size() const { return m_bytes.size(); }

    // Whether the text at p, which ends at end, begins with the pattern. So
    // near the end that a word would reach past it, the answer is no: the
    // caller then reads the name as any string.
    bool MatchesAt(const char* p, const char* end) const {
        const std::size_t size = m_bytes.size();
        if (static_cast<std::size_t>(end - p) < std::max<std::size_t>(size, 8)) {
            return false;
        }
        if ((Load8(p) & m_headMask) != m_head) {
            return false;
        }
        if (size <= 8) {
            return true;
        }
        if (size <= 16) {
            return Load8(p + size - 8) == m_tail;
        }
        return SameBytes(p + 8, std::string_view(m_bytes).substr(8));
    }

private:
    std::string m_bytes;
    std::uint64_t m_head = 0;
    std::uint64_t m_headMask = 0;
    std::uint64_t m_tail = 0;
};

template <typename Handler> class JsonScanner {
public:
    // The byte at end must be readable and NUL, as std::string's c_str()
    // guarantees: every scalar look-ahead stops there.
    JsonScanner(const char* begin, const char* end, Handler& handler, int depthLimit)
        : m_p(begin), m_end(end), m_handler(handler), m_depthLimit(depthLimit) {}

    // True when the text is one JSON value, with white space around it and
    // optionally a NUL byte and anything after it.
    bool Parse() {
        SkipSpace();
        if (!ParseValue(0)) {
            return false;
        }
        SkipSpace();
        return m_p == m_end || *m_p == '\0';
    }

    // The elements of an array at depth from the text's start on, up to the
    // array's closing bracket, where the reading stops: true when the text
    // has one there. count receives the number of elements.
    bool ParseElements(int depth, std::size_t& count) {
        count = 0;
        return ParseItems<false>(depth, count) && *m_p == ']';
    }

    const char* Position() const { return m_p; }

private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }

    // One digit or more, as a fraction and an exponent need: false without any.
    static bool SkipDigits(const char*& p) {
        if (!IsDigit(*p)) {
            return false;
        }
        do {
            ++p;
        } while (IsDigit(*p));
        return true;
    }

    static constexpr std::uint64_t kPowersOfTen[9] = {1,      10,      100,      1000,     10000,
                                                      100000, 1000000, 10000000, 100000000};

    // How many of the eight bytes at p are digits before the first that is
    // not, and their value: one word read and a few multiplications instead
    // of a step per digit.
    struct DigitRun {
        int count;
        std::uint64_t value;
    };
    static DigitRun ReadDigits8(const char* p) {
        const std::uint64_t word = Load8(p);
        // A byte is a digit when its high half is 3 and stays 3 once 6 is
        // added: the bytes that are not have a bit set here.
        const std::uint64_t notDigit =
            ((word & 0xf0f0f0f0f0f0f0f0) ^ 0x3030303030303030) |
            (((word + 0x0606060606060606) & 0xf0f0f0f0f0f0f0f0) ^ 0x3030303030303030);
        const int count = notDigit == 0 ? 8 : std::countr_zero(notDigit) / 8;
        if (count == 0) {
            return {0, 0};
        }
        // The digits moved to the high end, with "0"s in front of them.
        const std::uint64_t zeros = count == 8 ? 0 : 0x3030303030303030 >> (8 * count);
        std::uint64_t digits = ((word << (8 * (8 - count))) | zeros) - 0x3030303030303030;
        // Pairs of digits, then pairs of pairs, combined by multiplication.
        digits = digits * 10 + (digits >> 8);
        const std::uint64_t value =
            (((digits & 0x000000ff000000ff) * (100 + (1000000ULL << 32))) +
             (((digits >> 16) & 0x000000ff000000ff) * (1 + (10000ULL << 32)))) >>
            32;
        return {count, value};
    }

    // Compact replies have no white space: one comparison says so.
    void SkipSpace() {
        if (static_cast<unsigned char>(*m_p) > ' ') {
            return;
        }
        const char* p = m_p;
        while (*p == ' ' || *p == '\n' || *p == '\r' || *p == '\t') {
            ++p;
        }
        m_p = p;
    }

    bool ParseValue(int depth) {
        switch (*m_p) {
        case '{':
            return ParseContainer<true>(depth + 1);
        case '[':
            return ParseContainer<false>(depth + 1);
        case '"':
            return ParseString(/*key=*/false);
        case 't':
            return Literal("true") && m_handler.Bool(true);
        case 'f':
            return Literal("false") && m_handler.Bool(false);
        case 'n':
            return Literal("null") && m_handler.Null();
        default:
            return ParseNumber();
        }
    }

    // Byte by byte, so that a mismatch at the closing NUL stops the reading.
    bool Literal(std::string_view word) {
        for (const char c : word) {
            if (*m_p != c) {
                return false;
            }
            ++m_p;
        }
        return true;
    }

    // An object's members or an array's elements: the same walk, but for a
    // member's key and the bracket that closes it. A template, so that the
    // hot loop keeps no test of which it reads.
    template <bool object> bool ParseContainer(int depth) {
        constexpr char close = object ? '}' : ']';
        if (depth > m_depthLimit || !(object ? m_handler.StartObject() : m_handler.StartArray())) {
            return false;
        }
        ++m_p;
        SkipSpace();
        std::size_t count = 0;
        if (*m_p != close && (!ParseItems<object>(depth, count) || *m_p != close)) {
            return false;
        }
        ++m_p;
        return object ? m_handler.EndObject(count) : m_handler.EndArray(count);
    }

    // One or more members or elements, separated by commas; the reading
    // stops after the last one and the white space behind it.
    template <bool object> bool ParseItems(int depth, std::size_t& count) {
        for (;;) {
            if constexpr (object) {
                if (*m_p != '"' || !ParseKey()) {
                    return false;
                }
                SkipSpace();
                if (*m_p != ':') {
                    return false;
                }
                ++m_p;
                SkipSpace();
            } else if (const char* const after = m_handler.ElementAt(m_p, m_end, count)) {
                m_p = after;
                if (*m_p == ']') {
                    return true;
                }
                continue;
            }
            if (!ParseValue(depth)) {
                return false;
            }
            ++count;
            SkipSpace();
            if (*m_p != ',') {
                return true;
            }
            ++m_p;
            SkipSpace();
        }
    }

    // The first quote, backslash or control byte at or after p.
    const char* ScanPlain(const char* p) const {
#if defined(__SSE2__)
        const __m128i quote = _mm_set1_epi8('"');
        const __m128i backslash = _mm_set1_epi8('\\');
        const __m128i lastControl = _mm_set1_epi8(0x1f);
        while (m_end - p >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            // A byte is at most 0x1f exactly when the unsigned maximum leaves 0x1f.
            const __m128i special = _mm_or_si128(
                _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)),
                _mm_cmpeq_epi8(_mm_max_epu8(bytes, lastControl), lastControl));
            if (const int mask = _mm_movemask_epi8(special); mask != 0) {
                return p + __builtin_ctz(static_cast<unsigned>(mask));
            }
            p += 16;
        }
#endif
        while (*p != '"' && *p != '\\' && static_cast<unsigned char>(*p) >= 0x20) {
            ++p;
        }
        return p;
    }

    // Where the handler knows the name that comes next, the text is compared
    // with it (and its closing quote) where it would lie, instead of being
    // scanned as a string first and compared afterwards.
    bool ParseKey() {
        const NamePattern* const expected = m_handler.ExpectedKey();
        if (expected != nullptr && expected->MatchesAt(m_p + 1, m_end)) {
            m_p += 1 + expected->Size();
            return m_handler.ExpectedKeyFound();
        }
        return ParseString(/*key=*/true);
    }

    bool ParseString(bool key) {
        const char* const begin = ++m_p;
        const char* p = ScanPlain(begin);
        if (*p == '"') {
            m_p = p + 1;
            return Deliver(key, begin, static_cast<std::size_t>(p - begin), false);
        }
        m_scratch.assign(begin, p);
        for (;;) {
            if (*p == '"') {
                m_p = p + 1;
                return Deliver(key, m_scratch.data(), m_scratch.size(), true);
            }
            if (*p != '\\' || !Unescape(++p)) {
                return false; // a control byte, the end of the text or a bad escape
            }
            const char* const run = p;
            p = ScanPlain(run);
            m_scratch.append(run, p);
        }
    }

    bool Deliver(bool key, const char* text, std::size_t length, bool unescaped) {
        return key ? m_handler.Key(text, length, unescaped)
                   : m_handler.String(text, length, unescaped);
    }

    // One escape after its backslash, appended to the scratch buffer; p
    // moves past it.
    bool Unescape(const char*& p) {
        char plain = 0;
        switch (*p) {
        case '"':
        case '\\':
        case '/':
            plain = *p;
            break;
        case 'b':
            plain = '\b';
            break;
        case 'f':
            plain = '\f';
            break;
        case 'n':
            plain = '\n';
            break;
        case 'r':
            plain = '\r';
            break;
        case 't':
            plain = '\t';
            break;
        case 'u':
            return UnescapeCodePoint(p);
        default:
            return false;
        }
        m_scratch.push_back(plain);
        ++p;
        return true;
    }

    static bool Hex4(const char* p, std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = p[i];
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9') {
                digit = static_cast<std::uint32_t>(c - '0');
            } else if (c >= 'a' && c <= 'f') {
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            } else if (c >= 'A' && c <= 'F') {
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            } else {
                return false; // the closing NUL included: nothing is read past it
            }
            value = value << 4 | digit;
        }
        return true;
    }

    // "\u" and four hex digits, a surrogate pair as two of them, as UTF-8.
    // A surrogate without its partner is left to the other reader.
    bool UnescapeCodePoint(const char*& p) {
        std::uint32_t code = 0;
        if (!Hex4(p + 1, code)) {
            return false;
        }
        p += 5;
        if (code >= 0xdc00 && code <= 0xdfff) {
            return false;
        }
        if (code >= 0xd800 && code <= 0xdbff) {
            std::uint32_t low = 0;
            if (p[0] != '\\' || p[1] != 'u' || !Hex4(p + 2, low) || low < 0xdc00 || low > 0xdfff) {
                return false;
            }
            p += 6;
            code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
        }
        const auto put = [this](std::uint32_t byte) {
            m_scratch.push_back(static_cast<char>(byte));
        };
        if (code < 0x80) {
            put(code);
        } else if (code < 0x800) {
            put(0xc0 | code >> 6);
            put(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            put(0xe0 | code >> 12);
            put(0x80 | (code >> 6 & 0x3f));
            put(0x80 | (code & 0x3f));
        } else {
            put(0xf0 | code >> 18);
            put(0x80 | (code >> 12 & 0x3f));
            put(0x80 | (code >> 6 & 0x3f));
            put(0x80 | (code & 0x3f));
        }
        return true;
    }

    // An integer from -2^63 to 2^64-1 goes out as one; any other number as
    // its text.
    bool ParseNumber() {
        // A local cursor: the member would be stored back at every digit.
        const char* p = m_p;
        const bool minus = *p == '-';
        if (minus) {
            ++p;
        }
        std::uint64_t magnitude = 0;
        bool fits = true;
        if (*p == '0') {
            ++p;
        } else if (IsDigit(*p)) {
            // Nineteen digits always fit in 64 bits: only the twentieth is checked.
            const char* const digits = p;
            if constexpr (std::endian::native == std::endian::little) {
                while (p - digits <= 11 && m_end - p >= 8) {
                    const DigitRun run = ReadDigits8(p);
                    magnitude = magnitude * kPowersOfTen[run.count] + run.value;
                    p += run.count;
                    if (run.count < 8) {
                        break;
                    }
                }
            }
            while (IsDigit(*p) && p - digits < 19) {
                magnitude = magnitude * 10 + static_cast<std::uint64_t>(*p - '0');
                ++p;
            }
            if (IsDigit(*p)) {
                fits = !__builtin_mul_overflow(magnitude, 10, &magnitude) &&
                       !__builtin_add_overflow(magnitude, static_cast<std::uint64_t>(*p - '0'),
                                               &magnitude);
                ++p;
                while (IsDigit(*p)) {
                    fits = false;
                    ++p;
                }
            }
        } else {
            return false;
        }
        bool integer = true;
        if (*p == '.') {
            if (!SkipDigits(++p)) {
                return false;
            }
            integer = false;
        }
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (*p == '+' || *p == '-') {
                ++p;
            }
            if (!SkipDigits(p)) {
                return false;
            }
            integer = false;
        }
        const char* const start = m_p;
        m_p = p;
        constexpr std::uint64_t kMinMagnitude =
            static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1;
        if (integer && fits && !minus) {
            return m_handler.Uint64(magnitude);
        }
        if (integer && fits && magnitude <= kMinMagnitude) {
            return m_handler.Int64(static_cast<std::int64_t>(~magnitude + 1));
        }
        return m_handler.Real({start, static_cast<std::size_t>(p - start)});
    }

    const char* m_p;
    const char* const m_end;
    Handler& m_handler;
    const int m_depthLimit;
    std::string m_scratch;
};

} // namespace replyjson::detail
