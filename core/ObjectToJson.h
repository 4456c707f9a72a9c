#pragma once

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

// Request records are serialised by their field list. A record declares, once,
//
//     static constexpr std::string_view kFieldList = "clientType, deviceId, albumName";
//     auto Fields() const { return std::tie(clientType, deviceId, albumName); }
//
// and ObjectToJson writes {"clientType":3,"deviceId":"d1","albumName":"x"}:
// keys in list order, nested records as objects, vectors as arrays.

namespace objecttojson_detail {

// A name in the list is the text between commas, trimmed of spaces and then
// of double quotes; the piece after the last comma counts only when not empty.
constexpr std::string_view TrimName(std::string_view piece) {
    while (!piece.empty() && piece.front() == ' ') {
        piece.remove_prefix(1);
    }
    while (!piece.empty() && piece.back() == ' ') {
        piece.remove_suffix(1);
    }
    while (!piece.empty() && piece.front() == '"') {
        piece.remove_prefix(1);
    }
    while (!piece.empty() && piece.back() == '"') {
        piece.remove_suffix(1);
    }
    return piece;
}

constexpr std::size_t CountNames(std::string_view list) {
    std::size_t count = 0;
    for (std::size_t start = 0;;) {
        const std::size_t comma = list.find(',', start);
        if (comma == std::string_view::npos) {
            return count + (start < list.size() ? 1 : 0);
        }
        ++count;
        start = comma + 1;
    }
}

template <std::size_t N>
constexpr std::array<std::string_view, N> SplitNames(std::string_view list) {
    std::array<std::string_view, N> names{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t comma = list.find(',', start);
        const std::size_t end = comma == std::string_view::npos ? list.size() : comma;
        names[i] = TrimName(list.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

} // namespace objecttojson_detail

template <typename T>
concept FieldListRecord = requires(const T& record) {
    { T::kFieldList } -> std::convertible_to<std::string_view>;
    std::tuple_size<decltype(record.Fields())>::value;
};

namespace objecttojson_detail {

template <typename T>
concept JsonInteger = std::integral<T> && !std::same_as<T, bool> && !std::same_as<T, char>;

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

// A repeated name keeps only its last value, in the place of its last
// occurrence; the earlier occurrences are never written.
template <std::size_t N>
constexpr std::array<bool, N> LastOccurrences(const std::array<std::string_view, N>& names) {
    std::array<bool, N> last{};
    for (std::size_t i = 0; i < N; ++i) {
        last[i] = true;
        for (std::size_t j = i + 1; j < N; ++j) {
            if (names[j] == names[i]) {
                last[i] = false;
            }
        }
    }
    return last;
}

template <FieldListRecord T> bool WriteRecord(const T& record, JsonWriter& writer);

template <typename T> bool WriteValue(const T& member, JsonWriter& writer) {
    if constexpr (JsonInteger<T>) {
        if constexpr (std::is_signed_v<T>) {
            return writer.Int64(static_cast<std::int64_t>(member));
        } else {
            return writer.Uint64(static_cast<std::uint64_t>(member));
        }
    } else if constexpr (std::same_as<T, std::string>) {
        return writer.String(member.data(), static_cast<rapidjson::SizeType>(member.size()));
    } else if constexpr (FieldListRecord<T>) {
        return WriteRecord(member, writer);
    } else if constexpr (requires { typename T::value_type; } &&
                         std::same_as<T, std::vector<typename T::value_type>>) {
        if (!writer.StartArray()) {
            return false;
        }
        for (const auto& element : member) {
            if (!WriteValue(element, writer)) {
                return false;
            }
        }
        return writer.EndArray(static_cast<rapidjson::SizeType>(member.size()));
    } else {
        static_assert(sizeof(T) == 0, "member type has no JSON form");
    }
}

template <FieldListRecord T> bool WriteRecord(const T& record, JsonWriter& writer) {
    constexpr std::string_view list = T::kFieldList;
    constexpr std::size_t count = CountNames(list);
    const auto fields = record.Fields();
    static_assert(count == std::tuple_size_v<decltype(fields)>,
                  "the field list must name every member Fields() returns");
    constexpr auto names = SplitNames<count>(list);
    constexpr auto last = LastOccurrences<count>(names);

    if (!writer.StartObject()) {
        return false;
    }
    bool ok = true;
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        // Stops at the first member that fails, leaving the rest unwritten.
        ((ok = ok && (!last[I] || (writer.Key(names[I].data(),
                                              static_cast<rapidjson::SizeType>(names[I].size())) &&
                                   WriteValue(std::get<I>(fields), writer)))),
         ...);
    }
    (std::make_index_sequence<count>{});
    return ok && writer.EndObject();
}

} // namespace objecttojson_detail

// Writes record as compact JSON into out; false, with out untouched, when a
// member could not be serialised. The text goes straight through RapidJSON's
// writer: no document is built first, which for a body of ten thousand ids
// cost more than the writing itself.
template <FieldListRecord T> bool ObjectToJson(const T& record, std::string& out) {
    rapidjson::StringBuffer buffer;
    objecttojson_detail::JsonWriter writer(buffer);
    if (!objecttojson_detail::WriteRecord(record, writer)) {
        return false;
    }
    out.assign(buffer.GetString(), buffer.GetSize());
    return true;
}
