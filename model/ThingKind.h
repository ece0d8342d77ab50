// SPDX-License-Identifier: MIT
#pragma once
// The eight kinds of a thing. A thing stores its kind as the raw value, which is also what the
// exchange carries, so raw values are compared exactly (a raw value with capitals is no kind).

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::model {

enum class ThingKind { image, video, link, tweet, github, quote, document, note };

// Declaration order.
inline constexpr std::array<ThingKind, 8> kAllThingKinds = {
    ThingKind::image,  ThingKind::video, ThingKind::link,     ThingKind::tweet,
    ThingKind::github, ThingKind::quote, ThingKind::document, ThingKind::note};

std::string_view rawValue(ThingKind kind);

// The kind whose raw value equals `raw` exactly, or nothing.
std::optional<ThingKind> thingKindFromRawValue(std::string_view raw);

// Width over height a new thing of the kind starts with.
double defaultAspectRatio(ThingKind kind);

// Serialised form: the raw value. Decoding text that names no kind throws platform::Error
// rather than guessing a kind.
std::string encodeThingKind(ThingKind kind);
ThingKind decodeThingKind(std::string_view raw);

}  // namespace tavro::model
