// SPDX-License-Identifier: MIT
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "platform/Error.h"
#include "platform/Sha256.h"
#include "support/FaultyFileSystem.h"
#include "support/TempDir.h"

namespace tavro::platform {
namespace {

using test::FaultyFileSystem;
using Op = FaultyFileSystem::Operation;

std::vector<std::string> entries(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ErrorRef errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.value();
    }
    ADD_FAILURE() << "no error thrown";
    return makeError("none", 0, "");
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131) % 251);
    }
    return bytes;
}

class FileSystemTest : public ::testing::Test {
  protected:
    test::TempDir dir_;
    FileSystem& fs_ = FileSystem::real();
};

TEST_F(FileSystemTest, WriteThenReadWholeAndInChunks) {
    const std::string bytes = pattern(3 * 65536 + 17);
    const std::string path = dir_.file("data.bin");
    fs_.writeFileAtomically(path, bytes);
    EXPECT_EQ(fs_.readFile(path), bytes);
    EXPECT_EQ(fs_.fileSize(path), bytes.size());

    std::vector<size_t> sizes;
    std::string joined;
    fs_.readChunks(path, [&](std::string_view chunk) {
        sizes.push_back(chunk.size());
        joined.append(chunk);
    });
    EXPECT_EQ(joined, bytes);
    EXPECT_EQ(sizes.size(), 4u);
    EXPECT_EQ(sizes.front(), 65536u);

    fs_.writeFileAtomically(path, "");
    EXPECT_EQ(fs_.readFile(path), "");
    EXPECT_EQ(entries(dir_.path()), std::vector<std::string>{"data.bin"});
}

TEST_F(FileSystemTest, LongestAllowedNameCanBeWrittenAndCopied) {
    const std::string name(255, 'n');
    fs_.writeFileAtomically(dir_.file(name), "long");
    fs_.copyFileAtomically(dir_.file(name), dir_.file(std::string(254, 'c')));
    EXPECT_EQ(fs_.readFile(dir_.file(std::string(254, 'c'))), "long");
    EXPECT_EQ(entries(dir_.path()).size(), 2u);
}

TEST_F(FileSystemTest, ReadingAFolderOrMissingFileIsAnError) {
    const ErrorRef folder = errorOf([&] { fs_.readFile(dir_.path()); });
    EXPECT_EQ(folder->domain, kCocoaErrorDomain);
    EXPECT_EQ(folder->code, 256);
    EXPECT_NE(folder->debugDescription.find(std::to_string(EISDIR)), std::string::npos);

    const ErrorRef missing = errorOf([&] { fs_.readChunks(dir_.file("nope.png"), nullptr); });
    EXPECT_EQ(missing->code, 260);
    EXPECT_EQ(missing->description(),
              "The file \u201cnope.png\u201d couldn\u2019t be opened because there is no such "
              "file.");
    EXPECT_THROW(fs_.fileSize(dir_.file("nope.png")), Error);
}

TEST_F(FileSystemTest, WriteIntoAMissingFolderFailsCleanly) {
    const ErrorRef error = errorOf([&] { fs_.writeFileAtomically(dir_.file("no/x.json"), "{}"); });
    EXPECT_EQ(error->code, 4);
    EXPECT_TRUE(entries(dir_.path()).empty());
}

TEST_F(FileSystemTest, CreateDirectoriesMakesParentsAndAcceptsExisting) {
    const std::string deep = dir_.file("a/b/c");
    fs_.createDirectories(deep);
    fs_.createDirectories(deep);
    EXPECT_TRUE(fs_.isDirectory(deep));
    fs_.writeFileAtomically(dir_.file("a/file"), "x");
    EXPECT_TRUE(fs_.exists(dir_.file("a/file")));
    EXPECT_FALSE(fs_.isDirectory(dir_.file("a/file")));
    // A file in the way is an error, not a silent success.
    EXPECT_THROW(fs_.createDirectories(dir_.file("a/file/sub")), Error);
    EXPECT_THROW(fs_.createDirectories(dir_.file("a/file")), Error);
}

TEST_F(FileSystemTest, RenameAndRemoveAll) {
    fs_.createDirectories(dir_.file("tree/sub"));
    fs_.writeFileAtomically(dir_.file("tree/sub/f"), "1");
    fs_.rename(dir_.file("tree"), dir_.file("moved"));
    EXPECT_EQ(fs_.readFile(dir_.file("moved/sub/f")), "1");
    EXPECT_THROW(fs_.rename(dir_.file("tree"), dir_.file("again")), Error);

    fs_.removeAll(dir_.file("moved"));
    EXPECT_FALSE(fs_.exists(dir_.file("moved")));
    EXPECT_NO_THROW(fs_.removeAll(dir_.file("moved")));
}

TEST_F(FileSystemTest, CopyStreamsAndChecksTheDigest) {
    const std::string bytes = pattern(200000);
    const std::string source = dir_.file("source");
    fs_.writeFileAtomically(source, bytes);

    fs_.copyFileAtomically(source, dir_.file("plain"));
    EXPECT_EQ(fs_.readFile(dir_.file("plain")), bytes);

    fs_.copyFileAtomically(source, dir_.file("checked"), sha256Hex(bytes));
    EXPECT_EQ(fs_.readFile(dir_.file("checked")), bytes);

    fs_.copyFileAtomically(dir_.file("plain"), dir_.file("checked"));  // replaces
    EXPECT_EQ(fs_.readFile(dir_.file("checked")), bytes);
}

TEST_F(FileSystemTest, CopyOfAPseudoFileKeepsItsContent) {
    // Files of pseudo file systems offer nothing to in-kernel copying, though they read fine.
    fs_.copyFileAtomically("/proc/version", dir_.file("version"));
    const std::string copied = fs_.readFile(dir_.file("version"));
    EXPECT_FALSE(copied.empty());
    EXPECT_EQ(copied, fs_.readFile("/proc/version"));
}

TEST_F(FileSystemTest, CopyWithAWrongDigestLeavesNothing) {
    const std::string source = dir_.file("source");
    fs_.writeFileAtomically(source, "changed since hashed");
    const ErrorRef error = errorOf(
        [&] { fs_.copyFileAtomically(source, dir_.file("target"), sha256Hex("original")); });
    EXPECT_EQ(error->domain, kCocoaErrorDomain);
    EXPECT_EQ(entries(dir_.path()), std::vector<std::string>{"source"});

    // An existing target keeps its old content.
    fs_.writeFileAtomically(dir_.file("target"), "old");
    EXPECT_THROW(fs_.copyFileAtomically(source, dir_.file("target"), sha256Hex("x")), Error);
    EXPECT_EQ(fs_.readFile(dir_.file("target")), "old");
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"source", "target"}));
}

TEST_F(FileSystemTest, CopyOfAMissingOrFolderSourceFails) {
    EXPECT_THROW(fs_.copyFileAtomically(dir_.file("none"), dir_.file("t")), Error);
    fs_.createDirectories(dir_.file("folder"));
    EXPECT_THROW(fs_.copyFileAtomically(dir_.file("folder"), dir_.file("t")), Error);
    EXPECT_EQ(entries(dir_.path()), std::vector<std::string>{"folder"});
}

TEST_F(FileSystemTest, Sha256OfAFileStreams) {
    const std::string bytes = pattern(150000);
    fs_.writeFileAtomically(dir_.file("f"), bytes);
    EXPECT_EQ(sha256HexOfFile(dir_.file("f")), sha256Hex(bytes));
    EXPECT_THROW(sha256HexOfFile(dir_.file("missing")), Error);
}

// ---- Atomicity under injected faults ----------------------------------------------------

TEST_F(FileSystemTest, BatchCopyPlacesEveryFileOrNoneNotYetRenamed) {
    fs_.createDirectories(dir_.file("in"));
    fs_.createDirectories(dir_.file("out"));
    fs_.writeFileAtomically(dir_.file("in/a"), "alpha");
    fs_.writeFileAtomically(dir_.file("in/b"), pattern(200000));
    fs_.writeFileAtomically(dir_.file("out/b"), "old b");
    fs_.copyFilesAtomically({{dir_.file("in/a"), dir_.file("out/a"), sha256Hex("alpha")},
                             {dir_.file("in/b"), dir_.file("out/b"), ""}});
    EXPECT_EQ(entries(dir_.file("out")), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(fs_.readFile(dir_.file("out/b")), pattern(200000));

    // A source that fails (here: a wrong digest) stops the batch before any rename.
    fs_.writeFileAtomically(dir_.file("in/c"), "gamma");
    errorOf([&] {
        fs_.copyFilesAtomically({{dir_.file("in/c"), dir_.file("out/c"), ""},
                                 {dir_.file("in/a"), dir_.file("out/d"), sha256Hex("other")}});
    });
    EXPECT_EQ(entries(dir_.file("out")), (std::vector<std::string>{"a", "b"}));

    // A failed second rename keeps the first file and leaves no temporary behind.
    FaultyFileSystem faulty;
    faulty.failNth(Op::Rename, 2, ENOSPC);
    errorOf([&] {
        faulty.copyFilesAtomically({{dir_.file("in/c"), dir_.file("out/c"), ""},
                                    {dir_.file("in/a"), dir_.file("out/e"), ""}});
    });
    EXPECT_EQ(entries(dir_.file("out")), (std::vector<std::string>{"a", "b", "c"}));
}

// Batches of several megabytes have their file system flushed behind them as they are
// written. Those flushes change nothing of what lands: every file whole, or after a failure
// none of the batch's files and no temporary (the failing file comes after a flush began).
TEST_F(FileSystemTest, ALargeBatchLandsWholeOrNotAtAllWhileFlushedBehindIt) {
    fs_.createDirectories(dir_.file("in"));
    fs_.createDirectories(dir_.file("store"));
    std::vector<FileSystem::FileCopy> atomically, into, failing;
    for (int i = 0; i < 12; ++i) {
        const std::string name = std::to_string(i);
        const std::string bytes = pattern(1 << 20) + name;
        fs_.writeFileAtomically(dir_.file("in/" + name), bytes);
        atomically.push_back(
            {dir_.file("in/" + name), dir_.file("store/" + name), sha256Hex(bytes)});
        into.push_back({dir_.file("in/" + name), name, ""});
        failing.push_back({dir_.file("in/" + name), "failed-" + name, i == 11 ? "0" : ""});
    }
    fs_.copyFilesAtomically(atomically);
    OpenFolder received = fs_.openSubfolder(dir_.path(), "received");
    fs_.copyFilesInto(received, into);
    errorOf([&] { fs_.copyFilesInto(received, failing); });

    EXPECT_EQ(entries(dir_.file("store")).size(), 12u);
    EXPECT_EQ(entries(dir_.file("received")).size(), 12u);  // nothing of the failed batch
    for (int i = 0; i < 12; i += 11) {
        const std::string name = std::to_string(i);
        EXPECT_EQ(sha256Hex(fs_.readFile(dir_.file("store/" + name))),
                  atomically[i].expectedSha256);
        EXPECT_EQ(fs_.readFile(dir_.file("received/" + name)),
                  fs_.readFile(dir_.file("in/" + name)));
    }
}

// Copies prepared ahead stay out of sight until placed: only those asked for by name take their
// final names (replacing what was there), the rest are handed back to be written, and whatever
// is never placed leaves nothing behind.
TEST_F(FileSystemTest, PreparedCopiesAppearOnlyWhenPlaced) {
    fs_.writeFileAtomically(dir_.file("a"), "alpha");
    fs_.writeFileAtomically(dir_.file("b"), "beta");
    OpenFolder received = fs_.openSubfolder(dir_.path(), "received");
    fs_.writeFileAtomically(dir_.file("received/x.data"), "old");
    {
        PreparedCopies prepared =
            fs_.prepareCopiesInto(received, {{dir_.file("a"), "x.data", sha256Hex("alpha")},
                                             {dir_.file("b"), "y.data", sha256Hex("beta")}});
        EXPECT_EQ(prepared.size(), 2u);
        EXPECT_EQ(fs_.readFile(dir_.file("received/x.data")), "old");
        EXPECT_FALSE(std::filesystem::exists(dir_.file("received/y.data")));

        const auto unwritten = fs_.placePreparedCopies(
            received, prepared, {{"blob-a", "x.data", ""}, {"blob-z", "z.data", ""}});
        ASSERT_EQ(unwritten.size(), 1u);
        EXPECT_EQ(unwritten[0].to, "z.data");
        EXPECT_EQ(fs_.readFile(dir_.file("received/x.data")), "alpha");
    }
    EXPECT_EQ(entries(dir_.file("received")), std::vector<std::string>{"x.data"});

    // A source that no longer has its digest fails the preparation and keeps nothing of it.
    errorOf([&] {
        fs_.prepareCopiesInto(received, {{dir_.file("b"), "y.data", sha256Hex("beta")},
                                         {dir_.file("a"), "w.data", sha256Hex("other")}});
    });
    EXPECT_EQ(entries(dir_.file("received")), std::vector<std::string>{"x.data"});
}

// A batch's extra copies are made from the bytes it checks: prepared, not placed, and never the
// batch's failure. A batch that fails keeps none, and a folder that cannot take them ends them
// all while the batch goes on.
TEST_F(FileSystemTest, ExtraCopiesHoldTheBatchesBytesAndNeverFailIt) {
    fs_.writeFileAtomically(dir_.file("a"), "alpha");
    fs_.writeFileAtomically(dir_.file("b"), pattern(300000));
    fs_.createDirectories(dir_.file("blobs"));
    OpenFolder received = fs_.openSubfolder(dir_.path(), "received");
    const std::string alpha = sha256Hex("alpha"), big = sha256Hex(pattern(300000));
    {
        ExtraCopies extra{&received, {{alpha, {"x.data", "y.data"}}, {big, {"b.data"}}}, {}, {}};
        fs_.copyFilesAtomically({{dir_.file("a"), dir_.file("blobs/a"), alpha},
                                 {dir_.file("b"), dir_.file("blobs/b"), big}},
                                Permissions::privateToUser, &extra);
        EXPECT_EQ(extra.prepared.size(), 3u);
        EXPECT_FALSE(std::filesystem::exists(dir_.file("received/x.data")));
        const auto unwritten = fs_.placePreparedCopies(
            received, extra.prepared, {{"", "x.data", ""}, {"", "b.data", ""}, {"", "z", ""}});
        ASSERT_EQ(unwritten.size(), 1u);
        EXPECT_EQ(fs_.readFile(dir_.file("received/x.data")), "alpha");
        EXPECT_EQ(fs_.readFile(dir_.file("received/b.data")), pattern(300000));
    }
    EXPECT_EQ(entries(dir_.file("received")), (std::vector<std::string>{"b.data", "x.data"}));

    ExtraCopies failing{&received, {{alpha, {"w.data"}}, {sha256Hex("other"), {"v.data"}}}, {}, {}};
    errorOf([&] {
        fs_.copyFilesAtomically({{dir_.file("a"), dir_.file("blobs/c"), alpha},
                                 {dir_.file("b"), dir_.file("blobs/d"), sha256Hex("other")}},
                                Permissions::privateToUser, &failing);
    });
    EXPECT_EQ(failing.prepared.size(), 0u);
    EXPECT_EQ(entries(dir_.file("received")), (std::vector<std::string>{"b.data", "x.data"}));

    const std::string gone = dir_.file("gone");
    fs_.createDirectories(gone);
    OpenFolder removed = fs_.openSubfolder(dir_.path(), "gone");
    std::filesystem::remove(gone);
    ExtraCopies lost{&removed, {{alpha, {"u.data"}}}, {}, {}};
    fs_.copyFilesAtomically({{dir_.file("a"), dir_.file("blobs/e"), alpha}},
                            Permissions::privateToUser, &lost);
    EXPECT_EQ(lost.prepared.size(), 0u);
    EXPECT_EQ(fs_.readFile(dir_.file("blobs/e")), "alpha");
}

// Copies placed ahead of what they belong to take only free names, count as placed, and are
// taken back whole when that fails: a name someone else has taken since stays theirs. A thread
// waiting for the copies hears once they are on disk, and hears as well when they never will be.
TEST_F(FileSystemTest, CopiesPlacedAheadTakeOnlyFreeNamesAndAreTakenBackWhenAsked) {
    fs_.writeFileAtomically(dir_.file("a"), "alpha");
    fs_.createDirectories(dir_.file("blobs"));
    OpenFolder received = fs_.openSubfolder(dir_.path(), "received");
    fs_.writeFileAtomically(dir_.file("received/y.data"), "the host's");
    const std::string alpha = sha256Hex("alpha");
    const std::vector<FileSystem::FileCopy> handedOver = {
        {"", "x.data", ""}, {"", "y.data", ""}, {"", "z.data", ""}};
    auto prepare = [&](ExtraCopies& extra, const std::string& blob, const std::string& digest) {
        std::thread placer([&] {
            if (extra.onDisk.await()) {
                fs_.placePreparedCopiesAhead(received, extra.prepared, handedOver);
            }
        });
        try {
            fs_.copyFilesAtomically({{dir_.file("a"), dir_.file("blobs/" + blob), digest}},
                                    Permissions::privateToUser, &extra);
        } catch (const Error&) {
        }
        placer.join();
    };

    ExtraCopies placed{&received, {{alpha, {"x.data", "y.data", "z.data"}}}, {}, {}};
    prepare(placed, "1", alpha);
    EXPECT_EQ(fs_.readFile(dir_.file("received/x.data")), "alpha");
    EXPECT_EQ(fs_.readFile(dir_.file("received/y.data")), "the host's");
    EXPECT_TRUE(fs_.placePreparedCopies(received, placed.prepared, handedOver).empty());
    EXPECT_EQ(fs_.readFile(dir_.file("received/y.data")), "alpha");
    EXPECT_EQ(entries(dir_.file("received")),
              (std::vector<std::string>{"x.data", "y.data", "z.data"}));

    std::filesystem::remove(dir_.file("received/x.data"));
    std::filesystem::remove(dir_.file("received/z.data"));
    fs_.writeFileAtomically(dir_.file("received/y.data"), "the host's");
    ExtraCopies withdrawn{&received, {{alpha, {"x.data", "y.data", "z.data"}}}, {}, {}};
    prepare(withdrawn, "2", alpha);
    fs_.writeFileAtomically(dir_.file("received/z.data"), "another writer's");
    fs_.withdrawCopiesPlacedAhead(received, withdrawn.prepared);
    withdrawn.prepared = {};
    EXPECT_EQ(entries(dir_.file("received")), (std::vector<std::string>{"y.data", "z.data"}));
    EXPECT_EQ(fs_.readFile(dir_.file("received/y.data")), "the host's");
    EXPECT_EQ(fs_.readFile(dir_.file("received/z.data")), "another writer's");

    ExtraCopies failed{&received, {{alpha, {"x.data"}}}, {}, {}};
    prepare(failed, "3", sha256Hex("other"));  // the content is not what it should be
    EXPECT_EQ(entries(dir_.file("received")), (std::vector<std::string>{"y.data", "z.data"}));
}

// A large batch is written by two writers at once; what lands is the same: every file and every
// extra copy with its own bytes, or after a failure midway none of them and no temporary.
TEST_F(FileSystemTest, ALargeBatchWrittenByTwoWritersLandsWholeOrNotAtAll) {
    fs_.createDirectories(dir_.file("in"));
    fs_.createDirectories(dir_.file("blobs"));
    OpenFolder received = fs_.openSubfolder(dir_.path(), "received");
    std::vector<FileSystem::FileCopy> copies, failing;
    ExtraCopies extra{&received, {}, {}, {}};
    for (int i = 0; i < 200; ++i) {
        const std::string name = std::to_string(i), bytes = pattern(1000 + i) + name;
        fs_.writeFileAtomically(dir_.file("in/" + name), bytes);
        copies.push_back({dir_.file("in/" + name), dir_.file("blobs/" + name), sha256Hex(bytes)});
        failing.push_back({dir_.file("in/" + name), dir_.file("blobs/f" + name),
                           i == 150 ? sha256Hex("other") : sha256Hex(bytes)});
        extra.namesByDigest[sha256Hex(bytes)].push_back(name + ".data");
    }
    errorOf([&] { fs_.copyFilesAtomically(failing, Permissions::privateToUser, &extra); });
    EXPECT_EQ(extra.prepared.size(), 0u);
    EXPECT_TRUE(entries(dir_.file("blobs")).empty());
    EXPECT_TRUE(entries(dir_.file("received")).empty());

    fs_.copyFilesAtomically(copies, Permissions::privateToUser, &extra);
    ASSERT_EQ(extra.prepared.size(), 200u);
    std::vector<FileSystem::FileCopy> placing;
    for (int i = 0; i < 200; ++i) {
        placing.push_back({"", std::to_string(i) + ".data", ""});
    }
    EXPECT_TRUE(fs_.placePreparedCopies(received, extra.prepared, placing).empty());
    for (int i = 0; i < 200; ++i) {
        const std::string name = std::to_string(i), bytes = pattern(1000 + i) + name;
        EXPECT_EQ(fs_.readFile(dir_.file("blobs/" + name)), bytes);
        EXPECT_EQ(fs_.readFile(dir_.file("received/" + name + ".data")), bytes);
    }
    EXPECT_EQ(entries(dir_.file("blobs")).size(), 200u);
    EXPECT_EQ(entries(dir_.file("received")).size(), 200u);
}

// Temporary names follow one sequence per process, which a forked child continues: two
// processes writing the same files at once then meet the same names, and must both succeed.
TEST_F(FileSystemTest, ForkedWritersOfTheSameFilesBothSucceed) {
    fs_.createDirectories(dir_.file("out"));
    std::vector<FileSystem::FileCopy> copies;
    for (int i = 0; i < 300; ++i) {
        const std::string name = std::to_string(i);
        fs_.writeFileAtomically(dir_.file("in-" + name), name);  // starts the sequence
        copies.push_back({dir_.file("in-" + name), dir_.file("out/" + name), ""});
    }
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        char byte;
        int status = ::read(go[0], &byte, 1) == 1 ? 0 : 2;
        try {
            fs_.copyFilesAtomically(copies);
        } catch (...) {
            status = 1;
        }
        ::_exit(status);
    }
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    EXPECT_NO_THROW(fs_.copyFilesAtomically(copies));
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    ::close(go[0]);
    ::close(go[1]);
    EXPECT_EQ(entries(dir_.file("out")).size(), 300u);
    EXPECT_EQ(fs_.readFile(dir_.file("out/299")), "299");
}

TEST_F(FileSystemTest, FailedRenameLeavesNeitherTemporaryNorFinalFile) {
    FaultyFileSystem faulty;
    faulty.failNth(Op::Rename, 1, EIO);
    EXPECT_THROW(faulty.writeFileAtomically(dir_.file("out.json"), "{}"), Error);
    EXPECT_TRUE(entries(dir_.path()).empty());

    fs_.writeFileAtomically(dir_.file("out.json"), "old");
    faulty.failNth(Op::Rename, 1, ENOSPC);
    const ErrorRef error =
        errorOf([&] { faulty.writeFileAtomically(dir_.file("out.json"), "new"); });
    EXPECT_EQ(error->code, 640);
    EXPECT_EQ(fs_.readFile(dir_.file("out.json")), "old");
    EXPECT_EQ(entries(dir_.path()), std::vector<std::string>{"out.json"});

    fs_.writeFileAtomically(dir_.file("source"), "bytes");
    faulty.failNth(Op::Rename, 1, EACCES);
    EXPECT_THROW(faulty.copyFileAtomically(dir_.file("source"), dir_.file("copy")), Error);
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"out.json", "source"}));
}

TEST_F(FileSystemTest, FaultsHitOnlyTheChosenCall) {
    FaultyFileSystem faulty;
    faulty.failNth(Op::Write, 2, EROFS);
    faulty.writeFileAtomically(dir_.file("one"), "1");
    const ErrorRef error = errorOf([&] { faulty.writeFileAtomically(dir_.file("two"), "2"); });
    EXPECT_EQ(error->code, 513);
    faulty.writeFileAtomically(dir_.file("three"), "3");
    EXPECT_EQ(faulty.calls(Op::Write), 3);
    EXPECT_EQ(faulty.calls(Op::Rename), 2);  // the internal renames of the two good writes
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"one", "three"}));

    faulty.failAlways(Op::Read, EACCES);
    EXPECT_EQ(errorOf([&] { faulty.readFile(dir_.file("one")); })->code, 257);
    EXPECT_THROW(faulty.readChunks(dir_.file("one"), [](std::string_view) {}), Error);
    faulty.clearFaults();
    EXPECT_EQ(faulty.readFile(dir_.file("one")), "1");
    EXPECT_EQ(faulty.calls(Op::Read), 3);

    faulty.failNth(Op::CreateDirectories, 1, ENOSPC);
    EXPECT_THROW(faulty.createDirectories(dir_.file("d")), Error);
    EXPECT_FALSE(fs_.exists(dir_.file("d")));
    faulty.failNth(Op::Copy, 1, EIO);
    EXPECT_THROW(faulty.copyFileAtomically(dir_.file("one"), dir_.file("c")), Error);
    EXPECT_FALSE(fs_.exists(dir_.file("c")));
}

// ---- Special files: only regular files are read, and opening never blocks -------------------

TEST_F(FileSystemTest, OnlyRegularFilesAreReadOrCopied) {
    ASSERT_EQ(::mkfifo(dir_.file("pipe").c_str(), 0600), 0);
    const std::string expected =
        "The file \u201cpipe\u201d couldn\u2019t be opened because it isn\u2019t a regular file.";
    EXPECT_EQ(errorOf([&] { fs_.readFile(dir_.file("pipe")); })->description(), expected);
    EXPECT_EQ(
        errorOf([&] { fs_.copyFileAtomically(dir_.file("pipe"), dir_.file("c")); })->description(),
        expected);
    EXPECT_THROW(ReadableFile(dir_.file("pipe")), Error);
    std::filesystem::create_symlink("/dev/zero", dir_.file("zero"));
    EXPECT_THROW(fs_.readFile(dir_.file("zero")), Error);  // would never end
    EXPECT_EQ(entries(dir_.path()), (std::vector<std::string>{"pipe", "zero"}));
}

TEST_F(FileSystemTest, AnOpenedFileIsReadWhateverHappensToItsName) {
    const std::string path = dir_.write("f", "first");
    ReadableFile file(path);
    fs_.writeFileAtomically(path, "replaced");  // renamed over the opened one
    for (int pass = 0; pass < 2; ++pass) {      // each read starts from the beginning
        std::string read;
        file.readChunks([&](std::string_view chunk) { read.append(chunk); });
        EXPECT_EQ(read, "first");
    }
}

// ---- Privacy: created private by default, or following the umask when asked ------------------

class UmaskTest : public FileSystemTest {
  protected:
    static unsigned modeOf(const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    }
    void TearDown() override { ::umask(previous_); }
    mode_t previous_ = ::umask(022);
};

TEST_F(UmaskTest, CreatedFoldersAndFilesArePrivateWhateverTheUmask) {
    for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{0277}}) {
        SCOPED_TRACE(mask);
        ::umask(mask);
        const std::string root = dir_.file(std::to_string(mask));
        fs_.createDirectories(root + "/a/b");
        fs_.writeFileAtomically(root + "/a/b/w", "w");
        fs_.copyFileAtomically(root + "/a/b/w", root + "/a/b/c");
        fs_.copyFilesAtomically({{root + "/a/b/w", root + "/a/b/batch", {}}});
        EXPECT_EQ(modeOf(root), 0700u);
        EXPECT_EQ(modeOf(root + "/a"), 0700u);
        EXPECT_EQ(modeOf(root + "/a/b"), 0700u);
        for (const char* name : {"w", "c", "batch"}) {
            EXPECT_EQ(modeOf(root + "/a/b/" + name), 0600u) << name;
        }
    }
}

TEST_F(UmaskTest, FollowingTheUmaskIsAskedForAndAnExistingFolderKeepsItsMode) {
    fs_.createDirectories(dir_.file("shared/sub"), Permissions::followUmask);
    EXPECT_EQ(modeOf(dir_.file("shared")), 0755u);
    fs_.copyFilesAtomically({{"/proc/version", dir_.file("shared/sub/v"), {}}},
                            Permissions::followUmask);
    EXPECT_EQ(modeOf(dir_.file("shared/sub/v")), 0644u);
    fs_.createDirectories(dir_.file("shared/sub/private"));
    EXPECT_EQ(modeOf(dir_.file("shared/sub")), 0755u);
    EXPECT_EQ(modeOf(dir_.file("shared/sub/private")), 0700u);
}

// ---- Subfolders for a host: written through the opened folder, never through a link ---------

TEST_F(FileSystemTest, FilesLandInTheOpenedFolderEvenIfItsPathIsReplacedByALink) {
    const std::string source = dir_.write("source", "bytes");
    std::filesystem::create_directories(dir_.file("elsewhere"));
    OpenFolder folder = fs_.openSubfolder(dir_.file("exchange"), "received");
    std::filesystem::rename(dir_.file("exchange/received"), dir_.file("exchange/moved"));
    std::filesystem::create_directory_symlink(dir_.file("elsewhere"),
                                              dir_.file("exchange/received"));
    fs_.copyFilesInto(folder, {{source, "x.data", {}}});
    EXPECT_EQ(fs_.readFile(dir_.file("exchange/moved/x.data")), "bytes");
    EXPECT_TRUE(entries(dir_.file("elsewhere")).empty());
}

TEST_F(FileSystemTest, ASubfolderThatIsNoFolderIsRefusedWithItsCause) {
    std::filesystem::create_directories(dir_.file("exchange"));
    std::filesystem::create_directory_symlink(dir_.path(), dir_.file("exchange/link"));
    fs_.writeFileAtomically(dir_.file("exchange/file"), "x");
    ASSERT_EQ(::mkfifo(dir_.file("exchange/pipe").c_str(), 0600), 0);
    const std::string in = " in the folder \u201cexchange\u201d ";
    EXPECT_EQ(errorOf([&] { fs_.openSubfolder(dir_.file("exchange"), "link"); })->description(),
              "\u201clink\u201d" + in +
                  "is a symbolic link, not a folder; files are written only into a real folder "
                  "there, never through a link.");
    EXPECT_EQ(errorOf([&] { fs_.openSubfolder(dir_.file("exchange"), "file"); })->description(),
              "\u201cfile\u201d" + in + "is a file, not a folder.");
    EXPECT_EQ(errorOf([&] { fs_.openSubfolder(dir_.file("exchange"), "pipe"); })->description(),
              "\u201cpipe\u201d" + in + "isn\u2019t a folder.");
}

TEST_F(FileSystemTest, LeftoversAreRemovedOnlyWhenNoOtherWriterHoldsTheFolder) {
    const std::string leftover = std::string(kTemporaryFilePrefix) + "left.data";
    std::optional<OpenFolder> writer = fs_.openSubfolder(dir_.path(), "received");
    fs_.writeFileAtomically(dir_.file("received/" + leftover), "partial");
    fs_.openSubfolder(dir_.path(), "received");  // another writer is at work: its file stays
    EXPECT_TRUE(fs_.exists(dir_.file("received/" + leftover)));
    writer.reset();  // it ended (or was killed) without finishing
    fs_.openSubfolder(dir_.path(), "received");
    EXPECT_TRUE(entries(dir_.file("received")).empty());
}

}  // namespace
}  // namespace tavro::platform
