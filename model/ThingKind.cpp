// SPDX-License-Identifier: MIT
#include "model/ThingKind.h"

#include "platform/Error.h"

namespace tavro::model {

namespace {

struct KindInfo {
    std::string_view raw;
    double aspectRatio;
};

constexpr std::array<KindInfo, 8> kKinds = {{{"image", 1.0},
                                             {"video", 16.0 / 9.0},
                                             {"link", 1.6},
                                             {"tweet", 1.6},
                                             {"github", 1.6},
                                             {"quote", 1.0},
                                             {"document", 0.77},
                                             {"note", 1.0}}};

const KindInfo& info(ThingKind kind) {
    return kKinds[static_cast<size_t>(kind)];
}

}  // namespace

std::string_view rawValue(ThingKind kind) {
    return info(kind).raw;
}

std::optional<ThingKind> thingKindFromRawValue(std::string_view raw) {
    for (ThingKind kind : kAllThingKinds) {
        if (info(kind).raw == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

double defaultAspectRatio(ThingKind kind) {
    return info(kind).aspectRatio;
}

std::string encodeThingKind(ThingKind kind) {
    return std::string(rawValue(kind));
}

ThingKind decodeThingKind(std::string_view raw) {
    if (auto kind = thingKindFromRawValue(raw)) {
        return *kind;
    }
    // The reader's "data corrupted" error: the text is well-formed but names no kind.
    platform::throwError(
        platform::kCocoaErrorDomain, 4864,
        "The data couldn\u2019t be read because it isn\u2019t in the correct "
        "format.",
        "Cannot initialize ThingKind from invalid String value " + std::string(raw));
}

}  // namespace tavro::model
