// SPDX-License-Identifier: MIT
// UUIDs, digests and timestamps: the small value types every exchange record carries.
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <limits>
#include <unordered_set>

#include "platform/Sha256.h"
#include "platform/Time.h"
#include "platform/Uuid.h"

namespace tavro::platform {
namespace {

TEST(Uuids, ParseOnlyTheCanonicalFormInEitherCase) {
    const auto lower = Uuid::parse("0f8fad5b-d9cb-469f-a165-70867728950e");
    ASSERT_TRUE(lower.has_value());
    EXPECT_EQ(lower->bytes[0], 0x0f);
    EXPECT_EQ(lower->bytes[15], 0x0e);
    EXPECT_EQ(Uuid::parse("0F8FAD5B-D9CB-469F-A165-70867728950E"), lower);
    EXPECT_EQ(Uuid::parse("0F8fad5B-d9CB-469f-A165-70867728950e"), lower);
    EXPECT_EQ(lower->uppercase(), "0F8FAD5B-D9CB-469F-A165-70867728950E");
    EXPECT_EQ(lower->lowercase(), "0f8fad5b-d9cb-469f-a165-70867728950e");

    for (const char* bad :
         {"", "0f8fad5bd9cb469fa16570867728950e", "{0f8fad5b-d9cb-469f-a165-70867728950e}",
          "urn:uuid:0f8fad5b-d9cb-469f-a165-70867728950e", " 0f8fad5b-d9cb-469f-a165-70867728950e",
          "0f8fad5b-d9cb-469f-a165-70867728950e ", "0f8fad5b-d9cb-469f-a165-70867728950",
          "0f8fad5b-d9cb-469f-a165-70867728950g", "0f8fad5bd-9cb-469f-a165-70867728950e",
          "0f8fad5b-d9cb-469f-a165+70867728950e", "0f8fad5b-d9cb-469f-a16-570867728950e",
          "+f8fad5b-d9cb-469f-a165-70867728950e"}) {
        EXPECT_FALSE(Uuid::parse(bad).has_value()) << bad;
    }
    // Every position is checked: a hyphen only where hyphens stand, a digit everywhere else.
    const std::string canonical = "0f8fad5b-d9cb-469f-a165-70867728950e";
    for (size_t i = 0; i < canonical.size(); ++i) {
        for (char c : {'g', 'G', '-', '/', ':', '@', '`', '\0', '\xff', 'a'}) {
            std::string text = canonical;
            text[i] = c;
            const bool hyphenAt = i == 8 || i == 13 || i == 18 || i == 23;
            const bool wellFormed = hyphenAt ? c == '-' : std::isxdigit(c) != 0;
            EXPECT_EQ(Uuid::parse(text).has_value(), wellFormed) << i << " " << int(c);
        }
    }
}

TEST(Uuids, RandomAreVersionFourUniqueAndHashable) {
    std::unordered_set<Uuid> seen;
    for (int i = 0; i < 1000; ++i) {
        const Uuid uuid = Uuid::random();
        EXPECT_EQ(uuid.bytes[6] >> 4, 4);
        EXPECT_EQ(uuid.bytes[8] & 0xc0, 0x80);
        EXPECT_EQ(Uuid::parse(uuid.lowercase()), uuid);
        seen.insert(uuid);
    }
    EXPECT_EQ(seen.size(), 1000u);
    EXPECT_LT(Uuid{}, *Uuid::parse("00000000-0000-0000-0000-000000000001"));
}

TEST(Digests, KnownVectorsWholeAndIncremental) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    Sha256 hash;
    hash.update("a");
    hash.update("");
    hash.update("bc");
    EXPECT_EQ(hash.finishHex(), sha256Hex("abc"));
    const std::string million(1000000, 'a');
    EXPECT_EQ(sha256Hex(million),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    const uint8_t bytes[] = {0x00, 0x0f, 0xa0, 0xff};
    EXPECT_EQ(toHex(bytes, 4), "000fa0ff");
}

TEST(Timestamps, MillisecondsRoundHalfAwayFromZero) {
    EXPECT_EQ(toMilliseconds(0.0625), 63);
    EXPECT_EQ(toMilliseconds(-0.0625), -63);
    EXPECT_EQ(toMilliseconds(0.0624), 62);
    EXPECT_EQ(toMilliseconds(1.0), 1000);
    EXPECT_EQ(toMilliseconds(0.0), 0);
    EXPECT_EQ(toMilliseconds(1700000000.123), 1700000000123);
    EXPECT_EQ(fromMilliseconds(62.5), 0.0625);
    EXPECT_EQ(toMilliseconds(fromMilliseconds(1700000000123.0)), 1700000000123);
}

TEST(Timestamps, MillisecondsSaturateBeyondRange) {
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    EXPECT_EQ(toMilliseconds(1e300), kMax);
    EXPECT_EQ(toMilliseconds(-1e300), kMin);
    EXPECT_EQ(toMilliseconds(std::numeric_limits<double>::infinity()), kMax);
    EXPECT_EQ(toMilliseconds(-std::numeric_limits<double>::infinity()), kMin);
    EXPECT_EQ(toMilliseconds(9223372036854775.807), kMax);  // rounds to 2^63 ms
    EXPECT_EQ(toMilliseconds(-9223372036854775.808), kMin);
    EXPECT_EQ(toMilliseconds(std::nan("")), 0);
    EXPECT_GT(now(), 1.7e9);
}

}  // namespace
}  // namespace tavro::platform
