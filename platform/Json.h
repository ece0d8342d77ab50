#pragma once
// JSON reading (over simdjson's DOM) and writing (our own compact writer).
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

#include <simdjson.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/JsonWriter.h"
#include "platform/Uuid.h"

namespace tavro::platform::json {

using Element = simdjson::dom::element;
using ObjectView = simdjson::dom::object;
using ArrayView = simdjson::dom::array;

// A parser whose buffers are kept between documents: hosts run exchange after exchange in one
// process, and fresh memory is the dearest part of a large parse. The element returned by
// parse() is valid until the next parse() on the same parser. Not thread-safe; one per thread.
class Parser {
  public:
    Parser();
    // Throws platform::Error (Cocoa 3840) on malformed input or a scalar top level.
    Element parse(std::string_view utf8);

  private:
    simdjson::dom::parser parser_;
    std::string padded_;
};

// Member lookup with last-one-wins for duplicate keys.
std::optional<Element> member(ObjectView object, std::string_view key);

// An object's members indexed once, for records read key by key (an exchange record has about
// twenty keys; a linear scan per key would cost quadratic time across 100,000 records).
// Duplicate keys: the last wins. Views point into the parsed document.
class Fields {
  public:
    explicit Fields(ObjectView object);
    std::optional<Element> get(std::string_view key) const;

  private:
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
