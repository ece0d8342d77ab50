// SPDX-License-Identifier: MIT
#include "exchange/RecordReaders.h"

namespace tavro::exchange {

namespace json = platform::json;

std::string_view string(const json::Fields& record, std::string_view key) {
    return json::asString(record.get(key)).value_or(std::string_view{});
}

std::optional<platform::Timestamp> optionalDate(const json::Fields& record, std::string_view key) {
    auto milliseconds = json::asDouble(record.get(key));
    if (!milliseconds) {
        return std::nullopt;
    }
    return platform::fromMilliseconds(*milliseconds);
}

platform::Timestamp date(const json::Fields& record, std::string_view key) {
    return optionalDate(record, key).value_or(0.0);
}

std::optional<platform::Uuid> optionalUUID(std::optional<json::Element> value) {
    return json::asUuid(value);
}

bool isDeleted(const json::Fields& record) {
    return json::asBoolean(record.get("deleted")).value_or(false);
}

}  // namespace tavro::exchange
