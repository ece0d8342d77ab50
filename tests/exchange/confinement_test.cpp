// SPDX-License-Identifier: MIT
// What an exchange reads and writes stays where it must: asset files only from inside the
// exchange directory and only regular ones, paths of any length refused or resolved without
// working through them at length, the library's own files private to the user, and received
// files only inside the exchange directory's own "received" folder.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "exchange/AccountGuard.h"
#include "exchange/Asset.h"
#include "platform/BridgeError.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "store/BlobStore.h"
#include "support/ExchangeFixture.h"

namespace tavro::test {
namespace {

namespace fs = std::filesystem;
namespace json = platform::json;

const std::string T1 = "30000000-0000-0000-0000-000000000001";
const std::string T2 = "30000000-0000-0000-0000-000000000002";

platform::FileSystem& real() {
    return platform::FileSystem::real();
}

unsigned modeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

std::string errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const platform::Error& error) {
        return error.what();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

// The process's umask for one test; the library itself never changes it.
class ScopedUmask {
  public:
    explicit ScopedUmask(mode_t mask) : previous_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(previous_); }

  private:
    mode_t previous_;
};

class ConfinementTest : public ExchangeFixture {
  protected:
    std::string received() const { return directory_ + "/received"; }
    std::string outside(const std::string& name, const std::string& bytes) {
        std::string path = temp_.file(name);
        real().writeFileAtomically(path, bytes);
        return path;
    }
};

// ---- Links: the file read is the file checked --------------------------------------------

TEST_F(ConfinementTest, TheSavedCopyIsOfTheFileCheckedEvenIfItsNameLaterLeadsOutside) {
    std::string asset = writeAsset("photo.png", "inside bytes");
    std::string secret = outside("secret", "outside bytes");
    exchange::AssetReader reader(real(), directory_);
    json::Parser parser;
    std::string record = json::write(json::Object{{"data", asset}});
    auto content = reader.read(json::Fields(*json::asObject(parser.parse(record))), "data");
    ASSERT_TRUE(content);

    // Between the check and the save, the name is made a link to a file outside.
    fs::remove(asset);
    fs::create_symlink(secret, asset);
    store::BlobStore blobs(temp_.file("blobs"), real());
    real().createDirectories(blobs.folder());
    blobs.ensure(*content);
    EXPECT_EQ(real().readFile(blobs.path(content->sha256)), "inside bytes");
    EXPECT_EQ(content->sha256, platform::sha256Hex("inside bytes"));
}

TEST_F(ConfinementTest, LinksAreJudgedByWhereTheyLand) {
    std::string inside = writeAsset("files/a.bin", "a");
    fs::create_symlink(inside, directory_ + "/near");               // inside to inside
    fs::create_symlink(inside, temp_.file("door"));                 // outside to inside
    fs::create_symlink(outside("far", "x"), directory_ + "/leak");  // inside to outside
    fs::create_symlink("/dev/zero", directory_ + "/zero");          // inside to a device outside
    // A folder on the way that is a link out, and a way out and back in through "..".
    fs::create_directory(temp_.file("elsewhere"));
    outside("elsewhere/b.bin", "b");
    fs::create_directory_symlink(temp_.file("elsewhere"), directory_ + "/hall");
    const std::string around = "/files/../../" + fs::path(directory_).filename().string();

    auto response = exchange({thing(T1, {{"data", directory_ + "/near"}}),
                              thing(T2, {{"data", directory_ + around + "/files/a.bin"}})});
    EXPECT_TRUE(has(*response->record(T1), "data"));
    EXPECT_TRUE(has(*response->record(T2), "data"));
    response = exchange({thing(T2, {{"data", temp_.file("door")}})});
    EXPECT_TRUE(has(*response->record(T2), "data"));
    for (const char* name : {"/leak", "/zero", "/hall/b.bin"}) {
        EXPECT_EQ(exchangeError({thing(T1, {{"data", directory_ + name}})}),
                  platform::message::kInvalidAssetPath)
            << name;
    }
}

// ---- Special files: only regular files are read, and opening never blocks -------------------

TEST_F(ConfinementTest, ANamedPipeOrDeviceInsideIsRefusedByName) {
    ASSERT_EQ(::mkfifo((directory_ + "/pipe").c_str(), 0600), 0);
    std::string error = exchangeError({thing(T1, {{"data", directory_ + "/pipe"}})});
    EXPECT_NE(error.find("\u201cpipe\u201d"), std::string::npos) << error;
    EXPECT_NE(error.find("isn\u2019t a regular file"), std::string::npos) << error;
    // The failed exchange left the store working for the next one.
    std::string data = writeAsset("d.bin", "bytes");
    EXPECT_TRUE(has(*exchange({thing(T1, {{"data", data}})})->record(T1), "data"));
}

class AccountMarkerTest : public ConfinementTest {
  protected:
    std::string marker() const {
        return platform::paths::join(platform::paths::parent(storePath_),
                                     exchange::kAccountMarkerName);
    }
    std::string guardError() {
        return errorOf([&] { exchange::guardAccount("_user", storePath_, real()); });
    }
};

TEST_F(AccountMarkerTest, AMarkerThatIsNoRegularFileIsAnErrorNotAHang) {
    ASSERT_EQ(::mkfifo(marker().c_str(), 0600), 0);
    EXPECT_NE(guardError().find("isn\u2019t a regular file"), std::string::npos);
    fs::remove(marker());
    fs::create_symlink("/dev/zero", marker());
    EXPECT_NE(guardError().find("isn\u2019t a regular file"), std::string::npos);
}

TEST_F(AccountMarkerTest, AMarkerTooLargeForARecordNameIsRefused) {
    real().writeFileAtomically(marker(), std::string(64 * 1024, 'u'));
    EXPECT_NE(guardError().find("another iCloud account"), std::string::npos);  // read whole
    real().writeFileAtomically(marker(), std::string(64 * 1024 + 1, 'u'));
    std::string error = guardError();
    EXPECT_NE(error.find("\u201cZuvirevaCloudAccount\u201d is too large"), std::string::npos)
        << error;
}

// ---- Long paths: refused when no system call could take them, else resolved in one pass -----

std::string manyComponents(size_t count) {
    std::string path;
    for (size_t i = 0; i < count; ++i) {
        path += "/a";
    }
    return path;
}

TEST_F(ConfinementTest, APathLongerThanTheSystemTakesIsRefusedWithItsCause) {
    std::string error =
        exchangeError({thing(T1, {{"data", directory_ + manyComponents(8000) + "/x.bin"}})});
    EXPECT_NE(error.find("longer than"), std::string::npos) << error;
}

TEST_F(ConfinementTest, AMissingPathOfManyComponentsInsideIsTheFileSystemsError) {
    // The longest a path may be, nearly all of it missing: found missing, not worked through.
    size_t count = (PATH_MAX - directory_.size() - 16) / 2;
    std::string error =
        exchangeError({thing(T1, {{"data", directory_ + manyComponents(count) + "/x.bin"}})});
    EXPECT_NE(error.find("no such file"), std::string::npos) << error;
    EXPECT_EQ(exchangeError({thing(T1, {{"data", temp_.path() + manyComponents(count)}})}),
              platform::message::kInvalidAssetPath);  // outside: nothing said of what is there
}

// ---- Privacy: what the library creates is the user's alone; the host's follow its umask -----

TEST_F(ConfinementTest, TheLibrarysFoldersAndFilesArePrivateWhateverTheUmask) {
    for (mode_t mask : {mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        ScopedUmask umask(mask);
        storePath_ = temp_.file("container" + std::to_string(mask) + "/Library/Tavro.store");
        store_ = store::Store::open(storePath_);
        exchange::guardAccount("_user", storePath_, real());
        std::string library = platform::paths::parent(storePath_);
        std::string data = writeAsset("d" + std::to_string(mask), "bytes " + std::to_string(mask));
        exchange({thing(T1, {{"data", data}})});

        EXPECT_EQ(modeOf(platform::paths::parent(library)), 0700u);
        EXPECT_EQ(modeOf(library), 0700u);
        EXPECT_EQ(modeOf(library + "/" + exchange::kAccountMarkerName), 0600u);
        EXPECT_EQ(modeOf(storePath_ + "-blobs"), 0700u);
        for (const auto& blob : fs::directory_iterator(storePath_ + "-blobs")) {
            EXPECT_EQ(modeOf(blob.path().string()), 0600u) << blob.path();
        }
    }
}

TEST_F(ConfinementTest, ReceivedFilesFollowTheHostsUmask) {
    ScopedUmask umask(022);
    directory_ = temp_.file("host/exchange");  // missing: the exchange creates it
    exchange({});
    EXPECT_EQ(modeOf(temp_.file("host")), 0755u);
    EXPECT_EQ(modeOf(directory_), 0755u);
    EXPECT_EQ(modeOf(received()), 0755u);

    std::string asset = writeAsset("d.bin", "bytes");
    exchange({thing(T1, {{"data", asset}})});
    EXPECT_EQ(modeOf(received() + "/" + T1 + ".data"), 0644u);
}

// ---- Received: files land only inside the exchange directory's own folder -------------------

TEST_F(ConfinementTest, AReceivedLinkIsRefusedAndNothingIsWrittenWhereItLeads) {
    std::string data = writeAsset("d.bin", "bytes");
    fs::create_directories(temp_.file("elsewhere"));
    fs::create_symlink(temp_.file("elsewhere"), received());
    std::string error = exchangeError({thing(T1, {{"data", data}})});
    EXPECT_NE(
        error.find("\u201creceived\u201d in the folder \u201cexchange\u201d is a symbolic link"),
        std::string::npos)
        << error;
    EXPECT_TRUE(fs::is_empty(temp_.file("elsewhere")));
}

TEST_F(ConfinementTest, AReceivedFileIsNamedAsTheCause) {
    real().writeFileAtomically(received(), "not a folder");
    const std::string cause =
        "\u201creceived\u201d in the folder \u201cexchange\u201d is a file, not a folder.";
    EXPECT_EQ(exchangeError({}), cause);
    // A thing with a new file changes nothing of it: the save comes first and stays.
    EXPECT_EQ(exchangeError({thing(T1, {{"data", writeAsset("d.bin", "bytes")}})}), cause);
    fs::remove(received());
    EXPECT_TRUE(exchange({})->record(T1));
}

TEST_F(ConfinementTest, OnlyOurOwnLeftoverTemporariesAreRemoved) {
    fs::create_directories(received());
    std::string prefix(platform::kTemporaryFilePrefix);
    std::string leftover = received() + "/" + prefix + "0123.x.data";
    real().writeFileAtomically(leftover, "half");
    std::string hostsOwn[] = {received() + "/.hidden.tmp", received() + "/" + T2 + ".data"};
    for (const auto& path : hostsOwn) {
        real().writeFileAtomically(path, "host");
    }
    // A link bearing our prefix is not one of our files, nor is what it leads to.
    std::string kept = outside("kept", "outside");
    fs::create_symlink(kept, received() + "/" + prefix + "link");

    exchange({});
    EXPECT_FALSE(fs::exists(leftover));
    for (const auto& path : hostsOwn) {
        EXPECT_TRUE(fs::exists(path)) << path;
    }
    EXPECT_TRUE(fs::is_symlink(received() + "/" + prefix + "link"));
    EXPECT_TRUE(fs::exists(kept));
}

}  // namespace
}  // namespace tavro::test
