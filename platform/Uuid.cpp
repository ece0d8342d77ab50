// SPDX-License-Identifier: MIT
#include "platform/Uuid.h"

#include <openssl/rand.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "platform/Error.h"

namespace tavro::platform {

namespace {

constexpr size_t kTextLength = 36;

// Where the two digits of each byte stand in the text, between the hyphens at 8, 13, 18, 23.
constexpr std::array<uint8_t, 16> kDigitPairs = {0,  2,  4,  6,  9,  11, 14, 16,
                                                 19, 21, 24, 26, 28, 30, 32, 34};

// Each character's value as a hexadecimal digit, or -1. Identifiers are read by the hundred
// thousand in an exchange, so they are read by table, without a branch per character.
constexpr auto kHexValues = [] {
    std::array<int8_t, 256> values{};
    for (int c = 0; c < 256; ++c) {
        values[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                    : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                    : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                                           : int8_t{-1};
    }
    return values;
}();

void formatInto(const Uuid& uuid, const char* digits, char* out) {
    std::memset(out, '-', kTextLength);
    for (size_t i = 0; i < uuid.bytes.size(); ++i) {
        out[kDigitPairs[i]] = digits[uuid.bytes[i] >> 4];
        out[kDigitPairs[i] + 1] = digits[uuid.bytes[i] & 0x0f];
    }
}

std::string format(const Uuid& uuid, const char* digits) {
    std::string text(kTextLength, '\0');
    formatInto(uuid, digits, text.data());
    return text;
}

}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != kTextLength || text[8] != '-' || text[13] != '-' || text[18] != '-' ||
        text[23] != '-') {
        return std::nullopt;
    }
    Uuid uuid;
    int invalid = 0;  // negative once any digit is not one
    for (size_t i = 0; i < uuid.bytes.size(); ++i) {
        const int high = kHexValues[static_cast<unsigned char>(text[kDigitPairs[i]])];
        const int low = kHexValues[static_cast<unsigned char>(text[kDigitPairs[i] + 1])];
        invalid |= high | low;
        uuid.bytes[i] = static_cast<uint8_t>((high & 0x0f) << 4 | (low & 0x0f));
    }
    if (invalid < 0) {
        return std::nullopt;
    }
    return uuid;
}

Uuid Uuid::random() {
    Uuid uuid;
    if (RAND_bytes(uuid.bytes.data(), static_cast<int>(uuid.bytes.size())) != 1) {
        throwError(kInternalErrorDomain, 1, "The system could not supply random bytes.");
    }
    uuid.bytes[6] = static_cast<uint8_t>((uuid.bytes[6] & 0x0f) | 0x40);  // version 4
    uuid.bytes[8] = static_cast<uint8_t>((uuid.bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
    return uuid;
}

std::string Uuid::lowercase() const {
    return format(*this, "0123456789abcdef");
}

Uuid::Text Uuid::lowercaseText() const {
    Text text;
    formatInto(*this, "0123456789abcdef", text.chars.data());
    return text;
}

std::string Uuid::uppercase() const {
    return format(*this, "0123456789ABCDEF");
}

}  // namespace tavro::platform

size_t std::hash<tavro::platform::Uuid>::operator()(const tavro::platform::Uuid& u) const noexcept {
    // The bytes are random (or as good as) already; folding both halves is enough.
    uint64_t high = 0;
    uint64_t low = 0;
    std::memcpy(&high, u.bytes.data(), 8);
    std::memcpy(&low, u.bytes.data() + 8, 8);
    return static_cast<size_t>(high ^ (low * 0x9e3779b97f4a7c15ULL));
}
