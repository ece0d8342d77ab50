// SPDX-License-Identifier: MIT
#include "cli/PrettyJson.h"

#include "platform/Json.h"

namespace tavro::cli {

namespace json = platform::json;

std::string prettyJson(std::string_view compact) {
    json::Parser parser;
    std::string out;
    json::writeTo(out, json::toValue(parser.parse(compact)), json::KeyOrder::AsGiven,
                  json::Writer::Style::Indented);
    out.push_back('\n');
    return out;
}

}  // namespace tavro::cli
