// SPDX-License-Identifier: MIT
// The share entry's command line, loaded end to end.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "share/ShareArguments.h"
#include "share/SharePayloadLoader.h"
#include "support/TempDir.h"

namespace tavro::share {
namespace {

std::vector<SharedPayload> loadArguments(const std::vector<std::string>& args,
                                         const std::string& input = "") {
    std::istringstream standardInput(input);
    return SharePayloadLoader::load(extensionItemsFromArguments(args, standardInput));
}

class ShareArgumentsTest : public ::testing::Test {
  protected:
    test::TempDir temp_;
    std::filesystem::path folder_{temp_.path()};
};

TEST_F(ShareArgumentsTest, EachArgumentIsOneItemInOrder) {
    std::string photo = temp_.write("photo 1.png", "\x89PNG");
    std::string notes = temp_.write("notes:2024.txt", "n");
    auto payloads = loadArguments({"--text", "  hello  ", "https://example.com/x", photo,
                                   "file://" + Url::fromFilePath(photo).absoluteString().substr(7),
                                   notes, "--text=https://example.com/t", "-"},
                                  "from stdin\n");
    ASSERT_EQ(payloads.size(), 7u);
    EXPECT_EQ(std::get<SharedPayload::Text>(payloads[0].content()).text, "hello");
    EXPECT_EQ(std::get<SharedPayload::Url>(payloads[1].content()).url.absoluteString(),
              "https://example.com/x");
    for (size_t i : {2u, 3u}) {
        const auto& file = std::get<SharedPayload::File>(payloads[i].content());
        EXPECT_EQ(file.name, "photo 1.png");
        EXPECT_EQ(file.contents(), "\x89PNG");
        EXPECT_EQ(file.typeIdentifier, "public.png");
    }
    EXPECT_EQ(std::get<SharedPayload::File>(payloads[4].content()).name, "notes:2024.txt");
    EXPECT_EQ(std::get<SharedPayload::Url>(payloads[5].content()).url.absoluteString(),
              "https://example.com/t");
    EXPECT_EQ(std::get<SharedPayload::Text>(payloads[6].content()).text, "from stdin");
}

TEST_F(ShareArgumentsTest, BinaryInputBecomesAFileAndMissingFilesNothing) {
    auto payloads =
        loadArguments({"-", (folder_ / "missing.pdf").string()}, std::string("\x00\xff\x10", 3));
    ASSERT_EQ(payloads.size(), 1u);
    const auto& file = std::get<SharedPayload::File>(payloads[0].content());
    EXPECT_EQ(file.contents(), std::string("\x00\xff\x10", 3));
    EXPECT_EQ(file.name, "shared");
    EXPECT_EQ(file.typeIdentifier, "public.data");
}

TEST_F(ShareArgumentsTest, OptionsEndAtDoubleDashAndMistakesAreExplained) {
    std::string dashed = temp_.write("--text", "content");
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    auto payloads = loadArguments({"--", "--text"});
    std::filesystem::current_path(previous);
    ASSERT_EQ(payloads.size(), 1u);
    EXPECT_EQ(std::get<SharedPayload::File>(payloads[0].content()).name, "--text");

    std::istringstream none;
    EXPECT_THROW(extensionItemsFromArguments({"--text"}, none), ShareArgumentsError);
    EXPECT_THROW(extensionItemsFromArguments({"--verbose"}, none), ShareArgumentsError);
    EXPECT_TRUE(extensionItemsFromArguments({}, none).empty());
}

// A shared file is opened, not read into memory, and streamed when saved; anything but a
// regular file is refused at once (a named pipe without a writer would block a reader for
// ever, a device never end), and what could not be read is named with the reason while the
// rest still loads.
TEST_F(ShareArgumentsTest, OnlyRegularFilesAreOpenedAndTheUnreadAreNamed) {
    std::string photo = temp_.write("photo.png", "\x89PNG");
    std::string pipe = (folder_ / "pipe").string();
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
    std::istringstream noInput;
    std::vector<SharePayloadLoader::Unread> unread;
    auto payloads = SharePayloadLoader::load(
        extensionItemsFromArguments({pipe, "/dev/zero", photo, (folder_ / "gone.txt").string()},
                                    noInput),
        &unread);
    ASSERT_EQ(payloads.size(), 1u);
    const auto& file = std::get<SharedPayload::File>(payloads[0].content());
    EXPECT_EQ(file.data, nullptr);
    EXPECT_EQ(file.byteCount(), 4u);
    EXPECT_EQ(file.contents(), "\x89PNG");
    ASSERT_EQ(unread.size(), 3u);
    EXPECT_EQ(unread[0].name, "pipe");
    EXPECT_EQ(unread[1].name, "zero");
    EXPECT_EQ(unread[2].name, "gone.txt");
    for (const auto& item : unread)
        EXPECT_NE(item.reason.find("\u201c" + item.name + "\u201d"), std::string::npos)
            << item.reason;
}

// Standard input is read up to its limit and no further: more is reported, not loaded.
TEST_F(ShareArgumentsTest, StandardInputOverItsLimitIsReportedUnread) {
    std::vector<SharePayloadLoader::Unread> unread;
    std::istringstream atLimit(std::string(kStandardInputLimit, 'a'));
    EXPECT_EQ(SharePayloadLoader::load(extensionItemsFromArguments({"-"}, atLimit), &unread).size(),
              1u);
    EXPECT_TRUE(unread.empty());
    std::istringstream overLimit(std::string(kStandardInputLimit + 1, 'a'));
    EXPECT_TRUE(
        SharePayloadLoader::load(extensionItemsFromArguments({"-"}, overLimit), &unread).empty());
    ASSERT_EQ(unread.size(), 1u);
    EXPECT_EQ(unread[0].name, "Standard input");
    EXPECT_NE(unread[0].reason.find("16 MiB"), std::string::npos);
}

}  // namespace
}  // namespace tavro::share
