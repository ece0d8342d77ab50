// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "model/LinkClassification.h"
#include "model/ThingKindLabels.h"

namespace tavro::model {
namespace {

ThingKind kindOf(const char* address) {
    auto url = platform::Url::parse(address);
    EXPECT_TRUE(url) << address;
    return url ? classify(*url) : ThingKind::note;
}

TEST(ThingKindLabels, TableInDeclarationOrder) {
    const char* titles[] = {"Image",      "Video", "Link",     "Tweet",
                            "Repository", "Quote", "Document", "Note"};
    const char* plurals[] = {"Images",       "Videos", "Links",     "Tweets",
                             "Repositories", "Quotes", "Documents", "Notes"};
    const char* symbols[] = {"photo",
                             "play.rectangle",
                             "link",
                             "text.bubble",
                             "chevron.left.forwardslash.chevron.right",
                             "quote.opening",
                             "doc",
                             "note.text"};
    for (size_t i = 0; i < kAllThingKinds.size(); ++i) {
        EXPECT_EQ(title(kAllThingKinds[i]), titles[i]);
        EXPECT_EQ(pluralTitle(kAllThingKinds[i]), plurals[i]);
        EXPECT_EQ(systemImage(kAllThingKinds[i]), symbols[i]);
    }
}

TEST(ThingKindLabels, BackingFlagsLeaveQuoteAndNoteToTheirText) {
    for (ThingKind kind : kAllThingKinds) {
        const bool file =
            kind == ThingKind::image || kind == ThingKind::video || kind == ThingKind::document;
        const bool link =
            kind == ThingKind::link || kind == ThingKind::tweet || kind == ThingKind::github;
        EXPECT_EQ(isFileBacked(kind), file) << rawValue(kind);
        EXPECT_EQ(isLinkBacked(kind), link) << rawValue(kind);
    }
}

TEST(LinkClassification, MicroblogPostsNeedTheExactStatusSegment) {
    EXPECT_EQ(kindOf("https://twitter.com/someone/status/1234567890"), ThingKind::tweet);
    EXPECT_EQ(kindOf("https://x.com/someone/status/1"), ThingKind::tweet);
    EXPECT_EQ(kindOf("https://mobile.twitter.com/someone/status/1"), ThingKind::tweet);
    // A profile page, a capital S, and "status" only as part of a segment are links.
    EXPECT_EQ(kindOf("https://twitter.com/someone"), ThingKind::link);
    EXPECT_EQ(kindOf("https://twitter.com/someone/Status/1"), ThingKind::link);
    EXPECT_EQ(kindOf("https://x.com/someone/statuses/1"), ThingKind::link);
    EXPECT_EQ(kindOf("https://x.com/someone?status=1"), ThingKind::link);
    // Any segment counts, wherever it stands.
    EXPECT_EQ(kindOf("https://x.com/status"), ThingKind::tweet);
    // Other subdomains of the service are not on the list.
    EXPECT_EQ(kindOf("https://mobile.x.com/someone/status/1"), ThingKind::link);
    EXPECT_EQ(kindOf("https://api.twitter.com/someone/status/1"), ThingKind::link);
    // On the code host a "status" segment is just a repository name.
    EXPECT_EQ(kindOf("https://github.com/someone/status"), ThingKind::github);
}

TEST(LinkClassification, CodeHostNeedsOwnerAndRepository) {
    EXPECT_EQ(kindOf("https://github.com/owner"), ThingKind::link);
    EXPECT_EQ(kindOf("https://github.com/owner/"), ThingKind::link);
    EXPECT_EQ(kindOf("https://github.com"), ThingKind::link);
    EXPECT_EQ(kindOf("https://github.com/owner/repo"), ThingKind::github);
    EXPECT_EQ(kindOf("https://github.com/owner/repo/issues/7"), ThingKind::github);
    // Empty segments are not segments.
    EXPECT_EQ(kindOf("https://github.com//owner//"), ThingKind::link);
    EXPECT_EQ(kindOf("https://gist.github.com/owner/abc"), ThingKind::link);
    EXPECT_EQ(kindOf("https://github.com.evil.example/owner/repo"), ThingKind::link);
}

TEST(LinkClassification, HostsAreLowerCasedAndLoseEveryWww) {
    EXPECT_EQ(kindOf("https://GitHub.COM/owner/repo"), ThingKind::github);
    EXPECT_EQ(kindOf("https://www.github.com/owner/repo"), ThingKind::github);
    EXPECT_EQ(kindOf("https://WWW.Twitter.com/a/status/1"), ThingKind::tweet);
    // In the middle too, and more than once.
    EXPECT_EQ(kindOf("https://mobile.www.twitter.com/a/status/1"), ThingKind::tweet);
    EXPECT_EQ(kindOf("https://www.www.x.com/a/status/1"), ThingKind::tweet);
    // The removal is literal: what is left is compared, whatever it looked like before.
    EXPECT_EQ(kindOf("https://githubwww..com/o/r"), ThingKind::github);
    EXPECT_EQ(kindOf("https://gitwww.hub.com/o/r"), ThingKind::github);
    EXPECT_EQ(kindOf("https://www-github.com/o/r"), ThingKind::link);
    EXPECT_EQ(kindOf("https://www.github.com./o/r"), ThingKind::link);
    // User and port do not belong to the host.
    EXPECT_EQ(kindOf("https://me@github.com:443/o/r"), ThingKind::github);
    // Only the host is normalised; segments keep their case.
    EXPECT_EQ(kindOf("https://X.COM/a/STATUS/1"), ThingKind::link);
}

TEST(LinkClassification, AddressesWithoutHostAreLinks) {
    EXPECT_EQ(kindOf("file:///Users/me/github.com/o/r"), ThingKind::link);
    EXPECT_EQ(kindOf("mailto:someone@github.com"), ThingKind::link);
    EXPECT_EQ(kindOf("github.com/owner/repo"), ThingKind::link);
    EXPECT_EQ(kindOf("https://example.com/a/status/1"), ThingKind::link);
}

TEST(TypeClassification, ConformanceOrderDecides) {
    using platform::UniformType;
    EXPECT_EQ(classify(UniformType::png()), ThingKind::image);
    EXPECT_EQ(classify(UniformType::jpeg()), ThingKind::image);
    EXPECT_EQ(classify(*UniformType::fromIdentifier("public.heic")), ThingKind::image);
    EXPECT_EQ(classify(UniformType::movie()), ThingKind::video);
    EXPECT_EQ(classify(*UniformType::fromIdentifier("public.mpeg-4")), ThingKind::video);
    // Audio is audiovisual content.
    EXPECT_EQ(classify(UniformType::audio()), ThingKind::video);
    EXPECT_EQ(classify(*UniformType::fromIdentifier("public.mp3")), ThingKind::video);
    for (const UniformType& type :
         {UniformType::pdf(), UniformType::plainText(), UniformType::data(), UniformType::item(),
          UniformType::content(), *UniformType::fromIdentifier("public.zip-archive"),
          *UniformType::fromIdentifier("public.json")}) {
        EXPECT_EQ(classify(type), ThingKind::document) << type.identifier();
    }
}

}  // namespace
}  // namespace tavro::model
