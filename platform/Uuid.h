// SPDX-License-Identifier: MIT
#pragma once
// 128-bit identifiers. Parsing accepts exactly the canonical 36-character 8-4-4-4-12 form
// with hexadecimal digits in either case; braces, missing hyphens, "urn:uuid:" and white space
// are refused. The exchange writes lower case; the platform's canonical form is upper case.

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tavro::platform {

struct Uuid {
    std::array<uint8_t, 16> bytes{};

    static std::optional<Uuid> parse(std::string_view text);
    static Uuid random();  // version 4, from a cryptographic source
    std::string lowercase() const;
    std::string uppercase() const;

    // The lower-case text in a buffer of its own, for code that writes many identifiers and
    // keeps none (the exchange's response writes several per record).
    struct Text {
        std::array<char, 36> chars;
        std::string_view view() const { return {chars.data(), chars.size()}; }
        auto operator<=>(const Text&) const = default;
    };
    Text lowercaseText() const;

    auto operator<=>(const Uuid&) const = default;
    bool operator==(const Uuid&) const = default;
};

}  // namespace tavro::platform

template <>
struct std::hash<tavro::platform::Uuid> {
    size_t operator()(const tavro::platform::Uuid& u) const noexcept;
};
