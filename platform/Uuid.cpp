// SPDX-License-Identifier: MIT
#include "platform/Uuid.h"

#include <openssl/rand.h>

#include <cstring>
#include <stdexcept>

#include "platform/Error.h"

namespace tavro::platform {

namespace {

constexpr size_t kTextLength = 36;

bool isHyphenPosition(size_t i) {
    return i == 8 || i == 13 || i == 18 || i == 23;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

void formatInto(const Uuid& uuid, const char* digits, char* out) {
    for (size_t i = 0; i < uuid.bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            *out++ = '-';
        }
        *out++ = digits[uuid.bytes[i] >> 4];
        *out++ = digits[uuid.bytes[i] & 0x0f];
    }
}

std::string format(const Uuid& uuid, const char* digits) {
    std::string text(kTextLength, '\0');
    formatInto(uuid, digits, text.data());
    return text;
}

}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
    if (text.size() != kTextLength) {
        return std::nullopt;
    }
    Uuid uuid;
    size_t byte = 0;
    for (size_t i = 0; i < kTextLength; ++i) {
        if (isHyphenPosition(i)) {
            if (text[i] != '-') {
                return std::nullopt;
            }
            continue;
        }
        const int high = hexValue(text[i]);
        const int low = hexValue(text[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        uuid.bytes[byte++] = static_cast<uint8_t>(high << 4 | low);
        ++i;
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
