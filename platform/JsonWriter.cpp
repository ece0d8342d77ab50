// SPDX-License-Identifier: MIT
#include "platform/JsonWriter.h"

#include "platform/Json.h"

namespace tavro::platform::json {

namespace {

void newLine(std::string& out, size_t depth) {
    out.push_back('\n');
    out.append(depth * 2, ' ');
}

}  // namespace

// Separates a value from the one before it in its container; a member's value follows its key.
void Writer::beforeValue() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (levels_.empty()) {
        return;
    }
    if (!levels_.back().empty) {
        out_.push_back(',');
    }
    levels_.back().empty = false;
    if (style_ == Style::Indented) {
        newLine(out_, levels_.size());
    }
}

Writer& Writer::open(char bracket) {
    beforeValue();
    out_.push_back(bracket);
    levels_.push_back({});
    return *this;
}

Writer& Writer::close(char bracket) {
    bool empty = levels_.back().empty;
    levels_.pop_back();
    if (style_ == Style::Indented && !empty) {
        newLine(out_, levels_.size());
    }
    out_.push_back(bracket);
    return *this;
}

Writer& Writer::beginObject() {
    return open('{');
}
Writer& Writer::endObject() {
    return close('}');
}
Writer& Writer::beginArray() {
    return open('[');
}
Writer& Writer::endArray() {
    return close(']');
}

Writer& Writer::key(std::string_view name) {
    beforeValue();
    appendString(out_, name);
    out_.append(style_ == Style::Indented ? ": " : ":");
    afterKey_ = true;
    return *this;
}

Writer& Writer::string(std::string_view utf8) {
    beforeValue();
    appendString(out_, utf8);
    return *this;
}

Writer& Writer::integer(int64_t value) {
    beforeValue();
    appendInteger(out_, value);
    return *this;
}

Writer& Writer::unsignedInteger(uint64_t value) {
    beforeValue();
    out_.append(std::to_string(value));
    return *this;
}

Writer& Writer::number(double value) {
    beforeValue();
    appendDouble(out_, value);
    return *this;
}

Writer& Writer::boolean(bool value) {
    beforeValue();
    out_.append(value ? "true" : "false");
    return *this;
}

Writer& Writer::null() {
    beforeValue();
    out_.append("null");
    return *this;
}

Writer& Writer::raw(std::string_view json) {
    beforeValue();
    out_.append(json);
    return *this;
}

}  // namespace tavro::platform::json
