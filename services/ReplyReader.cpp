#include "services/detail/ReplyReader.h"

#include "core/JsonUtil.h"
#include "core/detail/JsonMember.h"

#include <json/reader.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

namespace replyjson {
namespace {

std::string_view Name(const JsonValue& name) {
    return {name.GetString(), name.GetStringLength()};
}

// The value as a jsoncpp value of the same kind, for the getters' type tests
// and conversions, which are then jsoncpp's own. Containers come out empty:
// no rule looks into them.
Json::Value AsJsonCpp(const JsonValue& value) {
    switch (value.GetType()) {
    case rapidjson::kNullType:
        return Json::Value();
    case rapidjson::kFalseType:
        return Json::Value(false);
    case rapidjson::kTrueType:
        return Json::Value(true);
    case rapidjson::kStringType:
        return Json::Value(value.GetString(), value.GetString() + value.GetStringLength());
    case rapidjson::kArrayType:
        return Json::Value(Json::arrayValue);
    case rapidjson::kObjectType:
        return Json::Value(Json::objectValue);
    case rapidjson::kNumberType:
        break;
    }
    if (value.IsInt64()) {
        return Json::Value(static_cast<Json::Int64>(value.GetInt64()));
    }
    if (value.IsUint64()) {
        return Json::Value(static_cast<Json::UInt64>(value.GetUint64()));
    }
    return Json::Value(value.GetDouble());
}

// How jsoncpp reads a number. An integer from -2^63 to 2^64-1 is kept exactly,
// as a signed number when it fits one; a fraction, an exponent or a larger
// integer becomes the double jsoncpp's own reader makes of the text, which is
// asked for it (1e400 is infinity there, where RapidJSON refuses it). Nothing
// when that reader refuses the number.
class JsonCppNumbers {
public:
    struct Number {
        enum Kind { kSigned, kUnsigned, kReal } kind;
        std::int64_t signedValue = 0;
        std::uint64_t unsignedValue = 0;
        double real = 0;
    };

    std::optional<Number> Read(std::string_view text) {
        const bool negative = !text.empty() && text.front() == '-';
        const std::string_view digits = negative ? text.substr(1) : text;
        const std::uint64_t limit =
            negative ? std::uint64_t{1} << 63 : std::numeric_limits<std::uint64_t>::max();
        std::uint64_t magnitude = 0;
        bool integral = !digits.empty();
        for (const char c : digits) {
            const auto digit = static_cast<unsigned>(c - '0');
            if (digit > 9 || magnitude > (limit - digit) / 10) {
                integral = false;
                break;
            }
            magnitude = magnitude * 10 + digit;
        }
        if (integral) {
            if (negative) {
                return Number{Number::kSigned, static_cast<std::int64_t>(~magnitude + 1), 0, 0};
            }
            if (magnitude <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
                return Number{Number::kSigned, static_cast<std::int64_t>(magnitude), 0, 0};
            }
            return Number{Number::kUnsigned, 0, magnitude, 0};
        }
        return Real(text);
    }

private:
    std::optional<Number> Real(std::string_view text) {
        if (!m_reader) {
            m_reader.reset(Json::CharReaderBuilder().newCharReader());
        }
        Json::Value number;
        if (!m_reader->parse(text.data(), text.data() + text.size(), &number, nullptr) ||
            !number.isDouble()) {
            return std::nullopt;
        }
        return Number{Number::kReal, 0, 0, number.asDouble()};
    }

    std::unique_ptr<Json::CharReader> m_reader;
};

// Nesting deeper than any device reply, yet far below jsoncpp's own limit:
// deeper text goes to jsoncpp, which decides.
constexpr int kFastDepthLimit = 64;

// Receives a reply's parse events and builds the documents: the streamed
// list's elements one at a time into the element document, everything else
// into the root document, where the list itself stays as an empty array.
class Router {
public:
    Router(rapidjson::Document& root, rapidjson::Document& element, const List& list,
           int depthLimit)
        : m_root(root), m_element(element), m_list(list),
          m_pathSize(static_cast<int>(list.Path().size())), m_depthLimit(depthLimit) {}

    bool Null() {
        return Scalar([](rapidjson::Document& d) { return d.Null(); });
    }
    bool Bool(bool b) {
        return Scalar([b](rapidjson::Document& d) { return d.Bool(b); });
    }
    bool Int(int i) { return Int64(i); }
    bool Uint(unsigned u) { return Int64(u); }
    bool Int64(std::int64_t i) {
        return Scalar([i](rapidjson::Document& d) { return d.Int64(i); });
    }
    bool Uint64(std::uint64_t u) {
        return Scalar([u](rapidjson::Document& d) { return d.Uint64(u); });
    }
    bool Double(double x) {
        return Scalar([x](rapidjson::Document& d) { return d.Double(x); });
    }
    bool RawNumber(const char* text, rapidjson::SizeType length, bool) {
        const auto number = m_numbers.Read({text, length});
        if (!number) {
            return false;
        }
        switch (number->kind) {
        case JsonCppNumbers::Number::kSigned:
            return Int64(number->signedValue);
        case JsonCppNumbers::Number::kUnsigned:
            return Uint64(number->unsignedValue);
        case JsonCppNumbers::Number::kReal:
            break;
        }
        return Double(number->real);
    }
    bool String(const char* text, rapidjson::SizeType length, bool) {
        return Scalar(
            [&](rapidjson::Document& d) { return d.String(text, length, /*copy=*/true); });
    }

    bool StartObject() { return Start(/*object=*/true); }
    bool StartArray() { return Start(/*object=*/false); }

    bool Key(const char* text, rapidjson::SizeType length, bool) {
        if (m_elementDepth == 0 && m_depth == m_pathDepth) {
            m_keyOnPath = std::string_view(text, length) == m_list.Path()[m_pathDepth - 1];
        }
        return Target().Key(text, length, /*copy=*/true);
    }

    bool EndObject(rapidjson::SizeType count) { return End(/*object=*/true, count); }
    bool EndArray(rapidjson::SizeType count) { return End(/*object=*/false, count); }

private:
    rapidjson::Document& Target() { return m_elementDepth != 0 ? m_element : m_root; }

    template <typename Emit> bool Scalar(Emit emit) {
        if (m_elementDepth == 0 && m_listDepth != 0 && m_depth == m_listDepth) {
            return true; // an element that is no object: skipped
        }
        return emit(Target());
    }

    bool Start(bool object) {
        if (++m_depth > m_depthLimit) {
            return false;
        }
        if (m_elementDepth == 0 && m_listDepth != 0 && m_depth == m_listDepth + 1) {
            m_elementDepth = m_depth;
        } else if (m_elementDepth == 0) {
            const bool isPathObject = object && m_pathDepth < m_pathSize &&
                                      (m_depth == 1 || (m_keyOnPath && m_depth == m_pathDepth + 1));
            const bool isList =
                !object && m_keyOnPath && m_depth == m_pathDepth + 1 && m_pathDepth == m_pathSize;
            if (isPathObject) {
                m_pathDepth = m_depth;
            } else if (isList) {
                m_listDepth = m_depth;
                m_list.Restart();
            }
            m_keyOnPath = false;
        }
        return object ? Target().StartObject() : Target().StartArray();
    }

    bool End(bool object, rapidjson::SizeType count) {
        const int depth = m_depth--;
        if (m_elementDepth != 0) {
            const bool ok = object ? m_element.EndObject(count) : m_element.EndArray(count);
            if (ok && depth == m_elementDepth) {
                m_elementDepth = 0;
                FinishElement();
            }
            return ok;
        }
        if (depth == m_listDepth) {
            m_listDepth = 0;
            return m_root.EndArray(0);
        }
        if (depth == m_pathDepth) {
            --m_pathDepth;
        }
        m_keyOnPath = false;
        return object ? m_root.EndObject(count) : m_root.EndArray(count);
    }

    void FinishElement() {
        auto events = [](rapidjson::Document&) { return true; };
        m_element.Populate(events);
        if (m_element.IsObject() && m_list.Sink() != nullptr) {
            m_list.Sink()->Add(Value(&m_element));
        }
        m_element.SetNull();
        m_element.GetAllocator().Clear();
    }

    rapidjson::Document& m_root;
    rapidjson::Document& m_element;
    const List& m_list;
    const int m_pathSize;
    const int m_depthLimit;
    JsonCppNumbers m_numbers;

    int m_depth = 0;          // containers open
    int m_pathDepth = 0;      // depth of the innermost open object on the list's path
    bool m_keyOnPath = false; // that object's last key is the path's next step
    int m_listDepth = 0;      // depth of the list while it is open
    int m_elementDepth = 0;   // depth of the list element being read
};

// jsoncpp's tree as parse events: its values exactly as jsoncpp decoded them,
// one member per key.
bool Emit(const Json::Value& value, Router& router) {
    switch (value.type()) {
    case Json::nullValue:
        return router.Null();
    case Json::intValue:
        return router.Int64(value.asInt64());
    case Json::uintValue:
        return router.Uint64(value.asUInt64());
    case Json::realValue:
        return router.Double(value.asDouble());
    case Json::booleanValue:
        return router.Bool(value.asBool());
    case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        value.getString(&begin, &end);
        return router.String(begin, static_cast<rapidjson::SizeType>(end - begin), true);
    }
    case Json::arrayValue: {
        bool ok = router.StartArray();
        for (const Json::Value& element : value) {
            ok = ok && Emit(element, router);
        }
        return ok && router.EndArray(static_cast<rapidjson::SizeType>(value.size()));
    }
    case Json::objectValue:
        break;
    }
    bool ok = router.StartObject();
    for (auto it = value.begin(); ok && it != value.end(); ++it) {
        const char* end = nullptr;
        const char* name = it.memberName(&end);
        ok = router.Key(name, static_cast<rapidjson::SizeType>(end - name), true) &&
             Emit(*it, router);
    }
    return ok && router.EndObject(static_cast<rapidjson::SizeType>(value.size()));
}

// Clears a document's parse stack after events that did not end in a value.
void Drop(rapidjson::Document& document) {
    auto noValue = [](rapidjson::Document&) { return false; };
    document.Populate(noValue);
    document.SetNull();
}

constexpr std::size_t kElementBufferSize = 16 * 1024;

} // namespace

// ---- Value ----

Value Value::operator[](std::string_view key) const {
    if (!IsObject()) {
        return Value();
    }
    const JsonValue* found = nullptr;
    for (const auto& member : m_value->GetObject()) {
        if (Name(member.name) == key) {
            found = &member.value;
        }
    }
    return Value(found);
}

std::size_t Value::Size() const {
    return IsArray() ? m_value->Size() : 0;
}

Value Value::Element(std::size_t index) const {
    return index < Size() ? Value(&(*m_value)[static_cast<rapidjson::SizeType>(index)]) : Value();
}

// Text goes by the getters' text rules; the common integers are read
// directly, which is what jsoncpp's tests and conversions give for them;
// everything else is handed to those tests and conversions.

std::int32_t Value::Int32() const {
    if (m_value == nullptr) {
        return 0;
    }
    if (m_value->IsString()) {
        return jsonmember::Int32FromText(m_value->GetString()).value_or(0);
    }
    if (m_value->IsInt()) {
        return m_value->GetInt();
    }
    const Json::Value member = AsJsonCpp(*m_value);
    return jsonmember::Int32(&member, 0);
}

std::uint32_t Value::Uint32() const {
    if (m_value == nullptr) {
        return 0;
    }
    if (m_value->IsString()) {
        const auto parsed = jsonmember::Int32FromText(m_value->GetString());
        return parsed ? static_cast<std::uint32_t>(*parsed) : 0;
    }
    const Json::Value member = AsJsonCpp(*m_value);
    return jsonmember::Uint32(&member, 0);
}

std::int64_t Value::Int64() const {
    if (m_value == nullptr) {
        return 0;
    }
    if (m_value->IsString()) {
        return jsonmember::Int64FromText(m_value->GetString());
    }
    if (m_value->IsInt64()) {
        return m_value->GetInt64();
    }
    const Json::Value member = AsJsonCpp(*m_value);
    return jsonmember::Int64(&member, 0);
}

std::uint64_t Value::Uint64() const {
    if (m_value == nullptr) {
        return 0;
    }
    if (m_value->IsString()) {
        return jsonmember::Uint64FromText(m_value->GetString());
    }
    const Json::Value member = AsJsonCpp(*m_value);
    return jsonmember::Uint64(&member, 0);
}

double Value::Double() const {
    if (m_value == nullptr) {
        return 0;
    }
    if (m_value->IsString()) {
        return jsonmember::DoubleFromText(m_value->GetString()).value_or(0);
    }
    const Json::Value member = AsJsonCpp(*m_value);
    return jsonmember::Double(&member, 0);
}

std::string Value::Text() const {
    return m_value != nullptr && m_value->IsString()
               ? std::string(m_value->GetString(), m_value->GetStringLength())
               : std::string();
}

bool Value::Bool() const {
    return m_value != nullptr && m_value->IsBool() && m_value->GetBool();
}

double Value::AsDouble() const {
    return AsJsonCpp(*m_value).asDouble();
}

std::uint64_t Value::AsUInt64() const {
    return m_value == nullptr ? 0 : AsJsonCpp(*m_value).asUInt64();
}

void FindMembers(Value object, const std::vector<std::string_view>& keys, Value* found) {
    std::fill(found, found + keys.size(), Value());
    if (!object.IsObject()) {
        return;
    }
    std::size_t next = 0;
    for (const auto& member : object.Raw()->GetObject()) {
        const std::string_view name = Name(member.name);
        std::size_t index = next;
        if (index >= keys.size() || keys[index] != name) {
            index =
                static_cast<std::size_t>(std::find(keys.begin(), keys.end(), name) - keys.begin());
        }
        if (index < keys.size()) {
            found[index] = Value(&member.value);
            next = index + 1;
        }
    }
}

// ---- List ----

List::List(std::initializer_list<std::string_view> path, ListSink& sink)
    : m_path(path), m_sink(&sink) {}

// ---- Document ----

Document::Document()
    : m_elementBuffer(new char[kElementBufferSize]),
      m_elementAllocator(m_elementBuffer.get(), kElementBufferSize),
      m_element(&m_elementAllocator) {}

Document::~Document() = default;

bool Document::Parse(const std::string& text, const JsonCppReading& jsoncpp, const List& list) {
    if (ParseFast(text, list) && m_root.IsObject()) {
        return true;
    }
    list.Restart();
    Json::Value tree;
    if (!jsoncpp(tree)) {
        return false;
    }
    Take(tree, list);
    return true;
}

bool Document::ParseFast(const std::string& text, const List& list) {
    Router router(m_root, m_element, list, kFastDepthLimit);
    rapidjson::StringStream stream(text.c_str());
    rapidjson::Reader reader;
    if (!reader.Parse<rapidjson::kParseNumbersAsStringsFlag>(stream, router)) {
        Drop(m_root);
        Drop(m_element);
        m_element.GetAllocator().Clear();
        return false;
    }
    auto events = [](rapidjson::Document&) { return true; };
    m_root.Populate(events);
    KeepListIfFinal(list);
    return true;
}

void Document::Take(const Json::Value& tree, const List& list) {
    // jsoncpp took the text, so nothing here refuses it: no depth limit.
    Router router(m_root, m_element, list, std::numeric_limits<int>::max());
    Emit(tree, router);
    auto events = [](rapidjson::Document&) { return true; };
    m_root.Populate(events);
    KeepListIfFinal(list);
}

// Only the last array at the list's path counts, as jsoncpp keeps only the
// last member of a repeated name; when the path ends elsewhere (a later
// "data" that is no object), the list gets nothing.
void Document::KeepListIfFinal(const List& list) {
    if (list.Sink() == nullptr) {
        return;
    }
    Value value = Root();
    for (const std::string_view key : list.Path()) {
        value = value[key];
    }
    if (!value.IsArray()) {
        list.Restart();
    }
}

// ---- Envelopes ----

bool CheckReply(const DeviceCall& call, const std::string& text, const Envelope& envelope,
                Document& document, const List& list) {
    const auto jsoncpp = [&](Json::Value& root) {
        return call.ParseReply(text, envelope.phrase, root);
    };
    if (!document.Parse(text, jsoncpp, list)) {
        return false;
    }
    // DeviceCall's own verdict and error line, from the values read here.
    Json::Value values(Json::objectValue);
    values["code"] = static_cast<Json::Int64>(document.Root().Int64("code"));
    values["des"] = document.Root().Text("des");
    if (call.CheckCode(values, envelope.phrase, envelope.rsp, envelope.successCodes)) {
        return true;
    }
    list.Restart();
    return false;
}

bool ParseObject(const std::string& text, Document& document, const List& list) {
    const auto jsoncpp = [&](Json::Value& root) {
        return JsonUtil::StringToCppJsonObj(text, root) && root.isObject();
    };
    return document.Parse(text, jsoncpp, list);
}

} // namespace replyjson
