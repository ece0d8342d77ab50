// SPDX-License-Identifier: MIT
#pragma once
// Text services over ICU: UTF-8 repair, user-perceived characters, case mapping, localized
// comparison, and the platform's white-space and line-break sets.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::platform::text {

// Replaces every maximal ill-formed subpart with U+FFFD, as the Unicode standard recommends.
// Well-formed input is returned unchanged (and cheaply).
std::string replaceIllFormedUtf8(std::string_view bytes);
bool isWellFormedUtf8(std::string_view bytes);

// The first `count` user-perceived characters (extended grapheme clusters).
std::string prefixGraphemes(std::string_view utf8, size_t count);

// Full Unicode upper-casing including special casing (ß -> SS), independent of locale.
std::string uppercased(std::string_view utf8);

// Case-insensitive comparison in the user's current locale (accents significant): <0, 0, >0.
int compareLocalizedCaseInsensitive(std::string_view a, std::string_view b);

// Horizontal white space (not line breaks): U+0009, U+0020, U+00A0, U+1680, U+2000–U+200B,
// U+202F, U+205F, U+3000.
bool isWhiteSpace(char32_t c);
// U+000A–U+000D, U+0085, U+2028, U+2029.
bool isLineBreak(char32_t c);
std::string trimWhiteSpace(std::string_view utf8);
std::string trimWhiteSpaceAndNewlines(std::string_view utf8);

}  // namespace tavro::platform::text
