// SPDX-License-Identifier: MIT
// What a thing shows and how it is found: values derived from its fields, read-only.

#include <algorithm>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "model/ThingKindLabels.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"

namespace tavro::model {

namespace {

// A display title is at most this many user-perceived characters.
constexpr size_t kTitleLength = 80;

// The length of the line break starting at `at`, or 0: LF, VT, FF, CR, and the UTF-8 forms of
// NEL (C2 85), LINE SEPARATOR (E2 80 A8) and PARAGRAPH SEPARATOR (E2 80 A9). These byte
// sequences occur in well-formed UTF-8 only as those characters. A CR LF pair needs no rule of
// its own: the empty line between its halves is dropped like any other.
size_t lineBreakLength(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    if (byte(at) >= 0x0A && byte(at) <= 0x0D) {
        return 1;
    }
    if (byte(at) == 0xC2 && at + 1 < text.size() && byte(at + 1) == 0x85) {
        return 2;
    }
    if (byte(at) == 0xE2 && at + 2 < text.size() && byte(at + 1) == 0x80 &&
        (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9)) {
        return 3;
    }
    return 0;
}

// The first line that is not empty, as it stands (spaces kept), or nothing.
std::optional<std::string_view> firstNonEmptyLine(std::string_view text) {
    size_t start = 0;
    for (size_t i = 0; i < text.size();) {
        const size_t length = lineBreakLength(text, i);
        if (length == 0) {
            ++i;
            continue;
        }
        if (i > start) {
            return text.substr(start, i - start);
        }
        i += length;
        start = i;
    }
    if (start < text.size()) {
        return text.substr(start);
    }
    return std::nullopt;
}

std::string untitled(ThingKind kind) {
    return "Untitled " + std::string(title(kind));
}

}  // namespace

std::optional<platform::Url> Thing::url() const {
    if (s_.urlString.empty()) {
        return std::nullopt;
    }
    return platform::Url::parse(s_.urlString);
}

std::optional<platform::UniformType> Thing::contentType() const {
    if (s_.typeIdentifier.empty()) {
        return std::nullopt;
    }
    return platform::UniformType::fromIdentifier(s_.typeIdentifier);
}

std::string Thing::fileExtension() const {
    std::string extension = platform::paths::extension(s_.fileName);
    if (!extension.empty()) {
        return extension;
    }
    if (auto type = contentType()) {
        return type->preferredFilenameExtension().value_or(std::string());
    }
    return {};
}

std::string Thing::displayTitle() const {
    if (!s_.title.empty()) {
        return s_.title;
    }
    const ThingKind k = kind();
    switch (k) {
        case ThingKind::image:
        case ThingKind::video:
        case ThingKind::document:
            return s_.fileName.empty() ? untitled(k) : s_.fileName;
        case ThingKind::tweet:
        case ThingKind::quote:
        case ThingKind::note:
            if (auto line = firstNonEmptyLine(s_.content)) {
                // A line of at most 80 bytes has at most 80 characters: lists of notes need
                // no grapheme segmentation for their usual short first lines.
                if (line->size() <= kTitleLength) {
                    return std::string(*line);
                }
                return platform::text::prefixGraphemes(*line, kTitleLength);
            }
            return untitled(k);
        case ThingKind::link:
        case ThingKind::github:
            // Both read as links when nothing names them: a repository without an address
            // is no repository to show.
            if (!s_.subtitle.empty()) {
                return s_.subtitle;
            }
            return s_.urlString.empty() ? untitled(ThingKind::link) : s_.urlString;
    }
    return untitled(k);
}

std::string Thing::badgeText() const {
    const ThingKind k = kind();
    switch (k) {
        case ThingKind::link:
            return "URL";
        case ThingKind::tweet:
            return "TWEET";
        case ThingKind::github:
            return "REPO";
        case ThingKind::quote:
            return "QUOTE";
        case ThingKind::note:
            return "NOTE";
        case ThingKind::image:
        case ThingKind::video:
        case ThingKind::document:
            break;
    }
    std::string badge = platform::text::uppercased(fileExtension());
    return badge.empty() ? platform::text::uppercased(model::title(k)) : badge;
}

std::string Thing::exportFileName() const {
    // The name is one path component whichever way it is made: a stored file name comes from
    // other devices, and "../../x" must not lead an export out of the folder it is written to.
    std::string name = s_.fileName;
    if (name.empty()) {
        const std::string extension = fileExtension();
        name = displayTitle() + "." + (extension.empty() ? std::string("bin") : extension);
    }
    std::replace(name.begin(), name.end(), '/', '-');
    return name;
}

std::string Thing::searchableText() const {
    std::string text;
    for (const std::string* field :
         {&s_.title, &s_.subtitle, &s_.content, &s_.note, &s_.urlString, &s_.fileName}) {
        if (field != &s_.title) {
            text += '\n';
        }
        text += *field;
    }
    for (const Tag* tag : tagList()) {
        text += '\n';
        text += tag->name();
    }
    if (s_.project != nullptr) {
        text += '\n';
        text += s_.project->name();
    }
    return text;
}

std::vector<Tag*> Thing::tagList() const {
    std::vector<Tag*> tags = s_.tags;
    std::stable_sort(tags.begin(), tags.end(), [](const Tag* a, const Tag* b) {
        return platform::text::compareLocalizedCaseInsensitive(a->name(), b->name()) < 0;
    });
    return tags;
}

ThingMetadata Thing::metadata() const {
    return ThingMetadata::fromJson(s_.metadataJSON).value_or(ThingMetadata::empty());
}

void Thing::setMetadata(const ThingMetadata& value) {
    std::string json;
    try {
        json = value.toJson();
    } catch (const platform::Error&) {
        return;  // the stored text stays as it was
    }
    setMetadataJSON(std::move(json));
}

void Thing::updateMetadata(const std::function<void(ThingMetadata&)>& change) {
    ThingMetadata value = metadata();
    change(value);
    setMetadata(value);
}

}  // namespace tavro::model
