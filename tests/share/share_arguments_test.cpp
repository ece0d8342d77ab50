// The share entry's command line, loaded end to end.

#include <gtest/gtest.h>

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
        EXPECT_EQ(*file.data, "\x89PNG");
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
    EXPECT_EQ(*file.data, std::string("\x00\xff\x10", 3));
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

}  // namespace
}  // namespace tavro::share
