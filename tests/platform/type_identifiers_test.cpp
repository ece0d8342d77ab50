// SPDX-License-Identifier: MIT
// The uniform type table: the platform's hierarchy facts and the three lookups.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "platform/TypeIdentifiers.h"

namespace tavro::platform {
namespace {

TEST(TypeIdentifiers, HierarchyMatchesThePlatform) {
    const std::pair<const char*, std::vector<const char*>> facts[] = {
        {"public.data", {"public.item"}},
        {"public.image", {"public.data", "public.content", "public.item"}},
        {"public.png", {"public.image", "public.data", "public.content"}},
        {"public.jpeg", {"public.image"}},
        {"public.heic", {"public.heif-standard", "public.image", "public.item"}},
        {"public.movie", {"public.audiovisual-content", "public.data", "public.content"}},
        {"public.video", {"public.movie", "public.audiovisual-content"}},
        {"public.mpeg-4", {"public.movie"}},
        {"com.apple.quicktime-movie", {"public.movie"}},
        {"public.mp3", {"public.audio", "public.audiovisual-content"}},
        {"public.utf8-plain-text", {"public.plain-text", "public.text", "public.content"}},
        {"public.html", {"public.text"}},
        {"public.json", {"public.text", "public.data"}},
        {"public.file-url", {"public.url", "public.data", "public.item"}},
        {"com.adobe.pdf", {"public.data", "public.composite-content", "public.content"}},
        {"public.zip-archive", {"public.data", "public.archive"}},
    };
    for (const auto& [type, ancestors] : facts) {
        EXPECT_TRUE(conforms(type, type)) << type;
        for (const char* ancestor : ancestors) {
            EXPECT_TRUE(conforms(type, ancestor)) << type << " -> " << ancestor;
        }
    }
    const std::pair<const char*, const char*> unrelated[] = {
        {"public.item", "public.data"},         {"public.content", "public.data"},
        {"public.audio", "public.movie"},       {"public.movie", "public.video"},
        {"public.url", "public.content"},       {"public.url", "public.text"},
        {"com.adobe.pdf", "public.text"},       {"public.folder", "public.data"},
        {"public.png", "public.jpeg"},          {"public.png", "com.example.unknown"},
        {"com.example.unknown", "public.item"},
    };
    for (const auto& [type, other] : unrelated) {
        EXPECT_FALSE(conforms(type, other)) << type << " -> " << other;
    }
}

TEST(TypeIdentifiers, IdentifiersIgnoreCaseAndUnknownOnesAreNothing) {
    auto jpeg = UniformType::fromIdentifier("PUBLIC.JPEG");
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->identifier(), "public.jpeg");
    EXPECT_EQ(jpeg->preferredFilenameExtension(), "jpeg");
    EXPECT_EQ(UniformType::utf8PlainText().preferredFilenameExtension(), std::nullopt);
    EXPECT_FALSE(UniformType::fromIdentifier(""));
    EXPECT_FALSE(UniformType::fromIdentifier("dyn.ah62d4rv4ge8"));
}

TEST(TypeIdentifiers, ExtensionLookupIsConstrainedToData) {
    // Case is ignored; the first of several extensions of a type works as well as the others.
    const std::pair<const char*, const char*> cases[] = {
        {"JPG", "public.jpeg"},         {"qt", "com.apple.quicktime-movie"},
        {"m4a", "public.mpeg-4-audio"}, {"md", "net.daringfireball.markdown"},
        {"txt", "public.plain-text"},
    };
    for (const auto& [extension, identifier] : cases) {
        auto type = UniformType::fromFilenameExtension(extension);
        ASSERT_TRUE(type) << extension;
        EXPECT_EQ(type->identifier(), identifier);
    }
    EXPECT_FALSE(UniformType::fromFilenameExtension(""));
    EXPECT_FALSE(UniformType::fromFilenameExtension("unknownext"));
    EXPECT_FALSE(UniformType::fromFilenameExtension(".png"));
    EXPECT_EQ(UniformType::fromFilenameExtension("png", UniformType::image())->identifier(),
              "public.png");
    EXPECT_FALSE(UniformType::fromFilenameExtension("txt", UniformType::image()));
}

TEST(TypeIdentifiers, MimeLookupPrefersTheExactTypeThenDropsParameters) {
    const std::pair<const char*, const char*> cases[] = {
        {"text/plain", "public.plain-text"},
        {"text/plain;charset=utf-8", "public.utf8-plain-text"},
        {"TEXT/PLAIN; charset=UTF-8", "public.utf8-plain-text"},
        {"text/plain;charset=iso-8859-1", "public.plain-text"},
        {"image/png", "public.png"},
        {"video/quicktime", "com.apple.quicktime-movie"},
        {"audio/x-wav", "com.microsoft.waveform-audio"},
        {"application/pdf", "com.adobe.pdf"},
        {"application/octet-stream", "public.data"},
    };
    for (const auto& [mime, identifier] : cases) {
        auto type = UniformType::fromMimeType(mime);
        ASSERT_TRUE(type) << mime;
        EXPECT_EQ(type->identifier(), identifier);
    }
    EXPECT_FALSE(UniformType::fromMimeType("text/uri-list"));
    EXPECT_FALSE(UniformType::fromMimeType(""));
}

TEST(TypeIdentifiers, ContentTypeOfFilesOnDisk) {
    auto folder = std::filesystem::temp_directory_path() / ("uti-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    for (const char* name : {"a.PNG", "README", "x.tar.gz", "odd.unknownext"}) {
        std::ofstream(folder / name) << "x";
    }
    auto typeOf = [&](const char* name) {
        auto type = contentTypeOfFile((folder / name).string());
        return type ? type->identifier() : std::string("<none>");
    };
    EXPECT_EQ(typeOf("a.PNG"), "public.png");
    EXPECT_EQ(typeOf("README"), "public.data");
    EXPECT_EQ(typeOf("x.tar.gz"), "org.gnu.gnu-zip-archive");
    EXPECT_EQ(typeOf("odd.unknownext"), "public.data");
    EXPECT_EQ(typeOf("missing.png"), "<none>");
    EXPECT_EQ(contentTypeOfFile(folder.string())->identifier(), "public.folder");
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tavro::platform
