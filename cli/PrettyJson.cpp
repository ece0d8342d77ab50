#include "cli/PrettyJson.h"

#include "platform/Json.h"
#include "platform/JsonWriter.h"

namespace tavro::cli {

namespace json = platform::json;

namespace {

void writePretty(json::Writer& out, json::Element element) {
    using simdjson::dom::element_type;
    switch (element.type()) {
        case element_type::OBJECT:
            out.beginObject();
            for (auto field : simdjson::dom::object(element)) {
                out.key(field.key);
                writePretty(out, field.value);
            }
            out.endObject();
            return;
        case element_type::ARRAY:
            out.beginArray();
            for (auto item : simdjson::dom::array(element)) {
                writePretty(out, item);
            }
            out.endArray();
            return;
        case element_type::STRING:
            out.string(std::string_view(element));
            return;
        case element_type::INT64:
            out.integer(int64_t(element));
            return;
        case element_type::UINT64:
            out.unsignedInteger(uint64_t(element));
            return;
        case element_type::DOUBLE:
            out.number(double(element));
            return;
        case element_type::BOOL:
            out.boolean(bool(element));
            return;
        case element_type::NULL_VALUE:
            out.null();
            return;
    }
}

}  // namespace

std::string prettyJson(std::string_view compact) {
    json::Parser parser;
    std::string out;
    json::Writer writer(out, json::Writer::Style::Indented);
    writePretty(writer, parser.parse(compact));
    out.push_back('\n');
    return out;
}

}  // namespace tavro::cli
