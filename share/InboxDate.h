// SPDX-License-Identifier: MIT
#pragma once
// The inbox's date-time text: YYYY-MM-DDThh:mm:ssZ in UTC with whole seconds, the only form the
// host's reader accepts. Fractions of a second are dropped when writing and refused when
// reading, as are offsets other than "Z", a space for "T", and date-only text.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Time.h"

namespace tavro::share {

// Throws platform::Error for a time that has no four-digit year (or is not finite).
std::string formatInboxDate(platform::Timestamp time);

std::optional<platform::Timestamp> parseInboxDate(std::string_view text);

}  // namespace tavro::share
