// SPDX-License-Identifier: MIT
// What the host reads when an exchange fails: running out of memory is named as such wherever
// it surfaced, and other failures keep their own sentence.

#include "bridge/ErrorEnvelope.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <new>
#include <stdexcept>

#include "store/Sqlite.h"

namespace tavro::bridge {
namespace {

const std::string kOutOfMemory =
    R"({"version":1,"error":"There isn’t enough memory to complete the exchange."})";

TEST(ErrorEnvelope, LackOfMemoryIsNamedWhereverItSurfaced) {
    EXPECT_EQ(errorEnvelope(std::bad_alloc()), kOutOfMemory);
    EXPECT_EQ(errorEnvelope(std::bad_array_new_length()), kOutOfMemory);
    // SQLite's own "out of memory", plain or while doing I/O.
    for (int code : {SQLITE_NOMEM, SQLITE_IOERR_NOMEM}) {
        platform::Error error(platform::makeError(store::sqlite::kErrorDomain, code,
                                                  "The library store could not be used: out "
                                                  "of memory."));
        EXPECT_EQ(errorEnvelope(error), kOutOfMemory) << code;
    }
    // The envelope written in advance is the same text.
    EXPECT_EQ(kOutOfMemoryEnvelope, kOutOfMemory);
}

TEST(ErrorEnvelope, OtherFailuresKeepTheirOwnSentence) {
    platform::Error locked(platform::makeError(store::sqlite::kErrorDomain, SQLITE_BUSY,
                                               "The library store is busy."));
    EXPECT_EQ(errorEnvelope(locked), R"({"version":1,"error":"The library store is busy."})");
    EXPECT_EQ(errorEnvelope(std::runtime_error("Something \"odd\" happened.")),
              R"({"version":1,"error":"Something \"odd\" happened."})");
}

}  // namespace
}  // namespace tavro::bridge
