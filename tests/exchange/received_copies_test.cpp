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

constexpr size_t kBatch = ReceivedCopies::kBatch;

class ReceivedCopiesTest : public ::testing::Test {
  protected:
    ReceivedCopiesTest()
        : source_(dir_.write("source.bin", "bytes")),
          folder_(platform::FileSystem::real().openSubfolder(dir_.path(), "received")) {}

    void addCopies(ReceivedCopies& copies, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            copies.add({source_, "f" + std::to_string(i), {}});
        }
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

TEST_F(ReceivedCopiesTest, EveryFileLandsWholeWhateverTheBatches) {
    for (size_t count : {size_t{0}, size_t{3}, 2 * kBatch + 5}) {
        fs::remove_all(dir_.file("received"));
        fs::create_directory(dir_.file("received"));
        platform::OpenFolder folder =
            platform::FileSystem::real().openSubfolder(dir_.path(), "received");
        ReceivedCopies copies(platform::FileSystem::real(), folder);
        addCopies(copies, count);
        copies.finish();
        EXPECT_EQ(wholeFiles(), count);
    }
}

// A batch that fails stops the writing: no batch begins once the failure is known, and nothing
// half written is left under any name. The second batch begun fails before it writes anything,
// so its failure is known at once: at most the batch under way beside it may still end. (A
// failure in a batch's renames is known only once its temporary files are removed, and how
// many batches the other thread writes meanwhile depends on the machine's load.)
TEST_F(ReceivedCopiesTest, AFailureStopsTheWritingAndIsThrownAtTheEnd) {
    FaultyFileSystem faulty;
    faulty.failNth(FaultyFileSystem::Operation::Copy, kBatch + 3, ENOSPC);
    ReceivedCopies copies(faulty, folder_);
    addCopies(copies, 7 * kBatch + 1);
    EXPECT_THROW(copies.finish(), platform::Error);
    const size_t written = wholeFiles();
    EXPECT_GE(written, kBatch);
    EXPECT_LE(written, 2 * kBatch);
}

// An exchange that fails while writing its records leaves without finishing: the writing
// stops after the batch under way, and no temporary file stays.
TEST_F(ReceivedCopiesTest, LeftUnfinishedItStopsAndLeavesOnlyWholeFiles) {
    {
        ReceivedCopies copies(platform::FileSystem::real(), folder_);
        addCopies(copies, 3 * kBatch);
    }
    EXPECT_LE(wholeFiles(), 3 * kBatch);
}

}  // namespace
}  // namespace tavro::exchange
