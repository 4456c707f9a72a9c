#pragma once

#include "core/DeviceCall.h"
#include "core/HttpPostRspCode.h"

#include <json/value.h>
#include <rapidjson/document.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

// How the services read device replies. A reply is read once, where it lies,
// by a strict JSON tokenizer of the reader's own; its big list (a photo page,
// a folder listing) is not kept whole: each element becomes a record as soon
// as it has been read, so memory stays near the records themselves. What is
// kept lives in RapidJSON values. Every value is read by the JsonUtil
// getters' rules, and any text the tokenizer does not take is read by jsoncpp
// instead, as it always was. docs/reply-parsing.md tells where they differ.
namespace replyjson {

using JsonValue = rapidjson::Value;

// One value of a reply, possibly none (a key that is absent). The getters
// follow the JsonUtil rules exactly: a number may come as text, and a wrong
// type or an absent key gives 0, "" or false.
class Value {
public:
    Value() = default;
    explicit Value(const JsonValue* value) : m_value(value) {}

    bool IsPresent() const { return m_value != nullptr; }
    bool IsObject() const { return m_value != nullptr && m_value->IsObject(); }
    bool IsArray() const { return m_value != nullptr && m_value->IsArray(); }
    // A number of any kind, not a boolean (jsoncpp's isNumeric).
    bool IsNumber() const { return m_value != nullptr && m_value->IsNumber(); }

    // The member of that name. A name repeated in the object counts by its
    // last member, as jsoncpp keeps it; nothing when this is no object or
    // lacks the key.
    Value operator[](std::string_view key) const;
    bool Has(std::string_view key) const { return (*this)[key].IsPresent(); }

    // Elements of an array (none for anything else), in order.
    std::size_t Size() const;
    Value Element(std::size_t index) const;
    template <typename Visit> void ForEachElement(Visit visit) const {
        for (std::size_t i = 0; i < Size(); ++i) {
            visit(Element(i));
        }
    }
    // Null elements and anything else that is no object are skipped.
    template <typename Visit> void ForEachObject(Visit visit) const {
        ForEachElement([&](Value element) {
            if (element.IsObject()) {
                visit(element);
            }
        });
    }

    // The common kinds are read here, which is what jsoncpp's tests and
    // conversions give for them; everything else, text included, is handed
    // to the getters' own rules.
    std::int32_t Int32() const {
        return m_value != nullptr && m_value->IsInt() ? m_value->GetInt() : Int32ByRule();
    }
    std::uint32_t Uint32() const {
        return m_value != nullptr && m_value->IsUint() ? m_value->GetUint() : Uint32ByRule();
    }
    std::int64_t Int64() const {
        return m_value != nullptr && m_value->IsInt64() ? m_value->GetInt64() : Int64ByRule();
    }
    std::uint64_t Uint64() const {
        return m_value != nullptr && m_value->IsUint64() ? m_value->GetUint64() : Uint64ByRule();
    }
    double Double() const {
        return m_value != nullptr && m_value->IsNumber() ? m_value->GetDouble() : DoubleByRule();
    }
    std::string Text() const {
        return IsText() ? std::string(m_value->GetString(), m_value->GetStringLength())
                        : std::string();
    }
    // Text() into out, reusing its storage.
    void AssignText(std::string& out) const {
        if (IsText()) {
            out.assign(m_value->GetString(), m_value->GetStringLength());
        } else {
            out.clear();
        }
    }
    bool Bool() const { return m_value != nullptr && m_value->IsBool() && m_value->GetBool(); }
    // A number as jsoncpp's asDouble gives it; only for IsNumber().
    double AsDouble() const;
    // jsoncpp's own asUInt64, exceptions included: id lists have always been
    // read that way.
    std::uint64_t AsUInt64() const;

    std::int32_t Int32(std::string_view key) const { return (*this)[key].Int32(); }
    std::int64_t Int64(std::string_view key) const { return (*this)[key].Int64(); }
    std::uint64_t Uint64(std::string_view key) const { return (*this)[key].Uint64(); }
    std::string Text(std::string_view key) const { return (*this)[key].Text(); }
    bool Bool(std::string_view key) const { return (*this)[key].Bool(); }

    const JsonValue* Raw() const { return m_value; }

private:
    bool IsText() const { return m_value != nullptr && m_value->IsString(); }
    template <typename T> T ByGetterRule(T (*rule)(const Json::Value*, T)) const;
    std::int32_t Int32ByRule() const;
    std::uint32_t Uint32ByRule() const;
    std::int64_t Int64ByRule() const;
    std::uint64_t Uint64ByRule() const;
    double DoubleByRule() const;

    const JsonValue* m_value = nullptr;
};

// Finds, in one pass over object's members, the last member named by each
// key (nothing where absent). Keys are tried in their own order first, which
// is usually the device's.
void FindMembers(Value object, const std::vector<std::string_view>& keys, Value* found);

// Room for the members a table reads, on the stack for any table of usual size.
class FoundMembers {
public:
    explicit FoundMembers(std::size_t count) {
        if (count > m_inline.size()) {
            m_spilled.resize(count);
        }
    }
    Value* Data() { return m_spilled.empty() ? m_inline.data() : m_spilled.data(); }

private:
    std::array<Value, 40> m_inline{};
    std::vector<Value> m_spilled;
};

// A record filler written as a table, one line per field:
//
//     const replyjson::Fields<BinFileInfo> kBinFile{
//         {"fileId", &BinFileInfo::fileId},           // read by its member's type
//         {"mtime", &BinFileInfo::mtime},
//         {"flag", [](BinFileInfo& f, replyjson::Value v) { ... }},  // a rule of its own
//     };
//
// A field reads its key by the getter of its member's type: text, int32,
// uint32, int64, uint64 or bool. Every field is written on every fill, with
// the default when its key is absent.
template <typename Record> class Field {
public:
    using Rule = void (*)(Record&, Value);

    Field(std::string_view key, std::string Record::*member) : m_key(key), m_target(member) {}
    Field(std::string_view key, std::int32_t Record::*member) : m_key(key), m_target(member) {}
    Field(std::string_view key, std::uint32_t Record::*member) : m_key(key), m_target(member) {}
    Field(std::string_view key, std::int64_t Record::*member) : m_key(key), m_target(member) {}
    Field(std::string_view key, std::uint64_t Record::*member) : m_key(key), m_target(member) {}
    Field(std::string_view key, bool Record::*member) : m_key(key), m_target(member) {}
    Field(std::string_view key, Rule rule) : m_key(key), m_target(rule) {}

    std::string_view Key() const { return m_key; }

    void Read(Record& record, Value member) const {
        std::visit(
            [&](auto target) {
                using Target = decltype(target);
                if constexpr (std::is_same_v<Target, Rule>) {
                    target(record, member);
                } else if constexpr (std::is_same_v<Target, std::string Record::*>) {
                    member.AssignText(record.*target);
                } else if constexpr (std::is_same_v<Target, std::int32_t Record::*>) {
                    record.*target = member.Int32();
                } else if constexpr (std::is_same_v<Target, std::uint32_t Record::*>) {
                    record.*target = member.Uint32();
                } else if constexpr (std::is_same_v<Target, std::int64_t Record::*>) {
                    record.*target = member.Int64();
                } else if constexpr (std::is_same_v<Target, std::uint64_t Record::*>) {
                    record.*target = member.Uint64();
                } else {
                    record.*target = member.Bool();
                }
            },
            m_target);
    }

private:
    std::string_view m_key;
    std::variant<Rule, std::string Record::*, std::int32_t Record::*, std::uint32_t Record::*,
                 std::int64_t Record::*, std::uint64_t Record::*, bool Record::*>
        m_target;
};

template <typename Record> class Fields {
public:
    Fields(std::initializer_list<Field<Record>> fields) : m_fields(fields) {
        for (const Field<Record>& field : m_fields) {
            m_keys.push_back(field.Key());
        }
    }

    const std::vector<std::string_view>& Keys() const { return m_keys; }

    // Fills record from the members found per key (see FindMembers), in
    // table order.
    void Apply(Record& record, const Value* found) const {
        for (std::size_t i = 0; i < m_fields.size(); ++i) {
            m_fields[i].Read(record, found[i]);
        }
    }

    // Fills record from object.
    void operator()(Record& record, Value object) const {
        FoundMembers found(m_keys.size());
        FindMembers(object, m_keys, found.Data());
        Apply(record, found.Data());
    }

private:
    std::vector<Field<Record>> m_fields;
    std::vector<std::string_view> m_keys;
};

// Where a streamed list goes, element by element. Restart drops what was
// added so far: a later array under the same key replaces an earlier one,
// and a reply that fails keeps none of it.
class ListSink {
public:
    // The member names an element is read by.
    virtual const std::vector<std::string_view>& Keys() const = 0;
    virtual void Restart() = 0;
    // One element that is an object: per key, its member of that name.
    virtual void Add(const Value* found) = 0;
    // A sink of the same kind that keeps its records aside, for a part of
    // the list read on another thread; Take appends them behind this sink's.
    virtual std::unique_ptr<ListSink> Aside() const = 0;
    virtual void Take(ListSink& aside) = 0;

    virtual ~ListSink() = default;
};

template <typename T> struct IsSharedPtr : std::false_type {};
template <typename T> struct IsSharedPtr<std::shared_ptr<T>> : std::true_type {};

// Appends one record per object element to the caller's list, filled by a
// table; what the list held before stays in front and is never touched.
template <typename Element, typename Record> class AppendTo final : public ListSink {
public:
    AppendTo(std::vector<Element>& list, const Fields<Record>& fields)
        : m_list(list), m_mark(list.size()), m_fields(fields) {}
    // The table is kept by reference: one that outlives the reply step.
    AppendTo(std::vector<Element>& list, const Fields<Record>&& fields) = delete;

    const std::vector<std::string_view>& Keys() const override { return m_fields.Keys(); }

    void Restart() override {
        m_list.erase(m_list.begin() + static_cast<std::ptrdiff_t>(m_mark), m_list.end());
    }

    void Add(const Value* found) override {
        if constexpr (IsSharedPtr<Element>::value) {
            auto record = std::make_shared<Record>();
            m_fields.Apply(*record, found);
            m_list.push_back(std::move(record));
        } else {
            m_fields.Apply(m_list.emplace_back(), found);
        }
    }

    std::unique_ptr<ListSink> Aside() const override {
        return std::unique_ptr<ListSink>(new AppendTo(m_fields));
    }

    void Take(ListSink& aside) override {
        std::vector<Element>& records = static_cast<AppendTo&>(aside).m_aside;
        m_list.insert(m_list.end(), std::make_move_iterator(records.begin()),
                      std::make_move_iterator(records.end()));
        records.clear();
    }

private:
    explicit AppendTo(const Fields<Record>& fields)
        : m_list(m_aside), m_mark(0), m_fields(fields) {}

    std::vector<Element> m_aside; // the list of a sink made by Aside
    std::vector<Element>& m_list;
    std::size_t m_mark;
    const Fields<Record>& m_fields;
};

// Appends one record per object element of array, as AppendTo does for a
// streamed list.
template <typename Element, typename Record>
void AppendObjects(Value array, std::vector<Element>& list, const Fields<Record>& fields) {
    AppendTo<Element, Record> sink(list, fields);
    FoundMembers found(fields.Keys().size());
    array.ForEachObject([&](Value object) {
        FindMembers(object, fields.Keys(), found.Data());
        sink.Add(found.Data());
    });
}

// The array a reply step streams: its path of keys from the root object
// ({"data"}, {"data", "files"}) and where its elements go.
class List {
public:
    List() = default;
    List(std::initializer_list<std::string_view> path, ListSink& sink);

    const std::vector<std::string_view>& Path() const { return m_path; }
    ListSink* Sink() const { return m_sink; }
    // The same list going to another sink.
    List WithSink(ListSink& sink) const {
        List other = *this;
        other.m_sink = &sink;
        return other;
    }
    void Restart() const {
        if (m_sink != nullptr) {
            m_sink->Restart();
        }
    }

private:
    std::vector<std::string_view> m_path;
    ListSink* m_sink = nullptr;
};

// One parsed reply. The streamed list's elements have gone to its sink; the
// rest of the reply stays here to be read through Root().
class Document {
public:
    // jsoncpp's reading of the whole text, for text the tokenizer does not
    // take or whose root is not an object. It does the reply step's own logging
    // and answers whether the text is a JSON object.
    using JsonCppReading = std::function<bool(Json::Value& root)>;

    Document();
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // True when text is a JSON object; the list then holds its elements.
    // False leaves the list as it was. The values read may point into text:
    // read them while it lives.
    bool Parse(const std::string& text, const JsonCppReading& jsoncpp, const List& list = {});

    // A value jsoncpp holds already, of any kind.
    void Assign(const Json::Value& tree) { Take(tree, {}); }

    Value Root() const { return Value(&m_root); }

private:
    bool ParseFast(const std::string& text, const List& list);
    void Take(const Json::Value& tree, const List& list);
    void KeepListIfFinal(const List& list);

    rapidjson::MemoryPoolAllocator<> m_rootAllocator;
    std::unique_ptr<char[]> m_elementBuffer;
    rapidjson::MemoryPoolAllocator<> m_elementAllocator;
    JsonValue m_root;
};

// The reply envelope of the gallery and task services: the text is a JSON
// object whose "code" is one of successCodes. rsp, when given, receives
// "code" and "des" before the verdict. Failures log exactly the lines
// DeviceCall::CheckReply logs; a failed reply keeps nothing in the list.
struct Envelope {
    std::string_view phrase;
    HttpPostRspCode* rsp = nullptr;
    std::initializer_list<std::int64_t> successCodes = {0};
};
bool CheckReply(const DeviceCall& call, const std::string& text, const Envelope& envelope,
                Document& document, const List& list = {});

// A record filled by a reply table from a value jsoncpp holds.
template <typename Record>
void FillFromJsonCpp(Record& record, const Json::Value& value, const Fields<Record>& fields) {
    Document document;
    document.Assign(value);
    fields(record, document.Root());
}

// The reply step most list replies share: the envelope, then the page's own
// fields at the root, then every object of the list at path appended to list
// as one record, filled by itemFields.
template <typename Page, typename Element, typename Item>
bool ReadListReply(const DeviceCall& call, const std::string& text, const Envelope& envelope,
                   Page& page, const Fields<Page>& pageFields,
                   std::initializer_list<std::string_view> path, std::vector<Element>& list,
                   const Fields<Item>& itemFields) {
    Document document;
    AppendTo items(list, itemFields);
    if (!CheckReply(call, text, envelope, document, List(path, items))) {
        return false;
    }
    pageFields(page, document.Root());
    return true;
}

// The file service's replies carry no envelope: the text only has to be a
// JSON object, and nothing is logged when it is not.
bool ParseObject(const std::string& text, Document& document, const List& list = {});

} // namespace replyjson
