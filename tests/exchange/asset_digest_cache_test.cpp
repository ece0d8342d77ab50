// SPDX-License-Identifier: MIT
// The digest cache only ever answers for a file that cannot have changed since it was hashed.

#include <gtest/gtest.h>

#include "exchange/AssetDigestCache.h"

namespace tavro::exchange {
namespace {

struct stat fileStatus(long changed, off_t size = 10, ino_t inode = 7) {
    struct stat status {};
    status.st_mode = S_IFREG | 0644;
    status.st_dev = 1;
    status.st_ino = inode;
    status.st_size = size;
    status.st_mtim = {changed, 5};
    status.st_ctim = {changed, 5};
    return status;
}

TEST(AssetDigestCacheTest, RemembersSettledFilesAndForgetsThemWhenTheyChange) {
    AssetDigestCache cache;
    auto settled = fileStatus(1000);
    cache.remember("/x/a", settled, settled, 1003.0, {"digest-a", 10});
    ASSERT_TRUE(cache.find("/x/a", settled));
    EXPECT_EQ(cache.find("/x/a", settled)->sha256, "digest-a");

    EXPECT_FALSE(cache.find("/x/a", fileStatus(1004)));         // written since
    EXPECT_FALSE(cache.find("/x/a", fileStatus(1000, 11)));     // another size
    EXPECT_FALSE(cache.find("/x/a", fileStatus(1000, 10, 8)));  // replaced by another file
    EXPECT_FALSE(cache.find("/x/b", settled));
}

TEST(AssetDigestCacheTest, IgnoresFilesThatWereRecentOrChangedWhileRead) {
    AssetDigestCache cache;
    auto recent = fileStatus(1000);
    cache.remember("/x/recent", recent, recent, 1001.0, {"d", 10});
    EXPECT_FALSE(cache.find("/x/recent", recent));

    auto before = fileStatus(1000);
    cache.remember("/x/moving", before, fileStatus(1005), 1010.0, {"d", 10});
    EXPECT_FALSE(cache.find("/x/moving", before));

    // A stale entry is dropped when the same path is hashed again unsettled.
    cache.remember("/x/a", before, before, 1010.0, {"old", 10});
    cache.remember("/x/a", fileStatus(2000), fileStatus(2000), 2000.5, {"new", 10});
    EXPECT_FALSE(cache.find("/x/a", before));
    EXPECT_FALSE(cache.find("/x/a", fileStatus(2000)));
}

}  // namespace
}  // namespace tavro::exchange
