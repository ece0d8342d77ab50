// SPDX-License-Identifier: MIT
#pragma once
// Descriptive details a thing keeps as JSON text in `metadataJSON`. A plain value; it may be
// copied between threads.
//
// JSON form: one object whose keys are the field names. Writing emits present fields only
// (never null). Reading takes keys in any order, treats a missing key or null as absent and
// ignores unknown keys; a present value of the wrong JSON type spoils the whole read.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::model {

struct ThingMetadata {
    std::optional<std::string> author;
    std::optional<std::string> authorHandle;
    std::optional<std::string> siteName;
    std::optional<int64_t> stars;
    std::optional<int64_t> forks;
    std::optional<std::string> language;
    std::optional<std::string> homepage;
    std::optional<int64_t> width;
    std::optional<int64_t> height;

    static ThingMetadata empty() { return {}; }

    bool operator==(const ThingMetadata&) const = default;

    // Compact JSON of the present fields, in the order above.
    std::string toJson() const;
    // Nothing when the text is not the JSON form: empty, malformed, not an object, or any
    // known key holding a value of the wrong type.
    static std::optional<ThingMetadata> fromJson(std::string_view json);
};

}  // namespace tavro::model
