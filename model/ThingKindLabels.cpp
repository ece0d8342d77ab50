// SPDX-License-Identifier: MIT
#include "model/ThingKindLabels.h"

#include <array>

namespace tavro::model {

namespace {

struct Labels {
    std::string_view title;
    std::string_view pluralTitle;
    std::string_view systemImage;
    bool fileBacked;
    bool linkBacked;
};

// In the declaration order of the kinds.
constexpr std::array<Labels, 8> kLabels = {{
    {"Image", "Images", "photo", true, false},
    {"Video", "Videos", "play.rectangle", true, false},
    {"Link", "Links", "link", false, true},
    {"Tweet", "Tweets", "text.bubble", false, true},
    {"Repository", "Repositories", "chevron.left.forwardslash.chevron.right", false, true},
    {"Quote", "Quotes", "quote.opening", false, false},
    {"Document", "Documents", "doc", true, false},
    {"Note", "Notes", "note.text", false, false},
}};

const Labels& labels(ThingKind kind) {
    return kLabels[static_cast<size_t>(kind)];
}

}  // namespace

std::string_view title(ThingKind kind) {
    return labels(kind).title;
}

std::string_view pluralTitle(ThingKind kind) {
    return labels(kind).pluralTitle;
}

std::string_view systemImage(ThingKind kind) {
    return labels(kind).systemImage;
}

bool isFileBacked(ThingKind kind) {
    return labels(kind).fileBacked;
}

bool isLinkBacked(ThingKind kind) {
    return labels(kind).linkBacked;
}

}  // namespace tavro::model
