// SPDX-License-Identifier: MIT
// Writing, listing and removing inbox entries in a private App Group container.

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

#include "platform/Error.h"
#include "share/AppGroup.h"
#include "share/InboxTestEnvironment.h"
#include "share/SharedInbox.h"

namespace tavro::share {
namespace {

namespace fs = std::filesystem;

class SharedInboxTest : public testing::InboxTestEnvironment {
  protected:
    static SharedInboxEntry fileEntry(const std::string& name, platform::Timestamp at = 1e9) {
        return SharedInboxEntry(std::nullopt, at, {}, {}, {}, "", {}, name, "public.data");
    }

    std::string entryFolder(const SharedInboxEntry& entry) const {
        return inboxPath() + "/" + entry.id.uppercase();
    }

    static std::set<std::string> namesIn(const std::string& folder) {
        std::set<std::string> names;
        for (const auto& child : fs::directory_iterator(folder)) {
            names.insert(child.path().filename().string());
        }
        return names;
    }
};

// Fails every atomic write of a record, after the payload went through.
class ManifestFailingFileSystem : public platform::FileSystem {
  public:
    void writeFileAtomically(const std::string& path, std::string_view bytes) override {
        if (path.ends_with("/manifest.json"))
            platform::throwFileError(ENOSPC, path, "saved");
        FileSystem::writeFileAtomically(path, bytes);
    }
};

TEST_F(SharedInboxTest, EntryWithoutFileHoldsOnlyItsRecord) {
    SharedInboxEntry entry(std::nullopt, 1e9, "https://example.com", {}, {}, "", {}, {}, {});
    SharedInbox::write(entry, std::string_view("dropped: no file name"), env());
    EXPECT_EQ(namesIn(entryFolder(entry)), std::set<std::string>{"manifest.json"});
    EXPECT_EQ(readFile(entryFolder(entry) + "/manifest.json"), entry.encoded());
}

TEST_F(SharedInboxTest, PayloadNamesAreReducedAndManifestNamesPrefixed) {
    const std::pair<const char*, const char*> cases[] = {
        {"report.pdf", "report.pdf"},
        {"../x/report.pdf", "report.pdf"},
        {"/abs/dir/", "dir"},
        {"manifest.json", "shared-manifest.json"},
        {"a/manifest.json.tmp", "shared-manifest.json.tmp"},
        {"Manifest.json", "Manifest.json"},
        {".hidden", ".hidden"},
    };
    for (const auto& [given, stored] : cases) {
        SharedInboxEntry entry = fileEntry(given);
        SharedInbox::write(entry, std::string_view("bytes of " + std::string(given)), env());
        EXPECT_EQ(namesIn(entryFolder(entry)), (std::set<std::string>{"manifest.json", stored}))
            << given;
        EXPECT_EQ(readFile(entryFolder(entry) + "/" + stored), "bytes of " + std::string(given));
        auto pending = SharedInbox::pendingEntries(env());
        auto it = std::find_if(pending.begin(), pending.end(),
                               [&](const auto& p) { return p.entry.id == entry.id; });
        ASSERT_NE(it, pending.end());
        EXPECT_EQ(*it->entry.fileName, stored);
        EXPECT_EQ(*it->payloadURL, entryFolder(entry) + "/" + stored);
    }
}

TEST_F(SharedInboxTest, RefusedNamesTouchNothingOnDisk) {
    const std::vector<std::string> refused = {
        "", ".", "..", "a\\b.txt", "dir/..", "/", std::string("a\0b", 3)};
    for (const std::string& name : refused) {
        try {
            SharedInbox::write(fileEntry(name), std::string_view("x"), env());
            ADD_FAILURE() << "accepted " << name;
        } catch (const platform::Error& error) {
            EXPECT_EQ(error.value()->domain, "TavroInbox");
            EXPECT_EQ(error.value()->code, 1);
            EXPECT_STREQ(error.what(), "The shared file has an invalid name.");
        }
    }
    EXPECT_FALSE(fs::exists(dataHome()));
}

TEST_F(SharedInboxTest, IllFormedFileNameIsStoredUnderItsRepairedName) {
    SharedInboxEntry entry = fileEntry("caf\xe9.txt");
    SharedInbox::write(entry, std::string_view("x"), env());
    EXPECT_EQ(namesIn(entryFolder(entry)),
              (std::set<std::string>{"manifest.json", "caf\ufffd.txt"}));
    auto pending = SharedInbox::pendingEntries(env());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(readFile(*pending[0].payloadURL), "x");
}

TEST_F(SharedInboxTest, RewritingAnEntryReplacesItInPlace) {
    SharedInboxEntry entry = fileEntry("a.bin");
    SharedInbox::write(entry, std::string_view("first, longer content"), env());
    entry.note = "second";
    SharedInbox::write(entry, std::string_view("second"), env());
    auto pending = SharedInbox::pendingEntries(env());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(*pending[0].entry.note, "second");
    EXPECT_EQ(readFile(*pending[0].payloadURL), "second");
    EXPECT_EQ(namesIn(entryFolder(entry)), (std::set<std::string>{"manifest.json", "a.bin"}));
}

TEST_F(SharedInboxTest, StreamedPayloadIsCopiedWhole) {
    std::string source = dataHome() + "-source.bin";
    std::string bytes(3 * 1024 * 1024 + 17, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 31 % 251);
    writeFile(source, bytes);
    SharedInboxEntry entry = fileEntry("big.bin");
    SharedInbox::writeCopying(entry, source, env());
    EXPECT_EQ(readFile(entryFolder(entry) + "/big.bin"), bytes);
}

TEST_F(SharedInboxTest, WithoutContainerWritingFailsWhileReadingFallsBack) {
    entitleToGroup(false);
    try {
        SharedInbox::write(fileEntry("a.txt"), std::string_view("x"), env());
        ADD_FAILURE() << "wrote without a container";
    } catch (const platform::Error& error) {
        EXPECT_EQ(error.value()->domain, "TavroAppGroup");
        EXPECT_EQ(error.value()->code, 1);
        EXPECT_EQ(error.value()->localizedDescription, AppGroup::kUnavailableMessage);
    }
    EXPECT_FALSE(fs::exists(containerPath()));

    SharedInboxEntry entry = fileEntry("a.txt");
    writeFile(fallbackInboxPath() + "/" + entry.id.uppercase() + "/manifest.json", entry.encoded());
    auto pending = SharedInbox::pendingEntries(env());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(*pending[0].payloadURL, fallbackInboxPath() + "/" + entry.id.uppercase() + "/a.txt");
    SharedInbox::remove(entry.id, env());
    EXPECT_TRUE(SharedInbox::pendingEntries(env()).empty());
    EXPECT_TRUE(fs::exists(fallbackInboxPath()));
}

TEST_F(SharedInboxTest, ReaderSkipsEverythingThatIsNotACompleteEntry) {
    SharedInboxEntry good = fileEntry("ok.txt");
    SharedInbox::write(good, std::string_view("ok"), env());
    writeFile(inboxPath() + "/stray-file", good.encoded());
    fs::create_directories(inboxPath() + "/empty-folder");
    writeFile(inboxPath() + "/malformed/manifest.json", "{\"id\":");
    writeFile(inboxPath() + "/fractional/manifest.json",
              "{\"id\":\"" + platform::Uuid::random().uppercase() +
                  "\",\"createdAt\":\"2016-10-08T22:31:00.5Z\",\"tags\":[]}");
    writeFile(inboxPath() + "/no-tags/manifest.json",
              "{\"id\":\"" + platform::Uuid::random().uppercase() +
                  "\",\"createdAt\":\"2016-10-08T22:31:00Z\"}");
    fs::create_directories(inboxPath() + "/manifest-is-folder/manifest.json");
    // A record pointing outside its folder was not written by any share side.
    writeFile(inboxPath() + "/escaping/manifest.json",
              "{\"id\":\"" + platform::Uuid::random().uppercase() +
                  "\",\"createdAt\":\"2016-10-08T22:31:00Z\",\"tags\":[],"
                  "\"fileName\":\"..\\/..\\/secret\"}");

    auto pending = SharedInbox::pendingEntries(env());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].entry.id, good.id);
}

// Records another program put in the inbox are read only as regular files of bounded size
// inside their own folder: a named pipe, a link to a device or out of the inbox, and an
// oversized record are skipped at once instead of blocking or being read whole.
TEST_F(SharedInboxTest, ReaderSkipsPipesLinksAndOversizedRecordsWithoutReadingThem) {
    SharedInboxEntry good = fileEntry("ok.txt");
    SharedInbox::write(good, std::string_view("ok"), env());
    auto folderOf = [&](const std::string& kind) {
        SharedInboxEntry entry = fileEntry(kind);
        fs::create_directories(entryFolder(entry));
        return entryFolder(entry);
    };
    ASSERT_EQ(mkfifo((folderOf("pipe") + "/manifest.json").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", folderOf("device") + "/manifest.json");
    SharedInboxEntry outside = fileEntry("outside");
    writeFile(dataHome() + "/outside.json", outside.encoded());
    fs::create_symlink(dataHome() + "/outside.json", folderOf("link") + "/manifest.json");
    SharedInboxEntry linkedFolder = fileEntry("linked-folder");
    writeFile(dataHome() + "/elsewhere/manifest.json", linkedFolder.encoded());
    fs::create_symlink(dataHome() + "/elsewhere", entryFolder(linkedFolder));
    SharedInboxEntry huge = fileEntry("huge");
    std::string hugeRecord = huge.encoded();
    hugeRecord.insert(hugeRecord.size() - 1, ",\"x\":\"\"");
    writeFile(entryFolder(huge) + "/manifest.json", hugeRecord);
    ASSERT_EQ(SharedInbox::pendingEntries(env()).size(), 2u);  // a large record is fine
    fs::resize_file(entryFolder(huge) + "/manifest.json", SharedInbox::kMaximumRecordSize + 1);

    auto pending = SharedInbox::pendingEntries(env());
    ASSERT_EQ(pending.size(), 1u);
    EXPECT_EQ(pending[0].entry.id, good.id);
}

TEST_F(SharedInboxTest, FailureAfterThePayloadLeavesNoFolder) {
    ManifestFailingFileSystem failing;
    SharedInboxEntry entry = fileEntry("photo.png");
    EXPECT_THROW(SharedInbox::write(entry, std::string_view("png"), env(), failing),
                 platform::Error);
    EXPECT_FALSE(fs::exists(entryFolder(entry)));
    EXPECT_TRUE(SharedInbox::pendingEntries(env()).empty());
}

// A long name of bytes that are not UTF-8 is repaired into a name the file system takes,
// readable and with its extension; written and listed like any other.
TEST_F(SharedInboxTest, LongIllFormedNameIsSharedUnderAReadableName) {
    SharedInboxEntry entry = fileEntry(std::string(120, '\xe9') + ".png");
    SharedInbox::write(entry, std::string_view("png"), env());
    auto pending = SharedInbox::pendingEntries(env());
    ASSERT_EQ(pending.size(), 1u);
    const std::string& name = *pending[0].entry.fileName;
    EXPECT_LE(name.size(), 255u);
    EXPECT_TRUE(name.starts_with("\ufffd\ufffd") && name.ends_with("\ufffd.png")) << name;
    EXPECT_EQ(readFile(*pending[0].payloadURL), "png");
}

TEST_F(SharedInboxTest, OldestFirstWithEqualTimesInListingOrder) {
    std::vector<SharedInboxEntry> written = {fileEntry("c", 300), fileEntry("a", 100),
                                             fileEntry("b1", 200), fileEntry("b2", 200),
                                             fileEntry("b3", 200)};
    for (const auto& entry : written)
        SharedInbox::write(entry, std::nullopt, env());

    std::vector<std::string> listed;  // the sort's tie order is the folder listing's order
    for (const auto& child : fs::directory_iterator(inboxPath())) {
        for (const auto& entry : written) {
            if (entry.id.uppercase() == child.path().filename() && entry.createdAt == 200) {
                listed.push_back(*entry.fileName);
            }
        }
    }
    std::vector<std::string> expected = {"a"};
    expected.insert(expected.end(), listed.begin(), listed.end());
    expected.push_back("c");

    std::vector<std::string> order;
    for (const auto& pending : SharedInbox::pendingEntries(env())) {
        order.push_back(*pending.entry.fileName);
    }
    EXPECT_EQ(order, expected);
}

TEST_F(SharedInboxTest, RemovalDeletesTheFolderAndIgnoresMissingOnes) {
    SharedInboxEntry entry = fileEntry("a.txt");
    SharedInbox::write(entry, std::string_view("x"), env());
    SharedInbox::remove(platform::Uuid::random(), env());
    EXPECT_EQ(SharedInbox::pendingEntries(env()).size(), 1u);
    SharedInbox::remove(entry.id, env());
    EXPECT_FALSE(fs::exists(entryFolder(entry)));
    SharedInbox::remove(entry.id, env());
    EXPECT_TRUE(SharedInbox::pendingEntries(env()).empty());
}

// Two writers keep rewriting one entry while a reader lists the inbox: every listing finds the
// entry whole, in one of the versions written, never a torn record.
TEST_F(SharedInboxTest, ReaderNeverSeesAHalfWrittenRecord) {
    SharedInboxEntry base = fileEntry("shared.txt");
    std::vector<std::string> versions;
    for (int v = 0; v < 4; ++v)
        versions.push_back(std::string(20000 + v * 7000, 'a' + v));
    base.note = versions[0];
    SharedInbox::write(base, std::string_view(versions[0]), env());

    std::atomic<int> writersDone{0};
    auto writer = [&](int first) {
        SharedInboxEntry entry = base;
        for (int i = 0; i < 150; ++i) {
            const std::string& version = versions[static_cast<size_t>((first + i) % 4)];
            entry.note = version;
            SharedInbox::write(entry, std::string_view(version), env());
        }
        ++writersDone;
    };
    std::thread one(writer, 1), two(writer, 2);

    int listings = 0;
    bool torn = false;
    while (!torn && (writersDone.load() < 2 || listings < 10)) {
        auto pending = SharedInbox::pendingEntries(env());
        ++listings;
        torn = pending.size() != 1 || std::find(versions.begin(), versions.end(),
                                                *pending[0].entry.note) == versions.end();
    }
    one.join();
    two.join();
    EXPECT_FALSE(torn);
    EXPECT_EQ(namesIn(entryFolder(base)), (std::set<std::string>{"manifest.json", "shared.txt"}));
}

}  // namespace
}  // namespace tavro::share
