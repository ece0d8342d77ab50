#include "platform/JsonErrorLocation.h"

#include <simdjson.h>

#include <algorithm>

namespace tavro::platform::json {

namespace {

namespace od = simdjson::ondemand;

simdjson::error_code walk(od::value value, size_t depth, size_t maxDepth);

simdjson::error_code walkArray(od::value value, size_t depth, size_t maxDepth) {
    od::array array;
    if (auto error = value.get_array().get(array)) {
        return error;
    }
    for (auto child : array) {
        od::value element;
        if (auto error = child.get(element)) {
            return error;
        }
        if (auto error = walk(element, depth + 1, maxDepth)) {
            return error;
        }
    }
    return simdjson::SUCCESS;
}

simdjson::error_code walkObject(od::value value, size_t depth, size_t maxDepth) {
    od::object object;
    if (auto error = value.get_object().get(object)) {
        return error;
    }
    for (auto result : object) {
        od::field field;
        std::string_view key;
        if (auto error = std::move(result).get(field)) {
            return error;
        }
        if (auto error = field.unescaped_key().get(key)) {
            return error;
        }
        if (auto error = walk(field.value(), depth + 1, maxDepth)) {
            return error;
        }
    }
    return simdjson::SUCCESS;
}

// Reads every value so that the streaming parser meets every fault. The walk stops at the
// document parser's depth limit itself: the streaming parser does not check depth, and the
// recursion must stay shallow whatever the input.
simdjson::error_code walk(od::value value, size_t depth, size_t maxDepth) {
    if (depth > maxDepth) {
        return simdjson::DEPTH_ERROR;
    }
    od::json_type type;
    if (auto error = value.type().get(type)) {
        return error;
    }
    switch (type) {
        case od::json_type::array:
            return walkArray(value, depth, maxDepth);
        case od::json_type::object:
            return walkObject(value, depth, maxDepth);
        case od::json_type::number:
            return value.get_double().error();
        case od::json_type::string:
            return value.get_string().error();
        case od::json_type::boolean:
            return value.get_bool().error();
        case od::json_type::null: {
            bool isNull = false;
            if (auto error = value.is_null().get(isNull)) {
                return error;
            }
            return isNull ? simdjson::SUCCESS : simdjson::N_ATOM_ERROR;
        }
    }
    return simdjson::TAPE_ERROR;
}

std::string describeOffset(const std::string& text, size_t offset) {
    const size_t line =
        1 + static_cast<size_t>(std::count(text.begin(), text.begin() + offset, '\n'));
    const size_t lineStart = text.rfind('\n', offset == 0 ? 0 : offset - 1);
    const size_t column =
        lineStart == std::string::npos || offset == 0 ? offset + 1 : offset - lineStart;
    return "at byte " + std::to_string(offset) + " (line " + std::to_string(line) + ", column " +
           std::to_string(column) + ")";
}

}  // namespace

std::string locateParseError(const std::string& padded, size_t length, size_t maxDepth) {
    od::parser parser;
    if (parser.allocate(std::max<size_t>(length, 1), maxDepth + 2) != simdjson::SUCCESS) {
        return {};
    }
    od::document document;
    if (parser.iterate(padded.data(), length, padded.size()).get(document)) {
        return "at byte 0 (line 1, column 1)";
    }
    od::value root;
    simdjson::error_code error = document.get_value().get(root);
    if (!error) {
        error = walk(root, 1, maxDepth);
    }
    // After a complete walk the streaming parser stands behind the top-level value; anything
    // still there is the trailing content the document parser refused.
    const char* where = nullptr;
    if (document.current_location().get(where) || where == nullptr) {
        return error ? "at the end of the input" : "";
    }
    return describeOffset(padded, static_cast<size_t>(where - padded.data()));
}

}  // namespace tavro::platform::json
