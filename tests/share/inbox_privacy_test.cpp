// SPDX-License-Identifier: MIT
// What the share target creates in the App Group container (or in its fallback folder) is the
// user's alone, whatever the process's umask: folders 0700, files 0600.

#include <sys/stat.h>

#include "share/AppGroup.h"
#include "share/InboxTestEnvironment.h"
#include "share/SharedInbox.h"

namespace tavro::share {
namespace {

unsigned modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

class InboxPrivacyTest : public testing::InboxTestEnvironment {
  protected:
    void SetUp() override {
        InboxTestEnvironment::SetUp();
        previous_ = ::umask(022);
    }
    void TearDown() override {
        ::umask(previous_);
        InboxTestEnvironment::TearDown();
    }

  private:
    mode_t previous_ = 0;
};

TEST_F(InboxPrivacyTest, ContainerInboxEntryPayloadAndManifestArePrivate) {
    SharedInboxEntry entry(std::nullopt, 1e9, {}, {}, {}, "", {}, "note.txt", "public.data");
    SharedInbox::write(entry, std::string_view("shared words"), env());
    std::string folder = inboxPath() + "/" + entry.id.uppercase();
    for (const std::string& path :
         {dataHome() + "/group-containers", containerPath(), inboxPath(), folder}) {
        EXPECT_EQ(modeOf(path), 0700u) << path;
    }
    EXPECT_EQ(modeOf(folder + "/note.txt"), 0600u);
    EXPECT_EQ(modeOf(folder + "/manifest.json"), 0600u);

    std::string copied = dataHome() + "/source.bin";
    writeFile(copied, "bytes");
    SharedInboxEntry second(std::nullopt, 2e9, {}, {}, {}, "", {}, "copy.bin", "public.data");
    SharedInbox::writeCopying(second, copied, env());
    EXPECT_EQ(modeOf(inboxPath() + "/" + second.id.uppercase() + "/copy.bin"), 0600u);
}

TEST_F(InboxPrivacyTest, TheFallbackFolderIsPrivate) {
    entitleToGroup(false);
    ASSERT_TRUE(SharedInbox::directory(env()));
    EXPECT_EQ(modeOf(dataHome() + "/tavro"), 0700u);
    EXPECT_EQ(modeOf(fallbackInboxPath()), 0700u);
}

}  // namespace
}  // namespace tavro::share
