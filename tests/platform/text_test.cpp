// SPDX-License-Identifier: MIT
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace tavro::platform::text {
namespace {

const std::string R = "\uFFFD";

// The examples of U+FFFD substitution of maximal subparts from the Unicode standard
// (chapter 3, "U+FFFD Substitution of Maximal Subparts", tables 3-8 to 3-11), plus a few
// boundary cases of our own.
TEST(Utf8Repair, OneReplacementPerMaximalSubpart) {
    const std::vector<std::pair<std::string, std::string>> table = {
        {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         "a" + R + R + R + "b" + R + "c" + R + R + "d"},
        // Non-shortest forms: every byte is its own subpart.
        {"\xC0\xAF\xE0\x80\xBF\xF0\x81\x82\x41", R + R + R + R + R + R + R + R + "A"},
        // Encoded surrogates.
        {"\xED\xA0\x80\xED\xBF\xBF\xED\xAF\x41", R + R + R + R + R + R + R + R + "A"},
        // Beyond U+10FFFF and bytes that never occur.
        {"\xF4\x91\x92\x93\xFF\x41\x80\xBF\x42", R + R + R + R + R + "A" + R + R + "B"},
        // Truncated sequences: one replacement each.
        {"\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", R + R + R + R + "A"},
        {"a\xE2\x82", "a" + R},
        {"\xF0\x9F\x98", R},
        {"\xF5\xF8\xFE", R + R + R},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& [input, expected] : table) {
        EXPECT_FALSE(isWellFormedUtf8(input) && input != expected);
        EXPECT_EQ(replaceIllFormedUtf8(input), expected);
        EXPECT_TRUE(isWellFormedUtf8(replaceIllFormedUtf8(input)));
    }
}

TEST(Utf8Repair, WellFormedTextIsUnchanged) {
    for (const std::string text : {"", "plain", "\u00e9\u20ac\U0001F600", "\uFFFD", "\x7F"}) {
        EXPECT_TRUE(isWellFormedUtf8(text));
        EXPECT_EQ(replaceIllFormedUtf8(text), text);
    }
    // The largest and smallest code points of each length are well formed.
    EXPECT_TRUE(
        isWellFormedUtf8("\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80"
                         "\xF4\x8F\xBF\xBF"));
}

TEST(Graphemes, PrefixCountsUserPerceivedCharacters) {
    EXPECT_EQ(prefixGraphemes("e\u0301xy", 1), "e\u0301");
    EXPECT_EQ(prefixGraphemes("e\u0301xy", 2), "e\u0301x");
    // A family emoji joined with zero-width joiners and a pair of regional indicators.
    const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";
    EXPECT_EQ(prefixGraphemes(family + "!", 1), family);
    EXPECT_EQ(prefixGraphemes("\U0001F1E9\U0001F1EA\U0001F1EB\U0001F1F7", 1),
              "\U0001F1E9\U0001F1EA");
    EXPECT_EQ(prefixGraphemes("\r\nx", 1), "\r\n");
}

TEST(Graphemes, CountsBeyondTheTextAndZero) {
    EXPECT_EQ(prefixGraphemes("abc", 0), "");
    EXPECT_EQ(prefixGraphemes("abc", 3), "abc");
    EXPECT_EQ(prefixGraphemes("abc", 100), "abc");
    EXPECT_EQ(prefixGraphemes("", 5), "");
    EXPECT_EQ(prefixGraphemes("a\xFF"
                              "b",
                              2),
              "a" + R);
}

TEST(CaseMapping, FullUpperCasingIndependentOfLocale) {
    EXPECT_EQ(uppercased("stra\u00dfe"), "STRASSE");
    EXPECT_EQ(uppercased("\uFB00"), "FF");
    EXPECT_EQ(uppercased("istanbul"), "ISTANBUL");  // no Turkish dotted capital I
    EXPECT_EQ(uppercased("\u00e9t\u00e9"), "\u00c9T\u00c9");
    EXPECT_EQ(uppercased("abc 123 \U0001F600"), "ABC 123 \U0001F600");
    EXPECT_EQ(uppercased(""), "");
}

TEST(Collation, CaseIgnoredAccentsSignificant) {
    EXPECT_EQ(compareLocalizedCaseInsensitive("a", "A"), 0);
    EXPECT_EQ(compareLocalizedCaseInsensitive("Projects", "projects"), 0);
    EXPECT_NE(compareLocalizedCaseInsensitive("e", "\u00e9"), 0);
    EXPECT_LT(compareLocalizedCaseInsensitive("apple", "Banana"), 0);
    EXPECT_GT(compareLocalizedCaseInsensitive("banana", "Apple"), 0);
    EXPECT_LT(compareLocalizedCaseInsensitive("", "a"), 0);
    // Antisymmetric, as a sort needs.
    EXPECT_EQ(compareLocalizedCaseInsensitive("Zeta", "alpha"),
              -compareLocalizedCaseInsensitive("alpha", "Zeta"));
}

TEST(WhiteSpace, SetsAreExactlyTheListedCodePoints) {
    for (char32_t c : {0x09, 0x20, 0xA0, 0x1680, 0x2000, 0x2005, 0x200B, 0x202F, 0x205F, 0x3000}) {
        EXPECT_TRUE(isWhiteSpace(c)) << std::hex << static_cast<uint32_t>(c);
        EXPECT_FALSE(isLineBreak(c)) << std::hex << static_cast<uint32_t>(c);
    }
    for (char32_t c : {0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0x2028, 0x2029}) {
        EXPECT_TRUE(isLineBreak(c)) << std::hex << static_cast<uint32_t>(c);
        EXPECT_FALSE(isWhiteSpace(c)) << std::hex << static_cast<uint32_t>(c);
    }
    for (char32_t c : {0x08, 0x0E, 0x1F, 0x41, 0x1FFF, 0x200C, 0x2027, 0xFEFF, 0x3001}) {
        EXPECT_FALSE(isWhiteSpace(c)) << std::hex << static_cast<uint32_t>(c);
        EXPECT_FALSE(isLineBreak(c)) << std::hex << static_cast<uint32_t>(c);
    }
}

TEST(WhiteSpace, TrimmingStripsBothEndsOnly) {
    EXPECT_EQ(trimWhiteSpace(" \t\u00a0a b\u3000 "), "a b");
    EXPECT_EQ(trimWhiteSpace("\na\n"), "\na\n");
    EXPECT_EQ(trimWhiteSpaceAndNewlines("\r\n\u2028 a \u2029b\u0085 \n"), "a \u2029b");
    EXPECT_EQ(trimWhiteSpaceAndNewlines(" \n\t "), "");
    EXPECT_EQ(trimWhiteSpace(""), "");
    EXPECT_EQ(trimWhiteSpace("\uFEFFa\uFEFF"), "\uFEFFa\uFEFF");
    EXPECT_EQ(trimWhiteSpace("\u00e9"), "\u00e9");
}

}  // namespace
}  // namespace tavro::platform::text
