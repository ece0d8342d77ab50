// SPDX-License-Identifier: MIT
#include "platform/ByteCountFormatter.h"

#include <unicode/locid.h>
#include <unicode/numberformatter.h>

#include <array>

namespace tavro::platform {

namespace {

struct Unit {
    const char* name;
    int fractionDigits;
};

constexpr std::array<Unit, 6> kUnits{
    {{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};

// The exact decimal text of byteCount / 1000^exponent. Handing ICU the decimal digits rather
// than a double keeps ties exact: 1,250,000 bytes is exactly 1.25 MB and rounds to even.
std::string scaledDecimal(uint64_t byteCount, int exponent) {
    std::string digits = std::to_string(byteCount);
    size_t shift = static_cast<size_t>(exponent) * 3;
    if (digits.size() <= shift)
        digits.insert(0, shift - digits.size() + 1, '0');
    digits.insert(digits.size() - shift, ".");
    return digits;
}

std::string formatDecimal(const std::string& decimal, int fractionDigits) {
    using namespace icu::number;
    UErrorCode status = U_ZERO_ERROR;
    icu::UnicodeString text = NumberFormatter::withLocale(icu::Locale::getUS())
                                  .precision(Precision::maxFraction(fractionDigits))
                                  .roundingMode(UNUM_ROUND_HALFEVEN)
                                  .formatDecimal(decimal, status)
                                  .toString(status);
    if (U_FAILURE(status))
        return decimal;
    std::string out;
    text.toUTF8String(out);
    return out;
}

}  // namespace

std::string formatFileSize(uint64_t byteCount) {
    if (byteCount == 0)
        return "Zero KB";
    if (byteCount == 1)
        return "1 byte";
    if (byteCount < 1000)
        return std::to_string(byteCount) + " bytes";
    int exponent = 1;
    for (uint64_t rest = byteCount / 1000; rest >= 1000 && exponent < 6; rest /= 1000) {
        ++exponent;
    }
    const Unit& unit = kUnits[static_cast<size_t>(exponent - 1)];
    return formatDecimal(scaledDecimal(byteCount, exponent), unit.fractionDigits) + " " + unit.name;
}

}  // namespace tavro::platform
