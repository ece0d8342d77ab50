// SPDX-License-Identifier: MIT
#include "platform/Text.h"

#include <simdjson.h>
#include <unicode/brkiter.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

#include <memory>

namespace tavro::platform::text {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

char32_t codePointAt(std::string_view utf8, size_t& index);

// Decodes the code point that ends at `end` (exclusive) of well-formed text and moves `end`
// to its start.
char32_t codePointBefore(std::string_view utf8, size_t& end) {
    size_t start = end - 1;
    while (start > 0 && (static_cast<unsigned char>(utf8[start]) & 0xC0) == 0x80) {
        --start;
    }
    end = start;
    return codePointAt(utf8, start);
}

char32_t codePointAt(std::string_view utf8, size_t& index) {
    UChar32 c = 0;
    const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
    U8_NEXT(s, index, utf8.size(), c);
    return static_cast<char32_t>(c);
}

template <typename Predicate>
std::string trimmed(std::string_view utf8, Predicate strip) {
    const std::string repaired = replaceIllFormedUtf8(utf8);
    std::string_view text = repaired;
    size_t begin = 0;
    while (begin < text.size()) {
        size_t next = begin;
        if (!strip(codePointAt(text, next))) {
            break;
        }
        begin = next;
    }
    size_t end = text.size();
    while (end > begin) {
        size_t previous = end;
        if (!strip(codePointBefore(text, previous))) {
            break;
        }
        end = previous;
    }
    return std::string(text.substr(begin, end - begin));
}

// The user's locale from the environment. The C/POSIX locale maps to ICU's "en_US_POSIX",
// whose collation orders every capital before every small letter as a primary difference,
// so no strength setting could make it ignore case; the root collation stands in for it.
icu::Locale collationLocale() {
    const icu::Locale& locale = icu::Locale::getDefault();
    if (std::string_view(locale.getVariant()) == "POSIX") {
        return icu::Locale::getRoot();
    }
    return locale;
}

std::unique_ptr<icu::Collator> makeCollator() {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(collationLocale(), status));
    if (U_FAILURE(status) || !collator) {
        status = U_ZERO_ERROR;
        collator.reset(icu::Collator::createInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) {
            return nullptr;
        }
    }
    // Secondary strength: base letters and accents count, case does not.
    collator->setStrength(icu::Collator::SECONDARY);
    return collator;
}

}  // namespace

bool isWellFormedUtf8(std::string_view bytes) {
    return simdjson::validate_utf8(bytes.data(), bytes.size());
}

std::string replaceIllFormedUtf8(std::string_view bytes) {
    if (isWellFormedUtf8(bytes)) {
        return std::string(bytes);
    }
    const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
    const size_t length = bytes.size();
    std::string out;
    out.reserve(length + 8);
    size_t runStart = 0;
    size_t i = 0;
    while (i < length) {
        const size_t start = i;
        UChar32 c = 0;
        // ICU's decoder consumes exactly one maximal ill-formed subpart per failure.
        U8_NEXT(s, i, length, c);
        if (c < 0) {
            out.append(bytes.substr(runStart, start - runStart));
            out.append(kReplacement);
            runStart = i;
        }
    }
    out.append(bytes.substr(runStart));
    return out;
}

std::string prefixGraphemes(std::string_view utf8, size_t count) {
    const std::string text = replaceIllFormedUtf8(utf8);
    if (count == 0) {
        return {};
    }
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::BreakIterator> breaks(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status) || !breaks) {
        utext_close(ut);
        return text;
    }
    breaks->setText(ut, status);
    int32_t boundary = 0;
    for (size_t i = 0; i < count; ++i) {
        const int32_t next = breaks->next();
        if (next == icu::BreakIterator::DONE) {
            boundary = static_cast<int32_t>(text.size());
            break;
        }
        boundary = next;
    }
    utext_close(ut);
    return text.substr(0, static_cast<size_t>(boundary));
}

std::string uppercased(std::string_view utf8) {
    icu::UnicodeString text = icu::UnicodeString::fromUTF8(
        icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
    text.toUpper(icu::Locale::getRoot());
    std::string out;
    text.toUTF8String(out);
    return out;
}

int compareLocalizedCaseInsensitive(std::string_view a, std::string_view b) {
    // A collator is costly to build and not meant for sharing between threads.
    thread_local std::unique_ptr<icu::Collator> collator = makeCollator();
    if (!collator) {
        return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    }
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult result =
        collator->compareUTF8(icu::StringPiece(a.data(), static_cast<int32_t>(a.size())),
                              icu::StringPiece(b.data(), static_cast<int32_t>(b.size())), status);
    if (U_FAILURE(status)) {
        return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
    }
    return result == UCOL_LESS ? -1 : (result == UCOL_EQUAL ? 0 : 1);
}

bool isWhiteSpace(char32_t c) {
    return c == 0x09 || c == 0x20 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200B) ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

bool isLineBreak(char32_t c) {
    return (c >= 0x0A && c <= 0x0D) || c == 0x85 || c == 0x2028 || c == 0x2029;
}

std::string trimWhiteSpace(std::string_view utf8) {
    return trimmed(utf8, isWhiteSpace);
}

std::string trimWhiteSpaceAndNewlines(std::string_view utf8) {
    return trimmed(utf8, [](char32_t c) { return isWhiteSpace(c) || isLineBreak(c); });
}

}  // namespace tavro::platform::text
