#include "cli/PrettyJson.h"

#include "platform/Json.h"

namespace tavro::cli {

namespace json = platform::json;

namespace {

void indent(std::string& out, int depth) {
    out.push_back('\n');
    out.append(static_cast<size_t>(depth) * 2, ' ');
}

void writePretty(std::string& out, json::Element element, int depth) {
    using simdjson::dom::element_type;
    switch (element.type()) {
        case element_type::OBJECT: {
            simdjson::dom::object object(element);
            if (object.size() == 0) {
                out += "{}";
                return;
            }
            out.push_back('{');
            bool first = true;
            for (auto field : object) {
                out += first ? "" : ",";
                first = false;
                indent(out, depth + 1);
                json::appendString(out, field.key);
                out += ": ";
                writePretty(out, field.value, depth + 1);
            }
            indent(out, depth);
            out.push_back('}');
            return;
        }
        case element_type::ARRAY: {
            simdjson::dom::array array(element);
            if (array.size() == 0) {
                out += "[]";
                return;
            }
            out.push_back('[');
            bool first = true;
            for (auto item : array) {
                out += first ? "" : ",";
                first = false;
                indent(out, depth + 1);
                writePretty(out, item, depth + 1);
            }
            indent(out, depth);
            out.push_back(']');
            return;
        }
        case element_type::STRING:
            json::appendString(out, std::string_view(element));
            return;
        case element_type::INT64:
            json::appendInteger(out, int64_t(element));
            return;
        case element_type::UINT64:
            out += std::to_string(uint64_t(element));
            return;
        case element_type::DOUBLE:
            json::appendDouble(out, double(element));
            return;
        case element_type::BOOL:
            out += bool(element) ? "true" : "false";
            return;
        case element_type::NULL_VALUE:
            out += "null";
            return;
    }
}

}  // namespace

std::string prettyJson(std::string_view compact) {
    json::Parser parser;
    std::string out;
    writePretty(out, parser.parse(compact), 0);
    out.push_back('\n');
    return out;
}

}  // namespace tavro::cli
