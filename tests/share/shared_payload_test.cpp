// SPDX-License-Identifier: MIT
// Summaries and symbols of payloads, and the URL parsing they rest on.

#include <gtest/gtest.h>

#include "share/SharedPayload.h"

namespace tavro::share {
namespace {

SharedPayload filePayload(size_t size, const char* name, const char* type) {
    return SharedPayload(
        SharedPayload::File{std::make_shared<const std::string>(size, 'x'), name, type, {}});
}

TEST(SharedPayload, SummariesByCase) {
    EXPECT_EQ(SharedPayload(SharedPayload::Url{*Url::parse("https://example.com/a b")}).summary(),
              "https://example.com/a%20b");
    EXPECT_EQ(filePayload(2048, "photo.png", "public.png").summary(), "photo.png \u00b7 2 KB");
    EXPECT_EQ(filePayload(0, "empty", "public.data").summary(), "empty \u00b7 Zero KB");

    std::string exact(140, 'a');
    EXPECT_EQ(SharedPayload(SharedPayload::Text{exact}).summary(), exact);
    EXPECT_EQ(SharedPayload(SharedPayload::Text{exact + "b"}).summary(), exact);
    // A family emoji (seven code points) and a flag (two) are one character each.
    std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466";
    std::string flag = "\U0001F1E9\U0001F1EA";
    std::string text = std::string(138, 'a') + family + flag + "tail";
    EXPECT_EQ(SharedPayload(SharedPayload::Text{text}).summary(),
              std::string(138, 'a') + family + flag);
    EXPECT_EQ(SharedPayload(SharedPayload::Text{""}).summary(), "");
}

TEST(SharedPayload, SymbolsFollowConformance) {
    EXPECT_EQ(SharedPayload(SharedPayload::Url{*Url::parse("mailto:a@b.c")}).systemImage(), "link");
    EXPECT_EQ(SharedPayload(SharedPayload::Text{"t"}).systemImage(), "text.alignleft");
    const std::pair<const char*, const char*> cases[] = {
        {"public.png", "photo"},
        {"public.heic", "photo"},
        {"PUBLIC.JPEG", "photo"},
        {"public.mpeg-4", "play.rectangle"},
        {"public.movie", "play.rectangle"},
        {"public.mp3", "play.rectangle"},
        {"public.audiovisual-content", "play.rectangle"},
        {"com.adobe.pdf", "doc"},
        {"public.plain-text", "doc"},
        {"com.example.unknown", "doc"},
        {"", "doc"},
    };
    for (const auto& [type, symbol] : cases) {
        EXPECT_EQ(filePayload(1, "f", type).systemImage(), symbol) << type;
    }
}

TEST(Url, ParsingEncodesWhatAUrlCannotHoldAndRefusesMalformedOnes) {
    const std::pair<const char*, const char*> encoded[] = {
        {"https://example.com/a b", "https://example.com/a%20b"},
        {"https://example.com/\u00e9?q=\"x\"", "https://example.com/%C3%A9?q=%22x%22"},
        {"https://example.com/100%", "https://example.com/100%25"},
        {"https://example.com/%41", "https://example.com/%41"},
        {"HTTPS://Example.com", "HTTPS://Example.com"},
        {"relative/path", "relative/path"},
    };
    for (const auto& [given, expected] : encoded) {
        auto url = Url::parse(given);
        ASSERT_TRUE(url) << given;
        EXPECT_EQ(url->absoluteString(), expected);
    }
    EXPECT_EQ(*Url::parse("HTTPS://Example.com")->scheme(), "HTTPS");
    EXPECT_FALSE(Url::parse("relative/path")->scheme());
    for (const char* refused : {"", "https://[::1", "http://host:port/", "a#b#c"}) {
        EXPECT_FALSE(Url::parse(refused)) << refused;
    }
}

TEST(Url, FileUrlsRoundTripTheirPaths) {
    Url url = Url::fromFilePath("/tmp/a b/caf\u00e9 #1?.txt");
    EXPECT_TRUE(url.isFileURL());
    EXPECT_EQ(url.absoluteString().rfind("file:///tmp/a%20b/", 0), 0u);
    EXPECT_EQ(url.filePath(), "/tmp/a b/caf\u00e9 #1?.txt");
    EXPECT_EQ(Url::parse("FILE:///x/y%2Fz")->filePath(), "/x/y/z");
    EXPECT_EQ(Url::parse("file:///x?query#frag")->filePath(), "/x");
    EXPECT_FALSE(Url::parse("https://example.com/x")->isFileURL());
    EXPECT_EQ(Url::parse("https://example.com/x")->filePath(), "");
}

}  // namespace
}  // namespace tavro::share
