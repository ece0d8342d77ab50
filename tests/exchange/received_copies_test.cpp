// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <filesystem>

#include "exchange/ReceivedCopies.h"
#include "platform/Error.h"
#include "support/FaultyFileSystem.h"
#include "support/TempDir.h"

namespace tavro::exchange {
namespace {

namespace fs = std::filesystem;
using test::FaultyFileSystem;

using Copies = std::vector<platform::FileSystem::FileCopy>;

class ReceivedCopiesTest : public ::testing::Test {
  protected:
    ReceivedCopiesTest()
        : source_(dir_.write("source.bin", "bytes")),
          folder_(platform::FileSystem::real().openSubfolder(dir_.path(), "received")) {}

    Copies copies(size_t count) const {
        Copies copies;
        for (size_t i = 0; i < count; ++i) {
            copies.push_back({source_, "f" + std::to_string(i), {}});
        }
        return copies;
    }

    // The files in the folder, each checked to be a whole copy under its final name.
    size_t wholeFiles() {
        size_t count = 0;
        for (const auto& entry : fs::directory_iterator(dir_.file("received"))) {
            EXPECT_EQ(entry.path().filename().string().rfind('f', 0), 0u) << entry.path();
            EXPECT_EQ(platform::FileSystem::real().readFile(entry.path().string()), "bytes");
            ++count;
        }
        return count;
    }

    test::TempDir dir_;
    std::string source_;
    platform::OpenFolder folder_;
};

TEST_F(ReceivedCopiesTest, EveryFileLandsWholeWhateverTheirNumber) {
    for (size_t count : {size_t{0}, size_t{3}, 2 * kSharedFrom + 5}) {
        fs::remove_all(dir_.file("received"));
        platform::OpenFolder folder =
            platform::FileSystem::real().openSubfolder(dir_.path(), "received");
        writeReceivedCopies(platform::FileSystem::real(), folder, copies(count));
        EXPECT_EQ(wholeFiles(), count);
    }
}

// Each thread's share lands whole or not at all: the one that fails leaves nothing, not even a
// temporary file, the other lands, and the failure is thrown once both have ended.
TEST_F(ReceivedCopiesTest, AFailedShareLeavesNothingAndIsThrownAtTheEnd) {
    const size_t count = 2 * kSharedFrom + 1;
    FaultyFileSystem faulty;
    faulty.failNth(FaultyFileSystem::Operation::Copy, kSharedFrom / 2, ENOSPC);
    EXPECT_THROW(writeReceivedCopies(faulty, folder_, copies(count)), platform::Error);
    const size_t written = wholeFiles();
    EXPECT_TRUE(written == count / 2 || written == count - count / 2) << written;
}

}  // namespace
}  // namespace tavro::exchange
