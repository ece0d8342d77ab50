// SPDX-License-Identifier: MIT
#include "platform/Paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "platform/Error.h"

#include "support/TempDir.h"

namespace tavro::platform::paths {
namespace {

struct NameRow {
    const char* name;
    const char* last;
    const char* extension;
    const char* withoutExtension;
};

TEST(FileNameRules, EveryRowOfTheTable) {
    const NameRow rows[] = {
        {"Report.final.pdf", "Report.final.pdf", "pdf", "Report.final"},
        {"README", "README", "", "README"},
        {".hidden", ".hidden", "", ".hidden"},
        {"dir/file.txt/", "file.txt", "txt", "dir/file"},
        {"x.tar.gz", "x.tar.gz", "gz", "x.tar"},
        {"a b.PDF", "a b.PDF", "PDF", "a b"},
        {"a.", "a.", "", "a."},
        // Our own additions: spaces in the extension, repeated slashes, dots in folders.
        {"notes.my draft", "notes.my draft", "", "notes.my draft"},
        {"a//b///c.txt//", "c.txt", "txt", "a/b/c"},
        {"/dir.d/file", "file", "", "/dir.d/file"},
        {"/dir/.config.json", ".config.json", "json", "/dir/.config"},
        {"/", "/", "", "/"},
    };
    for (const NameRow& row : rows) {
        EXPECT_EQ(lastComponent(row.name), row.last) << row.name;
        EXPECT_EQ(extension(row.name), row.extension) << row.name;
        EXPECT_EQ(deletingExtension(row.name), row.withoutExtension) << row.name;
    }
}

TEST(PathArithmetic, ParentAndJoin) {
    EXPECT_EQ(parent("/a/b"), "/a");
    EXPECT_EQ(parent("/a"), "/");
    EXPECT_EQ(parent("/"), "/");
    EXPECT_EQ(parent("/a/b/"), "/a");
    EXPECT_EQ(parent("a"), "");
    EXPECT_EQ(join("/a", "b"), "/a/b");
    EXPECT_EQ(join("/a/", "b"), "/a/b");
    EXPECT_EQ(join("/", "b"), "/b");
    EXPECT_EQ(join("/a", "/b"), "/a/b");
    EXPECT_EQ(join("/a", ""), "/a");
    EXPECT_EQ(join("", "b"), "b");
}

TEST(PathArithmetic, NormalizeIsLexical) {
    EXPECT_EQ(normalize("/a/./b/../c"), "/a/c");
    EXPECT_EQ(normalize("//a///b//"), "/a/b");
    EXPECT_EQ(normalize("/../../a"), "/a");
    EXPECT_EQ(normalize("/a/b/../../.."), "/");
    EXPECT_EQ(normalize("/"), "/");
    EXPECT_EQ(normalize("/a/.../b"), "/a/.../b");
    EXPECT_EQ(normalize("a/../../b"), "../b");
}

TEST(PathArithmetic, AbsoluteUsesTheCurrentDirectory) {
    test::TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    EXPECT_EQ(absolute("x/./y"), dir.path() + "/x/y");
    EXPECT_EQ(absolute("/abs/../p"), "/p");
    std::filesystem::current_path(previous);
}

TEST(ResolveSymlinks, ResolvesTheExistingPrefixAndStandardisesTheRest) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("real/inner"));
    std::filesystem::create_directory_symlink(dir.file("real"), dir.file("link"));

    EXPECT_EQ(resolveSymlinks(dir.file("link/inner")), dir.file("real/inner"));
    // A missing file below a link is still resolved and standardised.
    EXPECT_EQ(resolveSymlinks(dir.file("link/missing/../gone/./file.txt")),
              dir.file("real/gone/file.txt"));
    // ".." after a link climbs from the link's target, as the file system does.
    EXPECT_EQ(resolveSymlinks(dir.file("link/inner/..")), dir.file("real"));
    EXPECT_EQ(resolveSymlinks(dir.file("nothing/here")), dir.file("nothing/here"));
    EXPECT_EQ(resolveSymlinks("/"), "/");
}

TEST(ResolveSymlinks, DanglingAndLoopingLinksDoNotFail) {
    test::TempDir dir;
    std::filesystem::create_symlink(dir.file("absent"), dir.file("dangling"));
    std::filesystem::create_symlink(dir.file("loop"), dir.file("loop"));
    EXPECT_EQ(resolveSymlinks(dir.file("dangling")), dir.file("dangling"));
    EXPECT_EQ(resolveSymlinks(dir.file("loop/x")), dir.file("loop/x"));
}

TEST(ResolveSymlinks, AMostlyMissingPathOfTheLongestLengthResolvesItsExistingPart) {
    test::TempDir dir;
    std::filesystem::create_directories(dir.file("real"));
    std::filesystem::create_directory_symlink(dir.file("real"), dir.file("link"));
    // Nearly PATH_MAX bytes, almost all of it missing: found missing component by component.
    std::string rest;
    while (dir.file("link").size() + rest.size() + 8 < PATH_MAX) {
        rest += "/m";
    }
    EXPECT_EQ(resolveSymlinks(dir.file("link") + rest + "/../x"),
              dir.file("real") + rest.substr(0, rest.size() - 2) + "/x");
}

TEST(ResolveSymlinks, APathLongerThanTheSystemTakesIsRefused) {
    test::TempDir dir;
    std::string path = dir.path();
    while (path.size() < PATH_MAX) {
        path += "/component";
    }
    try {
        resolveSymlinks(path);
        ADD_FAILURE() << "no error thrown";
    } catch (const Error& error) {
        EXPECT_EQ(
            error.value()->description(),
            "The file \u201ccomponent\u201d couldn\u2019t be opened because its path is longer "
            "than the " +
                std::to_string(PATH_MAX) + " bytes the system allows.");
    }
    // Relative paths are measured once made absolute.
    EXPECT_THROW(resolveSymlinks(path.substr(1)), Error);
}

}  // namespace
}  // namespace tavro::platform::paths
