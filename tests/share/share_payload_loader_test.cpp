// SPDX-License-Identifier: MIT
// The loader's order of preference, one provider per branch, and its failure paths.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "share/ScriptedItemProvider.h"
#include "share/SharePayloadLoader.h"
#include "support/TempDir.h"

namespace tavro::share {
namespace {

using testing::ScriptedItemProvider;
using Delivery = ScriptedItemProvider::Delivery;

class FakeImage : public ImageObject {
  public:
    explicit FakeImage(std::optional<std::string> png) : png_(std::move(png)) {}
    std::optional<std::string> pngRepresentation() const override { return png_; }

  private:
    std::optional<std::string> png_;
};

Bytes bytes(std::string text) {
    return Bytes{std::make_shared<const std::string>(std::move(text))};
}
Url url(const char* text) {
    return *Url::parse(text);
}

// A copy: the payload is usually a temporary. Empty when the payload is no file.
SharedPayload::File asFile(const std::optional<SharedPayload>& payload) {
    const auto* file = payload ? std::get_if<SharedPayload::File>(&payload->content()) : nullptr;
    EXPECT_NE(file, nullptr) << "no file payload";
    return file ? *file : SharedPayload::File{std::make_shared<const std::string>(), "", "", {}};
}

std::string textOf(const std::optional<SharedPayload>& payload) {
    if (!payload)
        return "<none>";
    if (const auto* text = std::get_if<SharedPayload::Text>(&payload->content())) {
        return "text:" + text->text;
    }
    if (const auto* link = std::get_if<SharedPayload::Url>(&payload->content())) {
        return "url:" + link->url.absoluteString();
    }
    return "file:" + std::get<SharedPayload::File>(payload->content()).name;
}

class LoaderTest : public ::testing::Test {
  protected:
    test::TempDir temp_;
    std::filesystem::path folder_{temp_.path()};
};

TEST_F(LoaderTest, LinksAndTextFollowTheHttpRule) {
    const std::pair<const char*, const char*> cases[] = {
        {"https://example.com/page", "url:https://example.com/page"},
        {"  \nhttp://example.com/a?b=c\t\n", "url:http://example.com/a?b=c"},
        {"read https://example.com", "text:read https://example.com"},
        {"HTTPS://EXAMPLE.COM", "text:HTTPS://EXAMPLE.COM"},
        {"Http://example.com", "text:Http://example.com"},
        {"ftp://example.com/file", "text:ftp://example.com/file"},
        {"https://example.com/\u00a0x", "text:https://example.com/\u00a0x"},
        {"example.com", "text:example.com"},
        {"https://[::1", "text:https://[::1"},
        {"  two\nlines  ", "text:two\nlines"},
    };
    for (const auto& [shared, expected] : cases) {
        ScriptedItemProvider provider({"public.plain-text"});
        provider.item("public.plain-text", std::string(shared));
        EXPECT_EQ(textOf(SharePayloadLoader::load(provider)), expected) << shared;
    }
}

TEST_F(LoaderTest, LinkItemsKeepAnySchemeAndFileLinksBecomeFiles) {
    ScriptedItemProvider mail({"public.url"});
    mail.item("public.url", url("mailto:someone@example.com"));
    EXPECT_EQ(textOf(SharePayloadLoader::load(mail)), "url:mailto:someone@example.com");

    ScriptedItemProvider asBytes({"public.url"});
    asBytes.item("public.url", bytes("https://example.com/from-bytes"));
    EXPECT_EQ(textOf(SharePayloadLoader::load(asBytes)), "url:https://example.com/from-bytes");

    std::string path = temp_.write("notes.md", "# notes");
    ScriptedItemProvider fileLink({"public.url", "public.plain-text"});
    fileLink.item("public.url", Url::fromFilePath(path)).item("public.plain-text", "ignored");
    const auto file = asFile(SharePayloadLoader::load(fileLink));
    EXPECT_EQ(file.name, "notes.md");
    EXPECT_EQ(file.contents(), "# notes");
    EXPECT_EQ(file.typeIdentifier, "net.daringfireball.markdown");

    // A link the provider cannot produce falls through to its text.
    ScriptedItemProvider broken({"public.url", "public.plain-text"});
    broken.item("public.url", std::string("")).item("public.plain-text", "fallback");
    EXPECT_EQ(textOf(SharePayloadLoader::load(broken)), "text:fallback");
}

TEST_F(LoaderTest, StepsThatEndTheProviderEvenWithoutAPayload) {
    // Blank text ends the provider: its data representation is never asked for.
    ScriptedItemProvider blank({"public.plain-text", "public.data"});
    blank.item("public.plain-text", std::string(" \n\t\u2028")).file("public.data", "x.bin", "x");
    EXPECT_FALSE(SharePayloadLoader::load(blank));
    EXPECT_TRUE(blank.fileRequests.empty());

    // A file URL whose file cannot be read ends it too.
    ScriptedItemProvider missing({"public.file-url", "public.plain-text"});
    missing.item("public.file-url", Url::fromFilePath((folder_ / "gone.txt").string()))
        .item("public.plain-text", "not tried");
    EXPECT_FALSE(SharePayloadLoader::load(missing));
    EXPECT_EQ(missing.itemRequests, std::vector<std::string>{"public.file-url"});

    // So does a data type, whatever its file representation gives.
    ScriptedItemProvider data({"com.adobe.pdf", "public.url"});
    EXPECT_FALSE(SharePayloadLoader::load(data));
    EXPECT_EQ(data.fileRequests, std::vector<std::string>{"com.adobe.pdf"});
}

TEST_F(LoaderTest, TextInEveryFormAndUndecodableBytesFallThroughToData) {
    ScriptedItemProvider styled({"public.rtf"});
    styled.item("public.rtf", StyledText{" styled "});
    EXPECT_EQ(textOf(SharePayloadLoader::load(styled)), "text:styled");

    ScriptedItemProvider utf8({"public.utf8-plain-text"});
    utf8.item("public.utf8-plain-text", bytes("caf\u00e9"));
    EXPECT_EQ(textOf(SharePayloadLoader::load(utf8)), "text:caf\u00e9");

    ScriptedItemProvider latin1({"public.plain-text"}, "legacy.txt");
    latin1.item("public.plain-text", bytes("caf\xe9"))
        .file("public.plain-text", "t.txt", "caf\xe9");
    const auto file = asFile(SharePayloadLoader::load(latin1));
    EXPECT_EQ(file.name, "legacy.txt");
    EXPECT_EQ(file.contents(), "caf\xe9");
    EXPECT_EQ(file.typeIdentifier, "public.plain-text");
}

TEST_F(LoaderTest, PhotosAsFilesKeepTheirBytesNamesAndTypes) {
    ScriptedItemProvider photo({"public.jpeg"}, "Holiday");
    photo.file("public.jpeg", "IMG_0001.jpeg", "\xff\xd8jpeg");
    const auto file = asFile(SharePayloadLoader::load(photo));
    EXPECT_EQ(file.name, "Holiday.jpeg");
    EXPECT_EQ(file.contents(), "\xff\xd8jpeg");
    EXPECT_EQ(file.typeIdentifier, "public.jpeg");

    ScriptedItemProvider named({"public.jpeg"}, "Holiday.JPG");
    named.file("public.jpeg", "IMG_0001.jpeg", "jpeg");
    EXPECT_EQ(asFile(SharePayloadLoader::load(named)).name, "Holiday.JPG");

    ScriptedItemProvider unnamed({"public.jpeg"}, "");
    unnamed.file("public.jpeg", "IMG_0001.jpeg", "jpeg");
    EXPECT_EQ(asFile(SharePayloadLoader::load(unnamed)).name, "IMG_0001.jpeg");

    // The temporary file's own type wins over the one asked for.
    ScriptedItemProvider movie({"public.movie"}, "clip");
    movie.file("public.movie", "clip.mov", "moov");
    const auto clip = asFile(SharePayloadLoader::load(movie));
    EXPECT_EQ(clip.name, "clip.mov");
    EXPECT_EQ(clip.typeIdentifier, "com.apple.quicktime-movie");
}

TEST_F(LoaderTest, MediaObjectsWithoutAFile) {
    ScriptedItemProvider image({"public.image"}, "photo.jpg");
    image.item("public.image", std::make_shared<const FakeImage>("\x89PNG"));
    const auto png = asFile(SharePayloadLoader::load(image));
    EXPECT_EQ(png.name, "photo.jpg.png");
    EXPECT_EQ(png.contents(), "\x89PNG");
    EXPECT_EQ(png.typeIdentifier, "public.png");

    ScriptedItemProvider anonymous({"public.heic"});
    anonymous.item("public.heic", std::make_shared<const FakeImage>("png"));
    EXPECT_EQ(asFile(SharePayloadLoader::load(anonymous)).name, "Shared HEIC image.png");

    ScriptedItemProvider raw({"public.mpeg-4"});
    raw.item("public.mpeg-4", bytes("mp4"));
    const auto mp4 = asFile(SharePayloadLoader::load(raw));
    EXPECT_EQ(mp4.name, "Shared MPEG-4 movie.mp4");
    EXPECT_EQ(mp4.typeIdentifier, "public.mpeg-4");

    ScriptedItemProvider noExtension({"public.audio"}, "voice");
    noExtension.item("public.audio", bytes("pcm"));
    EXPECT_EQ(asFile(SharePayloadLoader::load(noExtension)).name, "voice.bin");

    // A failed conversion goes on to the later steps.
    ScriptedItemProvider unconvertible({"public.png", "public.url"});
    unconvertible.item("public.png", std::make_shared<const FakeImage>(std::nullopt))
        .item("public.url", url("https://example.com/img"));
    EXPECT_EQ(textOf(SharePayloadLoader::load(unconvertible)), "url:https://example.com/img");
}

TEST_F(LoaderTest, FileUrlsComeFirstAndUnknownTypesAreIgnored) {
    std::string path = temp_.write("report.pdf", "%PDF");
    ScriptedItemProvider shared({"public.file-url", "com.adobe.pdf", "public.url"});
    shared.item("public.file-url", std::string(Url::fromFilePath(path).absoluteString()))
        .item("public.url", url("https://example.com"));
    const auto file = asFile(SharePayloadLoader::load(shared));
    EXPECT_EQ(file.name, "report.pdf");
    EXPECT_EQ(file.typeIdentifier, "com.adobe.pdf");

    ScriptedItemProvider unknown({"com.example.private", "dyn.ah62d4rv4ge8"});
    unknown.file("com.example.private", "a.bin", "x");
    EXPECT_FALSE(SharePayloadLoader::load(unknown));
    EXPECT_TRUE(unknown.fileRequests.empty());
}

TEST_F(LoaderTest, EveryWayOfDeliveringIsWaitedForOnce) {
    for (Delivery how : {Delivery::FromAnotherThread, Delivery::Twice}) {
        ScriptedItemProvider text({"public.plain-text"});
        text.item("public.plain-text", std::string("hello")).delivery(how);
        EXPECT_EQ(textOf(SharePayloadLoader::load(text)), "text:hello");

        ScriptedItemProvider photo({"public.png"}, "p");
        photo.file("public.png", "p.png", "png").delivery(how);
        EXPECT_EQ(asFile(SharePayloadLoader::load(photo)).name, "p.png");
    }
    for (Delivery how : {Delivery::Dropped, Delivery::Throws}) {
        ScriptedItemProvider provider({"public.png", "public.url", "public.plain-text"});
        provider.file("public.png", "p.png", "png")
            .item("public.url", url("https://example.com"))
            .item("public.plain-text", std::string("text"))
            .delivery(how);
        // Every step gets nothing and the next one is tried; the data step asks again.
        EXPECT_FALSE(SharePayloadLoader::load(provider));
        EXPECT_EQ(provider.fileRequests, (std::vector<std::string>{"public.png", "public.png"}));
        EXPECT_EQ(provider.itemRequests,
                  (std::vector<std::string>{"public.png", "public.url", "public.plain-text"}));
    }
}

TEST_F(LoaderTest, RequestsCollectPayloadsInOrderAndUseContentTextOnlyWhileEmpty) {
    auto provider = [](std::vector<std::string> types, const char* text) {
        auto p = std::make_shared<ScriptedItemProvider>(std::move(types));
        if (text)
            p->item("public.plain-text", std::string(text));
        return std::shared_ptr<ItemProvider>(p);
    };
    ExtensionItem failing{StyledText{"  page text  "},
                          std::vector{provider({"public.url"}, nullptr)}};
    ExtensionItem bare{StyledText{"ignored, not first"}, std::nullopt};
    // A provider that fails even to list its types costs only its own payload.
    struct Broken : ScriptedItemProvider {
        Broken() : ScriptedItemProvider({}) {}
        std::vector<std::string> registeredTypeIdentifiers() const override {
            throw std::runtime_error("gone");
        }
    };
    ExtensionItem two{std::nullopt,
                      std::vector{provider({"public.plain-text"}, "a"),
                                  std::shared_ptr<ItemProvider>(std::make_shared<Broken>()),
                                  provider({"public.plain-text"}, "b")}};
    ExtensionItem emptyText{StyledText{""}, std::vector<std::shared_ptr<ItemProvider>>{}};

    std::vector<std::string> got;
    for (const auto& payload : SharePayloadLoader::load({emptyText, failing, bare, two})) {
        got.push_back(textOf(payload));
    }
    EXPECT_EQ(got, (std::vector<std::string>{"text:  page text  ", "text:a", "text:b"}));

    EXPECT_TRUE(SharePayloadLoader::load(
                    {emptyText,
                     ExtensionItem{std::nullopt, std::vector{provider({"public.data"}, nullptr)}}})
                    .empty());
}

TEST_F(LoaderTest, PayloadsHaveFreshIdentitiesAndLoadRunsOnAWorker) {
    auto provider = std::make_shared<ScriptedItemProvider>(std::vector<std::string>{"public.url"});
    provider->item("public.url", url("https://example.com"));
    ExtensionItem item{std::nullopt,
                       std::vector<std::shared_ptr<ItemProvider>>{provider, provider}};
    auto payloads = SharePayloadLoader::loadAsync({item}).get();
    ASSERT_EQ(payloads.size(), 2u);
    EXPECT_NE(payloads[0].id(), payloads[1].id());
}

}  // namespace
}  // namespace tavro::share
