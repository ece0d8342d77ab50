// SPDX-License-Identifier: MIT
// Content on the server: stored once per digest in chunks, and referencable only after the
// server has hashed the chunks and found the digest. Chunks that do not hash to it are refused
// and discarded; a missing chunk is reported rather than taken as the end.

#include <gtest/gtest.h>

#include "ServerFixture.h"
#include "mirror/ServerError.h"
#include "mirror/ServerRecords.h"
#include "platform/Sha256.h"

namespace tavro::test {
namespace {

using mirror::ServerError;
using mirror::ServerFailure;

constexpr const char* kThing = "6f1e2b1c-0000-4000-8000-00000000000c";

class ContentTest : public ServerFixture {
  protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (!IsSkipped() && !HasFailure()) {
            role_ = addAccount("alice");
        }
    }
    std::string role_;
};

TEST_F(ContentTest, ContentIsReferencableOnlyOnceVerified) {
    mirror::Connection machine = connectAs(role_);
    // Binary bytes, a NUL among them, over three chunks.
    std::vector<std::string> chunks = {std::string("\x00\xff\x10", 3), "middle", "end\n"};
    std::string whole = chunks[0] + chunks[1] + chunks[2];
    std::string digest = platform::sha256Hex(whole);

    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(mirror::putChunk(machine, digest, i, chunks[static_cast<size_t>(i)]));
    }
    EXPECT_FALSE(mirror::hasContent(machine, digest));
    EXPECT_THROW(mirror::getChunk(machine, digest, 0), ServerError);
    try {
        mirror::pushRecord(machine, "Thing", kThing, 0, "{}", {digest});
        FAIL() << "a record referenced unverified content";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::ContentMissing) << error.what();
    }

    ASSERT_TRUE(mirror::finishContent(machine, digest, 3));
    EXPECT_TRUE(mirror::hasContent(machine, digest));
    std::string read;
    for (int i = 0;; ++i) {
        auto chunk = mirror::getChunk(machine, digest, i);
        if (!chunk) {
            break;
        }
        read += *chunk;
    }
    EXPECT_EQ(read, whole);
    EXPECT_TRUE(mirror::pushRecord(machine, "Thing", kThing, 0, "{}", {digest}).applied);
    EXPECT_EQ(mirror::changesSince(machine, 0).at(0).contents, std::vector<std::string>{digest});

    // Stored once: a second upload of the same digest stores nothing.
    EXPECT_FALSE(mirror::putChunk(machine, digest, 0, "again"));
    EXPECT_TRUE(mirror::finishContent(machine, digest, 1));
    EXPECT_EQ(mirror::getChunk(machine, digest, 1), "middle");

    // Empty content has a digest too, and no chunk.
    std::string empty = platform::sha256Hex("");
    EXPECT_TRUE(mirror::finishContent(machine, empty, 0));
    EXPECT_EQ(mirror::getChunk(machine, empty, 0), std::nullopt);
}

TEST_F(ContentTest, ChunksThatDoNotHashToTheDigestAreRefused) {
    mirror::Connection machine = connectAs(role_);
    std::string digest = platform::sha256Hex("first half|second half");
    ASSERT_TRUE(mirror::putChunk(machine, digest, 0, "first half|"));
    ASSERT_TRUE(mirror::putChunk(machine, digest, 1, "second HALF"));
    EXPECT_FALSE(mirror::finishContent(machine, digest, 2));
    EXPECT_FALSE(mirror::hasContent(machine, digest));
    EXPECT_THROW(mirror::pushRecord(machine, "Thing", kThing, 0, "{}", {digest}), ServerError);

    // The tampered chunks were discarded: a correct upload from the start succeeds, and a
    // missing chunk is not taken for the end.
    ASSERT_TRUE(mirror::putChunk(machine, digest, 1, "second half"));
    try {
        mirror::finishContent(machine, digest, 2);
        FAIL() << "an upload missing its first chunk was finished";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::ContentMissing) << error.what();
    }
    ASSERT_TRUE(mirror::putChunk(machine, digest, 0, "first half|"));
    EXPECT_TRUE(mirror::finishContent(machine, digest, 2));
    EXPECT_TRUE(mirror::hasContent(machine, digest));
}

}  // namespace
}  // namespace tavro::test
