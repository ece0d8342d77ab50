// SPDX-License-Identifier: MIT
#pragma once
// The one JSON writer: every JSON text the library and its programs produce is written by it,
// as a stream of values, so that a large document (an exchange response) needs no tree. Its
// escapes and number forms are those of platform/Json.h, fixed once because fingerprints hash
// the bytes. Compact output has no whitespace at all; the indented form (for people reading a
// response in a terminal) puts each member and element on its own line, two spaces a level,
// `"key": value`, and writes empty containers as {} and [].
//
// The writer trusts its caller to nest correctly: keys only directly inside objects, every
// container closed. Not thread-safe.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::platform::json {

class Writer {
  public:
    enum class Style { Compact, Indented };

    explicit Writer(std::string& out, Style style = Style::Compact) : out_(out), style_(style) {}

    Writer& beginObject();
    Writer& endObject();
    Writer& beginArray();
    Writer& endArray();
    Writer& key(std::string_view name);

    Writer& string(std::string_view utf8);  // ill-formed UTF-8 is written as U+FFFD
    Writer& integer(int64_t value);
    Writer& unsignedInteger(uint64_t value);
    Writer& number(double value);  // throws platform::Error for NaN and infinities
    Writer& boolean(bool value);
    Writer& null();

    // The text written so far goes straight on: for a caller that writes a value whose bytes it
    // already holds (a record it wrote before, say). Counts as one value.
    Writer& raw(std::string_view json);

  private:
    void beforeValue();
    Writer& open(char bracket);
    Writer& close(char bracket);

    struct Level {
        bool empty = true;
    };
    std::string& out_;
    Style style_;
    std::vector<Level> levels_;
    bool afterKey_ = false;
};

}  // namespace tavro::platform::json
