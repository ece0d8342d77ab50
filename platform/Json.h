// SPDX-License-Identifier: MIT
#pragma once
// JSON reading (over simdjson's DOM, which only platform/Json.cpp includes) and writing (our
// own compact writer).
//
// Reading: the top level must be an object or an array; anything else, and every syntax
// error, is the platform's parse error (NSCocoaErrorDomain 3840, "The data couldn’t be read
// because it isn’t in the correct format."), with the parser's own detail kept as the error's
// debug description (what the parser found). Nesting deeper than 512 levels is a
// parse error. Of duplicate keys, the last one wins. Ill-formed UTF-8 is replaced with U+FFFD
// before parsing rather than refused. Integer literals beyond 64 bits are valid JSON and read
// as the doubles they stand for. Running out of memory is std::bad_alloc, never a parse error.
//
// Writing: the writer produces every byte that fingerprints hash, so its escapes and number
// forms are fixed once: `"` `\` and `/` escaped, \b \f \n \r \t, other controls as \u00xx with
// lower-case hex, everything else (DEL, U+2028, non-ASCII) raw UTF-8; integers in decimal;
// doubles in the shortest form that reads back to the same value, whole values without ".0",
// exponent form ("1e+16", "1e-05") at or above 2^53 and below 1e-4; NaN and infinities are
// refused with an error. Sorted keys are ordered by code point.

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/JsonWriter.h"
#include "platform/Uuid.h"

namespace tavro::platform::json {

namespace detail {

// The parser's own handles (a document and a place in it) held as plain bytes, so that this
// header needs none of the parser's: only platform/Json.cpp looks inside, and it checks there
// that each handle fits and may be copied byte by byte.
struct Handle {
    alignas(void*) unsigned char bytes[2 * sizeof(void*)];
};

struct Access;

}  // namespace detail

// One value of a parsed document; valid while the document is (see Parser). Copying one is
// copying a few bytes. A default Element refers to nothing: assign to it before reading it.
class Element {
  public:
    Element() noexcept : handle_{} {}

    bool isNull() const;
    bool isString() const;
    bool isObject() const;
    bool isArray() const;

  private:
    friend struct detail::Access;
    detail::Handle handle_;
};

// The iterator of an ObjectView (yielding its Fields) and of an ArrayView (its Elements). Its
// steps are made in Json.cpp, where the parser's own iterator lives in its handle.
template <typename Value>
class ViewIterator {
  public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Value;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Value;

    ViewIterator() noexcept : handle_{} {}
    Value operator*() const;
    ViewIterator& operator++();
    ViewIterator operator++(int) {
        ViewIterator before = *this;
        ++*this;
        return before;
    }
    bool operator==(const ViewIterator& other) const;

  private:
    friend struct detail::Access;
    detail::Handle handle_;
};

// The members of a parsed object in document order, duplicates included. A view, like an
// Element, is valid while its document is; a default one refers to nothing.
class ObjectView {
  public:
    struct Field {
        std::string_view key;
        Element value;
    };

    using Iterator = ViewIterator<Field>;

    ObjectView() noexcept : handle_{} {}
    size_t size() const;
    Iterator begin() const;
    Iterator end() const;

  private:
    friend struct detail::Access;
    detail::Handle handle_;
};

// The elements of a parsed array in document order; valid as an ObjectView is.
class ArrayView {
  public:
    using Iterator = ViewIterator<Element>;

    ArrayView() noexcept : handle_{} {}
    size_t size() const;
    Iterator begin() const;
    Iterator end() const;

  private:
    friend struct detail::Access;
    detail::Handle handle_;
};

// A text to parse, followed by the zeroed bytes the parser reads past a text's end, so that it is
// parsed where it lies instead of being copied first: a host's request is copied once, when it
// is handed over, and a large one costs a second copy's time and fresh memory otherwise.
// Ill-formed UTF-8 is repaired on the way in, as Parser::parse repairs it. Not thread-safe.
class PaddedText {
  public:
    PaddedText() = default;
    PaddedText(const PaddedText&) = default;
    PaddedText& operator=(const PaddedText&) = default;
    // The text moved from is empty.
    PaddedText(PaddedText&& other) noexcept;
    PaddedText& operator=(PaddedText&& other) noexcept;
    static PaddedText copyOf(std::string_view utf8);

    std::string_view view() const { return {bytes_.data(), length_}; }
    size_t size() const { return length_; }
    // Lets go of the text's memory; the text is empty afterwards.
    void release() noexcept;

  private:
    friend class Parser;
    static constexpr size_t kPadding = 64;  // what the parser reads past the end, zeroed
    std::string bytes_;                     // the text, then kPadding zero bytes
    size_t length_ = 0;
};

// A parser whose buffers are kept between documents: hosts run exchange after exchange in one
// process, and fresh memory is the dearest part of a large parse. (The copy of the input it
// parses from is kept only when small: the document does not point into it.) The element returned
// by parse() is valid until the next parse() on the same parser (or its end). Not thread-safe; one
// per thread. A parser moved from may only be assigned to or destroyed.
class Parser {
  public:
    Parser();
    ~Parser();
    Parser(Parser&&) noexcept;
    Parser& operator=(Parser&&) noexcept;
    // Throws platform::Error (Cocoa 3840) on malformed input or a scalar top level.
    Element parse(std::string_view utf8);
    // The same for a text parsed where it lies; it must not change while the elements live
    // (the document copies its texts, so ending it is fine).
    Element parse(const PaddedText& text);
    // The parser keeps its memory for the next document, the copy of the input it parsed
    // included. Lets go of that copy when it was large: for a reader of a large document that
    // has more to hold meanwhile. The elements stay valid.
    void releaseLargeInput() noexcept;
    // Lets go of the last document's memory (the input's copy too), ending every element of
    // it, when it was large: for a reader done with a large document while it still has work
    // to do.
    void releaseLargeDocument() noexcept;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Member lookup with last-one-wins for duplicate keys.
std::optional<Element> member(ObjectView object, std::string_view key);

// An object's members indexed once, for records read key by key (an exchange record has about
// twenty keys; a linear scan per key would cost quadratic time across 100,000 records).
// Duplicate keys: the last wins. Views point into the parsed document.
//
// One Fields can index object after object (assign), reusing its memory: a request's records
// are indexed one at a time as they are read, rather than all held indexed at once.
//
// A record's few keys go into a small open-addressed table, found with one comparison as a
// rule; an object with more keys than it takes (never a record of ours, but a request may say
// anything) is kept sorted instead, so no object costs more than a sort of its keys.
class Fields {
  public:
    Fields() = default;
    explicit Fields(ObjectView object) { assign(object); }
    // Indexes `object` in place of the one before.
    void assign(ObjectView object);
    // The same with only the members named `keys`: for a reader that needs few of them.
    void assign(ObjectView object, std::initializer_list<std::string_view> keys);
    std::optional<Element> get(std::string_view key) const;

  private:
    static constexpr size_t kSlots = 64;               // a power of two
    static constexpr size_t kMostHashed = kSlots / 2;  // probes stay short at half full

    struct Slot {
        std::string_view key;
        Element value;
        uint32_t generation = 0;  // the slot is filled for the object of this generation
    };

    void start();
    void insert(std::string_view key, Element value);
    void insertSorted(std::string_view key, Element value);
    static size_t slotOf(std::string_view key);

    std::array<Slot, kSlots> slots_{};
    uint32_t generation_ = 1;  // slots of generation 0 were never filled
    size_t hashed_ = 0;
    bool sorting_ = false;
    std::vector<std::pair<std::string_view, Element>> sorted_;
};

// The readers of exchange values. A missing member, JSON null and a value of another type all
// read as absent (std::nullopt).
std::optional<std::string_view> asString(std::optional<Element> value);
// A number whose value is a whole number in the signed 64-bit range: 5, 5.0 and 1e3 read;
// 5.5, 1e30 and 2^63 do not.
std::optional<int64_t> asInteger(std::optional<Element> value);
std::optional<double> asDouble(std::optional<Element> value);
// true/false, and the numbers 1 and 0.
std::optional<bool> asBoolean(std::optional<Element> value);
// Text in the canonical 8-4-4-4-12 form, either case.
std::optional<Uuid> asUuid(std::optional<Element> value);
std::optional<ObjectView> asObject(std::optional<Element> value);
std::optional<ArrayView> asArray(std::optional<Element> value);

// ---- Writing --------------------------------------------------------------------------

class Value;
using Array = std::vector<Value>;
struct Member;
using Object = std::vector<Member>;  // insertion order; sorted only when written sorted

class Value {
  public:
    using Storage = std::variant<std::nullptr_t, bool, int64_t, double, std::string, Array, Object>;
    // Defined below, once Member is complete: every constructor of the variant may destroy
    // an alternative, a list of members included.
    Value();
    Value(std::nullptr_t);
    Value(bool b);
    Value(int v);
    Value(int64_t v);
    Value(double v);
    Value(const char* s);
    Value(std::string s);
    Value(std::string_view s);
    Value(Array a);
    Value(Object o);

    const Storage& storage() const { return storage_; }
    Storage& storage() { return storage_; }

  private:
    Storage storage_;
};

struct Member {
    std::string key;
    Value value;
};

inline Value::Value() : storage_(nullptr) {}
inline Value::Value(std::nullptr_t) : storage_(nullptr) {}
inline Value::Value(bool b) : storage_(b) {}
inline Value::Value(int v) : storage_(int64_t{v}) {}
inline Value::Value(int64_t v) : storage_(v) {}
inline Value::Value(double v) : storage_(v) {}
inline Value::Value(const char* s) : storage_(std::string(s)) {}
inline Value::Value(std::string s) : storage_(std::move(s)) {}
inline Value::Value(std::string_view s) : storage_(std::string(s)) {}
inline Value::Value(Array a) : storage_(std::move(a)) {}
inline Value::Value(Object o) : storage_(std::move(o)) {}

enum class KeyOrder { AsGiven, Sorted };

// A parsed element as a tree of values, members in document order: for writing a document back
// changed. Integers beyond int64 become doubles.
Value toValue(Element element);

// A tree written by the one writer (platform/JsonWriter.h), compact unless asked otherwise.
// Throws platform::Error for NaN or infinite doubles.
std::string write(const Value& value, KeyOrder order = KeyOrder::AsGiven);
void writeTo(std::string& out, const Value& value, KeyOrder order = KeyOrder::AsGiven,
             Writer::Style style = Writer::Style::Compact);

// The writer's own escapes and number forms, which json::Writer writes with. Code that writes
// JSON goes through json::Writer, not through these.
void appendString(std::string& out, std::string_view utf8);
void appendInteger(std::string& out, int64_t value);
void appendDouble(std::string& out, double value);  // throws for NaN/inf

}  // namespace tavro::platform::json
