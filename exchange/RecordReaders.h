// SPDX-License-Identifier: MIT
#pragma once
// The readers of request record values. A missing key, JSON null and a value of another type
// all read as absent and take the key's default; none of them fails.

#include <optional>
#include <string_view>

#include "platform/Json.h"
#include "platform/Time.h"
#include "platform/Uuid.h"

namespace tavro::exchange {

// The text under `key`, or empty text.
std::string_view string(const platform::json::Fields& record, std::string_view key);

// The exchange timestamp (milliseconds) under `key` as a point in time, or the epoch.
platform::Timestamp date(const platform::json::Fields& record, std::string_view key);

// The same, or nothing when absent ("trashedAt" clears the trash state when absent).
std::optional<platform::Timestamp> optionalDate(const platform::json::Fields& record,
                                                std::string_view key);

// An identifier parsed from a text value; nothing when absent, not text or not canonical.
std::optional<platform::Uuid> optionalUUID(std::optional<platform::json::Element> value);

// "deleted": true or 1.
bool isDeleted(const platform::json::Fields& record);

}  // namespace tavro::exchange
