#include "services/detail/ReplyReader.h"

#include "core/JsonUtil.h"
#include "core/detail/JsonMember.h"
#include "services/detail/JsonScanner.h"

#include <json/reader.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>

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

// How jsoncpp reads a number that is no integer from -2^63 to 2^64-1 (those
// both parsers keep exactly): a fraction, an exponent or a larger integer
// becomes the double jsoncpp's own reader makes of the text, which is asked
// for it. Nothing when that reader refuses the number.
class JsonCppReals {
public:
    std::optional<double> Read(std::string_view text) {
        if (!m_reader) {
            m_reader.reset(Json::CharReaderBuilder().newCharReader());
        }
        Json::Value number;
        if (!m_reader->parse(text.data(), text.data() + text.size(), &number, nullptr) ||
            !number.isDouble()) {
            return std::nullopt;
        }
        return number.asDouble();
    }

private:
    std::unique_ptr<Json::CharReader> m_reader;
};

// Builds one JSON value from parse events in an allocator of its own. Its
// stack keeps its memory from one value to the next.
class Builder {
public:
    explicit Builder(rapidjson::MemoryPoolAllocator<>& allocator) : m_allocator(allocator) {}

    rapidjson::MemoryPoolAllocator<>& Allocator() { return m_allocator; }

    // A new value on top of the stack, null until it is set.
    JsonValue& Add() { return m_stack.emplace_back(); }

    bool Start(bool object) {
        JsonValue& container = Add();
        if (object) {
            container.SetObject();
        } else {
            container.SetArray();
        }
        return true;
    }

    // The container's members (name, value, name, value...) or elements are
    // the last values on the stack, above the container itself.
    bool End(bool object, std::size_t count) {
        const std::size_t first = m_stack.size() - (object ? 2 : 1) * count;
        JsonValue& container = m_stack[first - 1];
        if (object) {
            for (std::size_t i = first; i < m_stack.size(); i += 2) {
                container.AddMember(m_stack[i], m_stack[i + 1], m_allocator);
            }
        } else {
            container.Reserve(static_cast<rapidjson::SizeType>(count), m_allocator);
            for (std::size_t i = first; i < m_stack.size(); ++i) {
                container.PushBack(m_stack[i], m_allocator);
            }
        }
        m_stack.resize(first);
        return true;
    }

    // The value, once its last event is in. Its memory stays with the
    // allocator.
    void TakeValue(JsonValue& out) {
        out = m_stack.back();
        m_stack.clear();
    }

private:
    rapidjson::MemoryPoolAllocator<>& m_allocator;
    std::vector<JsonValue> m_stack;
};

// Text that stays where it lies in the reply (copy false) makes a value that
// lives no longer than the reply; anything else is copied.
void SetText(JsonValue& value, const char* text, std::size_t length, bool copy,
             rapidjson::MemoryPoolAllocator<>& allocator) {
    const auto size = static_cast<rapidjson::SizeType>(length);
    if (copy) {
        value.SetString(text, size, allocator);
    } else {
        value.SetString(rapidjson::StringRef(text, size));
    }
}

bool SameName(std::string_view key, std::string_view name) {
    return key.size() == name.size() && detail::SameBytes(name.data(), key);
}

// The index of name among keys, trying hint first: a device sends its keys
// in one order, usually the table's. keys.size() when absent.
std::size_t FindKey(const std::vector<std::string_view>& keys, std::string_view name,
                    std::size_t hint) {
    if (hint < keys.size() && SameName(keys[hint], name)) {
        return hint;
    }
    return static_cast<std::size_t>(
        std::find_if(keys.begin(), keys.end(),
                     [name](std::string_view key) { return SameName(key, name); }) -
        keys.begin());
}

// Where the member names of a list's elements stand among the sink's keys.
// A device writes every element's members in one order, whatever the
// table's: the name that followed a name in the last element is tried first,
// so that after the first element most names cost one comparison.
class KeyIndex {
public:
    explicit KeyIndex(const std::vector<std::string_view>& keys)
        : m_keys(keys), m_next(keys.size() + 2, keys.size()), m_previous(Start()) {
        // A key with a byte that JSON escapes is never guessed: its text in a
        // reply is not the key itself.
        for (const std::string_view key : keys) {
            const bool plain = std::none_of(key.begin(), key.end(), [](char c) {
                return c == '"' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
            });
            m_guesses.push_back(plain ? std::make_optional<detail::NamePattern>(key)
                                      : std::nullopt);
        }
        m_guesses.emplace_back();
    }

    void StartElement() { m_previous = Start(); }

    // The key that followed the last one in the last element, if any.
    const detail::NamePattern* Guess() const {
        const auto& guess = m_guesses[m_next[m_previous]];
        return guess ? &*guess : nullptr;
    }

    // The index of the guess, once the name was found to be it.
    std::size_t Confirm() {
        m_previous = m_next[m_previous];
        return m_previous;
    }

    // keys.size() when the sink does not read name.
    std::size_t Find(std::string_view name) {
        std::size_t& guess = m_next[m_previous];
        if (guess >= m_keys.size() || !SameName(m_keys[guess], name)) {
            guess = FindKey(m_keys, name, m_keys.size());
        }
        m_previous = guess;
        return guess;
    }

private:
    // Slots of m_next beyond the keys: after a name no key matched, and at
    // the start of an element.
    std::size_t Start() const { return m_keys.size() + 1; }

    const std::vector<std::string_view>& m_keys;
    std::vector<std::optional<detail::NamePattern>> m_guesses; // per key, then none
    std::vector<std::size_t> m_next;                           // per key: the key that followed it
    std::size_t m_previous;
};

constexpr std::size_t kElementBufferSize = 16 * 1024;

// Nesting deeper than any device reply, yet far below jsoncpp's own limit:
// deeper text goes to jsoncpp, which decides.
constexpr int kFastDepthLimit = 64;

// A list with at least this much text from its second element on is read on
// two threads at once. Fuzzing builds cut every list they can, so that short
// inputs reach that reading too.
#ifdef HTTPLIB_SPLIT_SMALL_LISTS
constexpr std::ptrdiff_t kPiecedListSize = 64;
#else
constexpr std::ptrdiff_t kPiecedListSize = 1 << 20;
#endif

// How many pieces such a list is cut into. The caller's thread reads from the
// front, the other thread piece by piece from the back, until they meet:
// however unequal the two threads' speeds, neither waits for more than one
// piece.
constexpr int kListPieces = 8;

// A long list's pieces after its first, for the other thread. Each starts at
// what looks like an element of the list: a comma, then the first element's
// opening brace and first name. A piece counts only if the caller's reading
// arrives exactly there, at the list's level; it then takes the piece's
// records and goes on where the piece's reading stopped (at a later piece or
// the list's closing bracket). A piece that is never arrived at, or that
// failed, is dropped, and the caller's reading goes on through its text.
class ListPieces {
public:
    ListPieces(const List& list, int listDepth, std::vector<const char*> starts, const char* end)
        : m_list(list), m_depth(listDepth), m_end(end), m_starts(std::move(starts)),
          m_pieces(m_starts.size()) {
        for (Piece& piece : m_pieces) {
            piece.sink = list.Sink()->Aside();
        }
    }
    ~ListPieces() {
        m_stopping.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    ListPieces(const ListPieces&) = delete;
    ListPieces& operator=(const ListPieces&) = delete;

    // False when no thread could be had.
    bool Run() {
        try {
            m_thread = std::thread([this] { ReadFromTheBack(); });
            return true;
        } catch (const std::exception&) {
            return false;
        }
    }

    // On the caller's thread, at each element of the list, p growing: where
    // its reading goes on when the pieces from p on were read already (their
    // records then go to sink, their elements to count); null to read on here.
    const char* ReadAt(const char* p, ListSink& sink, std::size_t& count);

    // For a piece's reading: whether it should end before p, the start of a
    // later piece, or because the caller's reading is over.
    bool EndsBefore(std::size_t piece, const char* p) const {
        return m_stopping.load(std::memory_order_relaxed) ||
               std::binary_search(m_starts.begin() + static_cast<std::ptrdiff_t>(piece) + 1,
                                  m_starts.end(), p);
    }

private:
    enum class State { kFree, kTheirs, kOurs, kRead };
    struct Piece {
        State state = State::kFree;
        // Where its reading stopped: a later piece's start or the list's
        // closing bracket; null when it failed.
        const char* end = nullptr;
        std::size_t count = 0;
        std::unique_ptr<ListSink> sink;
    };

    void ReadFromTheBack() noexcept;
    void Read(std::size_t piece) noexcept;

    const List& m_list;
    const int m_depth;
    const char* const m_end;
    const std::vector<const char*> m_starts; // per piece, growing
    std::vector<Piece> m_pieces;
    std::size_t m_next = 0; // the caller's: the first piece not arrived at or passed
    std::mutex m_mutex;
    std::condition_variable m_read;
    std::size_t m_arrived = 0; // under m_mutex: pieces the caller's reading is at or past
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

// Receives a reply's parse events. Everything outside the streamed list goes
// to the root builder, where the list itself stays as an empty array. An
// element of the list that is an object has its members sorted into the
// sink's keys as they come, a later member of a name replacing an earlier
// one, and goes to the sink when it ends; its containers are built, members
// the sink does not read and elements that are no objects are passed over.
// A long list's pieces may be read on another thread (see ListPieces).
class Router {
public:
    Router(Builder& root, Builder& element, const List& list)
        : m_root(root), m_element(element), m_list(list),
          m_pathSize(static_cast<int>(list.Path().size())) {
        if (list.Sink() != nullptr) {
            m_keys.emplace(list.Sink()->Keys());
            m_members.resize(list.Sink()->Keys().size());
            m_found.resize(m_members.size());
        }
    }

    // For one of a list's pieces: its elements, at the list's depth.
    Router(Builder& root, Builder& element, const List& list, int listDepth,
           const ListPieces& pieces, std::size_t piece)
        : Router(root, element, list) {
        m_depth = listDepth;
        m_listDepth = listDepth;
        m_place = Locate();
        m_pieceOf = &pieces;
        m_piece = piece;
    }

    // Before each element of an array. At the list's level, a long list is
    // cut into pieces as its second element begins, and the pieces read
    // elsewhere are taken where they start. A piece's own reading ends
    // before the next piece's start: the next container refuses to begin.
    const char* ElementAt(const char* p, const char* end, std::size_t& count) {
        if (m_listDepth == 0 || m_depth != m_listDepth) {
            return nullptr;
        }
        if (m_pieceOf != nullptr) {
            if (m_pieceOf->EndsBefore(m_piece, p)) {
                m_endedAt = p;
            }
            return nullptr;
        }
        if (m_pieces) {
            return m_pieces->ReadAt(p, *m_list.Sink(), count);
        }
        if (count == 0) {
            m_firstElement = p;
        } else if (!m_piecesTried) {
            m_piecesTried = true;
            CutIntoPieces(p, end);
        }
        return nullptr;
    }

    // Where a piece's reading ended before a later piece or because the
    // caller's reading was over; null when it did not.
    const char* EndedAt() const { return m_endedAt; }

    // Values are set where they go: one built aside and moved there costs a
    // stalled 16-byte load per value.
    bool Null() {
        return Scalar([](JsonValue& value, auto&) { value.SetNull(); });
    }
    bool Bool(bool b) {
        return Scalar([b](JsonValue& value, auto&) { value.SetBool(b); });
    }
    bool Int64(std::int64_t i) {
        return Scalar([i](JsonValue& value, auto&) { value.SetInt64(i); });
    }
    bool Uint64(std::uint64_t u) {
        return Scalar([u](JsonValue& value, auto&) { value.SetUint64(u); });
    }
    // A number jsoncpp decoded already.
    bool Double(double x) {
        return Scalar([x](JsonValue& value, auto&) { value.SetDouble(x); });
    }
    // A number of the text that is no 64-bit integer: the double jsoncpp
    // makes of it.
    bool Real(std::string_view text) {
        const auto real = m_reals.Read(text);
        return real && Double(*real);
    }
    bool String(const char* text, std::size_t length, bool copy) {
        return Scalar([&](JsonValue& value, auto& allocator) {
            SetText(value, text, length, copy, allocator);
        });
    }

    // Names of an element's members are guessed from the element before.
    const detail::NamePattern* ExpectedKey() const {
        return Where() == Place::kMember ? m_keys->Guess() : nullptr;
    }
    bool ExpectedKeyFound() {
        m_key = m_keys->Confirm();
        return true;
    }

    bool Key(const char* text, std::size_t length, bool copy) {
        const std::string_view name(text, length);
        switch (Where()) {
        case Place::kSkipped:
            return true;
        case Place::kMember:
            m_key = m_keys->Find(name);
            return true;
        case Place::kNested:
            SetText(m_element.Add(), text, length, copy, m_element.Allocator());
            return true;
        case Place::kRoot:
            break;
        }
        if (m_depth == m_pathDepth) {
            m_keyOnPath = name == m_list.Path()[m_pathDepth - 1];
        }
        SetText(m_root.Add(), text, length, copy, m_root.Allocator());
        return true;
    }

    bool StartObject() { return Start(/*object=*/true); }
    bool StartArray() { return Start(/*object=*/false); }
    bool EndObject(std::size_t count) { return End(/*object=*/true, count); }
    bool EndArray(std::size_t count) { return End(/*object=*/false, count); }

private:
    enum class Place {
        kRoot,    // outside the list
        kSkipped, // passed over
        kMember,  // a member of the element read now
        kNested,  // inside a container of that element
    };

    // Where the next key or scalar goes: known from one container's start or
    // end to the next, and asked for twice per member.
    Place Where() const { return m_place; }

    // Where the next value goes (the depth counts it once it has started).
    Place Locate() const {
        if (m_skipDepth != 0) {
            return Place::kSkipped;
        }
        if (m_nestedDepth != 0) {
            return Place::kNested;
        }
        if (m_elementDepth != 0) {
            return Place::kMember;
        }
        return m_listDepth != 0 && m_depth == m_listDepth ? Place::kSkipped : Place::kRoot;
    }

    template <typename Set> bool Scalar(Set set) {
        switch (Where()) {
        case Place::kSkipped:
            return true;
        case Place::kMember:
            if (JsonValue* member = Kept()) {
                set(*member, m_element.Allocator());
            }
            return true;
        case Place::kNested:
            set(m_element.Add(), m_element.Allocator());
            return true;
        case Place::kRoot:
            break;
        }
        set(m_root.Add(), m_root.Allocator());
        return true;
    }

    // Where the element's member goes, when the sink reads its key.
    JsonValue* Kept() {
        if (m_key >= m_members.size()) {
            return nullptr;
        }
        m_found[m_key] = Value(&m_members[m_key]);
        return &m_members[m_key];
    }

    bool Start(bool object) {
        if (m_endedAt != nullptr) {
            return false;
        }
        const bool ok = Open(object);
        m_place = Locate();
        return ok;
    }

    bool End(bool object, std::size_t count) {
        const bool ok = Close(object, count);
        m_place = Locate();
        return ok;
    }

    bool Open(bool object) {
        ++m_depth;
        switch (Locate()) {
        case Place::kSkipped:
            return true;
        case Place::kNested:
            return m_element.Start(object);
        case Place::kMember:
            // A member's value that is a container.
            if (m_key < m_members.size()) {
                m_nestedDepth = m_depth;
                return m_element.Start(object);
            }
            m_skipDepth = m_depth;
            return true;
        case Place::kRoot:
            break;
        }
        if (m_listDepth != 0) {
            // An element of the list begins.
            if (object) {
                m_elementDepth = m_depth;
                std::fill(m_found.begin(), m_found.end(), Value());
                m_key = m_members.size();
                m_keys->StartElement();
            } else {
                m_skipDepth = m_depth;
            }
            return true;
        }
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
        return m_root.Start(object);
    }

    bool Close(bool object, std::size_t count) {
        const int depth = m_depth--;
        if (m_skipDepth != 0) {
            if (depth == m_skipDepth) {
                m_skipDepth = 0;
            }
            return true;
        }
        if (m_nestedDepth != 0) {
            const bool ok = m_element.End(object, count);
            if (depth == m_nestedDepth) {
                m_nestedDepth = 0;
                m_element.TakeValue(*Kept());
            }
            return ok;
        }
        if (m_elementDepth != 0) {
            m_elementDepth = 0;
            m_list.Sink()->Add(m_found.data());
            m_element.Allocator().Clear();
            return true;
        }
        if (depth == m_listDepth) {
            m_listDepth = 0;
            return m_root.End(/*object=*/false, 0);
        }
        if (depth == m_pathDepth) {
            --m_pathDepth;
        }
        m_keyOnPath = false;
        return m_root.End(object, count);
    }

    // Pieces start, from evenly spaced points of the text on, at the first
    // comma followed by the first element's opening brace and first name.
    void CutIntoPieces(const char* p, const char* end) {
        if (end - p < kPiecedListSize || m_firstElement[0] != '{' || m_firstElement[1] != '"' ||
            std::thread::hardware_concurrency() < 2) {
            return;
        }
        const char* const nameEnd = static_cast<const char*>(
            std::memchr(m_firstElement + 2, '"', static_cast<std::size_t>(p - m_firstElement - 2)));
        if (nameEnd == nullptr) {
            return;
        }
        std::string elementStart(1, ',');
        elementStart.append(m_firstElement, nameEnd + 1);
        std::vector<const char*> starts;
        for (int i = 1; i < kListPieces; ++i) {
            const char* const from =
                std::max(p + (end - p) / kListPieces * i, starts.empty() ? p : starts.back());
            const std::string_view rest(from, static_cast<std::size_t>(end - from));
            const std::size_t at = rest.find(elementStart);
            if (at == std::string_view::npos) {
                break;
            }
            starts.push_back(from + at + 1);
        }
        if (starts.empty()) {
            return;
        }
        m_pieces.emplace(m_list, m_listDepth, std::move(starts), end);
        if (!m_pieces->Run()) {
            m_pieces.reset();
        }
    }

    Builder& m_root;
    Builder& m_element;
    const List& m_list;
    const int m_pathSize;
    JsonCppReals m_reals;

    int m_depth = 0;          // containers open
    int m_pathDepth = 0;      // depth of the innermost open object on the list's path
    bool m_keyOnPath = false; // that object's last key is the path's next step
    int m_listDepth = 0;      // depth of the list while it is open
    int m_elementDepth = 0;   // depth of the list element being read
    int m_nestedDepth = 0;    // depth of the element's member container being built
    int m_skipDepth = 0;      // depth of the container being passed over
    Place m_place = Place::kRoot;

    std::optional<KeyIndex> m_keys;   // the sink's keys
    std::vector<JsonValue> m_members; // the element's members, per key
    std::vector<Value> m_found;       // per key: its member, or nothing
    std::size_t m_key = 0;            // the key of the member being read

    const char* m_firstElement = nullptr;  // where the list's first element begins
    bool m_piecesTried = false;            // whether the list was looked at for pieces
    std::optional<ListPieces> m_pieces;    // the list's pieces, read elsewhere
    const ListPieces* m_pieceOf = nullptr; // for a piece's reading: the pieces
    std::size_t m_piece = 0;               // and which of them
    const char* m_endedAt = nullptr;       // where that reading ended early
};

const char* ListPieces::ReadAt(const char* p, ListSink& sink, std::size_t& count) {
    while (m_next < m_starts.size() && m_starts[m_next] < p) {
        ++m_next; // passed: not a start of the list's elements
    }
    if (m_next == m_starts.size() || m_starts[m_next] != p) {
        return nullptr;
    }
    Piece& piece = m_pieces[m_next++];
    std::unique_lock lock(m_mutex);
    m_arrived = m_next;
    if (piece.state == State::kFree) {
        piece.state = State::kOurs;
        return nullptr;
    }
    m_read.wait(lock, [&piece] { return piece.state == State::kRead; });
    if (piece.end == nullptr) {
        return nullptr;
    }
    sink.Take(*piece.sink);
    count += piece.count;
    return piece.end;
}

void ListPieces::ReadFromTheBack() noexcept {
    for (std::size_t i = m_pieces.size(); i-- > 0;) {
        {
            std::lock_guard lock(m_mutex);
            if (i < m_arrived || m_pieces[i].state != State::kFree || m_stopping.load()) {
                return;
            }
            m_pieces[i].state = State::kTheirs;
        }
        Read(i);
        {
            std::lock_guard lock(m_mutex);
            m_pieces[i].state = State::kRead;
        }
        m_read.notify_all();
    }
}

void ListPieces::Read(std::size_t index) noexcept {
    Piece& piece = m_pieces[index];
    try {
        const List list = m_list.WithSink(*piece.sink);
        rapidjson::MemoryPoolAllocator<> rootAllocator;
        const std::unique_ptr<char[]> elementBuffer(new char[kElementBufferSize]);
        rapidjson::MemoryPoolAllocator<> elementAllocator(elementBuffer.get(), kElementBufferSize);
        Builder root(rootAllocator);
        Builder element(elementAllocator);
        Router router(root, element, list, m_depth, *this, index);
        detail::JsonScanner scanner(m_starts[index], m_end, router, kFastDepthLimit);
        std::size_t count = 0;
        const bool whole = scanner.ParseElements(m_depth, count);
        // Ended early because the caller's reading is over: the records are
        // not wanted.
        const bool stopped = m_stopping.load();
        piece.end = whole ? scanner.Position() : stopped ? nullptr : router.EndedAt();
        piece.count = count;
    } catch (...) {
        // Out of memory, or a rule's own exception: the caller's reading
        // meets the same text and ends as it would have.
        piece.end = nullptr;
    }
}

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
        return router.String(begin, static_cast<std::size_t>(end - begin), true);
    }
    case Json::arrayValue: {
        bool ok = router.StartArray();
        for (const Json::Value& element : value) {
            ok = ok && Emit(element, router);
        }
        return ok && router.EndArray(value.size());
    }
    case Json::objectValue:
        break;
    }
    bool ok = router.StartObject();
    for (auto it = value.begin(); ok && it != value.end(); ++it) {
        const char* end = nullptr;
        const char* name = it.memberName(&end);
        ok = router.Key(name, static_cast<std::size_t>(end - name), true) && Emit(*it, router);
    }
    return ok && router.EndObject(value.size());
}

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

template <typename T> T Value::ByGetterRule(T (*rule)(const Json::Value*, T)) const {
    if (m_value == nullptr) {
        return T{};
    }
    const Json::Value member = AsJsonCpp(*m_value);
    return rule(&member, T{});
}

std::int32_t Value::Int32ByRule() const {
    return ByGetterRule(jsonmember::Int32);
}

std::uint32_t Value::Uint32ByRule() const {
    return ByGetterRule(jsonmember::Uint32);
}

std::int64_t Value::Int64ByRule() const {
    return ByGetterRule(jsonmember::Int64);
}

std::uint64_t Value::Uint64ByRule() const {
    return ByGetterRule(jsonmember::Uint64);
}

double Value::DoubleByRule() const {
    return ByGetterRule(jsonmember::Double);
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
        const std::size_t index = FindKey(keys, Name(member.name), next);
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
      m_elementAllocator(m_elementBuffer.get(), kElementBufferSize) {}

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
    Builder root(m_rootAllocator);
    Builder element(m_elementAllocator);
    Router router(root, element, list);
    detail::JsonScanner scanner(text.c_str(), text.c_str() + text.size(), router, kFastDepthLimit);
    if (!scanner.Parse()) {
        m_elementAllocator.Clear();
        m_rootAllocator.Clear();
        return false;
    }
    root.TakeValue(m_root);
    KeepListIfFinal(list);
    return true;
}

void Document::Take(const Json::Value& tree, const List& list) {
    Builder root(m_rootAllocator);
    Builder element(m_elementAllocator);
    Router router(root, element, list);
    Emit(tree, router);
    root.TakeValue(m_root);
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
