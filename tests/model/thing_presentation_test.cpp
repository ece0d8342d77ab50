// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <memory>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"

namespace tavro::model {
namespace {

std::string repeated(std::string_view unit, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        text += unit;
    }
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1) {
        result.push_back(text.substr(start, at - start));
    }
    result.push_back(text.substr(start));
    return result;
}

TEST(DerivedValues, UrlAndContentTypeAreAbsentWhenTheyDoNotParse) {
    Thing thing(ThingKind::link, "");
    EXPECT_FALSE(thing.url());
    thing.setUrlString("https://example.com/a b");
    ASSERT_TRUE(thing.url());
    EXPECT_EQ(thing.url()->absoluteString(), "https://example.com/a%20b");
    thing.setUrlString("http://[::1");
    EXPECT_FALSE(thing.url());

    EXPECT_FALSE(thing.contentType());
    thing.setTypeIdentifier("com.example.unknown");
    EXPECT_FALSE(thing.contentType());
    thing.setTypeIdentifier("public.png");
    ASSERT_TRUE(thing.contentType());
    EXPECT_EQ(thing.contentType()->identifier(), "public.png");
}

TEST(DerivedValues, TrashAndThumbnailFollowPresence) {
    Thing thing(ThingKind::image, "");
    EXPECT_FALSE(thing.isTrashed());
    EXPECT_FALSE(thing.hasThumbnail());
    thing.setTrashedAt(0.0);  // the epoch itself is a time like any other
    EXPECT_TRUE(thing.isTrashed());
    thing.setThumbnailData(Content::fromBytes(""));
    EXPECT_TRUE(thing.hasThumbnail());
}

TEST(FileExtension, FileNameFirstThenPreferredExtensionOfTheType) {
    Thing thing(ThingKind::document, "");
    EXPECT_EQ(thing.fileExtension(), "");
    thing.setTypeIdentifier("com.adobe.pdf");
    EXPECT_EQ(thing.fileExtension(), "pdf");
    thing.setFileName("Report.final.PDF");
    EXPECT_EQ(thing.fileExtension(), "PDF");
    // A name without an extension of its own falls back to the type.
    for (const char* name : {"README", ".hidden", "a.", "archive.tar gz"}) {
        thing.setFileName(name);
        EXPECT_EQ(thing.fileExtension(), "pdf") << name;
    }
    // A type without a preferred extension gives none.
    thing.setTypeIdentifier("public.utf8-plain-text");
    EXPECT_EQ(thing.fileExtension(), "");
    thing.setTypeIdentifier("public.image");
    EXPECT_EQ(thing.fileExtension(), "");
}

TEST(FileBackedChain, NamedImage) {
    Thing thing(ThingKind::image, "");
    thing.setFileName("photo.JPG");
    EXPECT_EQ(thing.displayTitle(), "photo.JPG");
    EXPECT_EQ(thing.fileExtension(), "JPG");
    EXPECT_EQ(thing.badgeText(), "JPG");
    EXPECT_EQ(thing.exportFileName(), "photo.JPG");
}

TEST(FileBackedChain, NamelessThingsFallBackToTheKindAndBin) {
    struct Case {
        ThingKind kind;
        const char* title;
        const char* badge;
    };
    for (const Case& c : {Case{ThingKind::image, "Untitled Image", "IMAGE"},
                          Case{ThingKind::video, "Untitled Video", "VIDEO"},
                          Case{ThingKind::document, "Untitled Document", "DOCUMENT"}}) {
        Thing thing(c.kind, "");
        EXPECT_EQ(thing.displayTitle(), c.title);
        EXPECT_EQ(thing.badgeText(), c.badge);
        EXPECT_EQ(thing.exportFileName(), std::string(c.title) + ".bin");
    }
    Thing video(ThingKind::video, "");
    video.setTypeIdentifier("public.mpeg-4");
    EXPECT_EQ(video.badgeText(), "MP4");
    EXPECT_EQ(video.exportFileName(), "Untitled Video.mp4");
}

TEST(FileBackedChain, TitleWinsForDisplayButNotForExport) {
    Thing thing(ThingKind::document, "Q3 / Q4 plan");
    thing.setFileName("plan.pdf");
    EXPECT_EQ(thing.displayTitle(), "Q3 / Q4 plan");
    EXPECT_EQ(thing.exportFileName(), "plan.pdf");
    thing.setFileName("");
    thing.setTypeIdentifier("com.adobe.pdf");
    // Only "/" is replaced; the length is not limited.
    EXPECT_EQ(thing.exportFileName(), "Q3 - Q4 plan.pdf");
    thing.setTitle(repeated("a:b\\", 100));
    EXPECT_EQ(thing.exportFileName(), repeated("a:b\\", 100) + ".pdf");
}

TEST(TextChain, FirstNonEmptyLineCutTo80Characters) {
    Thing note(ThingKind::note, "");
    const std::string long100 = repeated("x", 100);
    note.setContent("\n\n" + long100 + "\nsecond");
    EXPECT_EQ(note.displayTitle(), repeated("x", 80));
    note.setContent("\n\r\n\n");
    EXPECT_EQ(note.displayTitle(), "Untitled Note");
    note.setContent("");
    EXPECT_EQ(note.displayTitle(), "Untitled Note");
    // No trimming: a line of spaces is a line.
    note.setContent("\n   \nnext");
    EXPECT_EQ(note.displayTitle(), "   ");
    note.setContent("  padded  \r\nnext");
    EXPECT_EQ(note.displayTitle(), "  padded  ");
    EXPECT_EQ(Thing(ThingKind::quote, "").displayTitle(), "Untitled Quote");
}

TEST(TextChain, EveryLineBreakSplits) {
    Thing note(ThingKind::note, "");
    for (const char* separator :
         {"\n", "\v", "\f", "\r", "\r\n", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
        note.setContent(std::string(separator) + "first" + separator + "second");
        EXPECT_EQ(note.displayTitle(), "first") << int(separator[0]);
    }
    // Characters that only look like breaks or spaces do not split.
    note.setContent(
        "a\xC2\xA0"
        "b\xE2\x80\x8B"
        "c\xEF\xBB\xBF"
        "d");
    EXPECT_EQ(note.displayTitle(),
              "a\xC2\xA0"
              "b\xE2\x80\x8B"
              "c\xEF\xBB\xBF"
              "d");
}

TEST(TextChain, TheCutCountsUserPerceivedCharacters) {
    Thing note(ThingKind::note, "");
    // A family emoji is seven code points and 25 bytes, one character.
    const std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D"
        "\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6";
    note.setContent(repeated(family, 81));
    EXPECT_EQ(note.displayTitle(), repeated(family, 80));
    // "e" with a combining acute stays whole at the cut.
    const std::string composed = "e\xCC\x81";
    note.setContent(repeated("a", 79) + composed + "zz");
    EXPECT_EQ(note.displayTitle(), repeated("a", 79) + composed);
    // Flags are pairs of regional indicators.
    const std::string flag = "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7";
    note.setContent(repeated(flag, 85));
    EXPECT_EQ(note.displayTitle(), repeated(flag, 80));
    note.setContent(repeated("\xC3\xA9", 80));
    EXPECT_EQ(note.displayTitle(), repeated("\xC3\xA9", 80));
    // 80 characters in more than 80 bytes are not cut; 81 one-byte ones are.
    note.setContent(repeated("\xE2\x82\xAC", 80) + "\n");
    EXPECT_EQ(note.displayTitle(), repeated("\xE2\x82\xAC", 80));
    note.setContent(repeated("y", 81));
    EXPECT_EQ(note.displayTitle(), repeated("y", 80));
    // A break sequence cut short at the end is no break, and reading it does not overrun.
    note.setContent(std::string("ab\xE2\x80"));
    EXPECT_EQ(note.displayTitle().substr(0, 2), "ab");
    note.setContent(std::string("\n\xC2"));
    EXPECT_FALSE(note.displayTitle().empty());
}

TEST(TextChain, ExportNameReplacesSlashesAndUsesBin) {
    Thing note(ThingKind::note, "");
    note.setContent("\nmeeting 1/2 and/or 3\nmore");
    EXPECT_EQ(note.exportFileName(), "meeting 1-2 and-or 3.bin");
    EXPECT_EQ(note.badgeText(), "NOTE");
    note.setContent("");
    EXPECT_EQ(note.exportFileName(), "Untitled Note.bin");
    note.setTypeIdentifier("public.plain-text");
    EXPECT_EQ(note.exportFileName(), "Untitled Note.txt");
    note.setFileName("a:b\\c.txt");
    EXPECT_EQ(note.exportFileName(), "a:b\\c.txt");
    // A stored name is one component too: it cannot climb out of the export folder.
    note.setFileName("../../.profile");
    EXPECT_EQ(note.exportFileName(), "..-..-.profile");
}

TEST(LinkChain, SubtitleThenAddressThenUntitledLink) {
    for (ThingKind kind : {ThingKind::link, ThingKind::github}) {
        Thing thing(kind, "");
        EXPECT_EQ(thing.displayTitle(), "Untitled Link");
        EXPECT_EQ(thing.exportFileName(), "Untitled Link.bin");
        thing.setUrlString("https://github.com/o/r");
        EXPECT_EQ(thing.displayTitle(), "https://github.com/o/r");
        EXPECT_EQ(thing.exportFileName(), "https:--github.com-o-r.bin");
        thing.setSubtitle("owner/repo: a thing");
        EXPECT_EQ(thing.displayTitle(), "owner/repo: a thing");
        // Content never names a link.
        thing.setSubtitle("");
        thing.setUrlString("");
        thing.setContent("body");
        EXPECT_EQ(thing.displayTitle(), "Untitled Link");
    }
    EXPECT_EQ(Thing(ThingKind::github, "").badgeText(), "REPO");
    EXPECT_EQ(Thing(ThingKind::link, "").badgeText(), "URL");
    EXPECT_EQ(Thing(ThingKind::tweet, "").badgeText(), "TWEET");
    EXPECT_EQ(Thing(ThingKind::quote, "").badgeText(), "QUOTE");
}

TEST(LinkChain, UnknownKindReadsAsNote) {
    Thing thing(ThingKind::link, "");
    thing.setKindRaw("podcast");
    thing.setSubtitle("subtitle");
    thing.setContent("first line");
    EXPECT_EQ(thing.displayTitle(), "first line");
    EXPECT_EQ(thing.badgeText(), "NOTE");
}

TEST(Badge, UpperCasingIsFullAndLocaleIndependent) {
    Thing thing(ThingKind::document, "");
    thing.setFileName(
        "Stra\xC3\x9F"
        "e.ma\xC3\x9F");  // "Straße.maß"
    EXPECT_EQ(thing.badgeText(), "MASS");
    thing.setFileName("x.\xEF\xAC\x80");  // the "ff" ligature
    EXPECT_EQ(thing.badgeText(), "FF");
    thing.setFileName("x.istanbul");  // no dotted capital I, whatever the user's locale
    EXPECT_EQ(thing.badgeText(), "ISTANBUL");
}

TEST(SearchableText, NineLinesInFieldThenTagThenProjectOrder) {
    Project inbox("Inbox", nullptr);
    Tag beta("beta");
    Tag alpha("Alpha");
    Thing thing(ThingKind::note, "Title");
    thing.setTags({&beta, &alpha});
    thing.setProject(&inbox);
    EXPECT_EQ(lines(thing.searchableText()),
              (std::vector<std::string>{"Title", "", "", "", "", "", "Alpha", "beta", "Inbox"}));
}

TEST(SearchableText, FieldsAreKeptAsTheyAre) {
    Thing thing(ThingKind::link, "T");
    thing.setSubtitle(" S ");
    thing.setContent("two\nlines");
    thing.setNote("N");
    thing.setUrlString("u");
    thing.setFileName("f");
    Tag same1("dup");
    Tag same2("dup");
    thing.setTags({&same1, &same2});
    EXPECT_EQ(thing.searchableText(), "T\n S \ntwo\nlines\nN\nu\nf\ndup\ndup");
    Thing bare(ThingKind::note, "");
    EXPECT_EQ(bare.searchableText(), "\n\n\n\n\n");
}

TEST(TagList, StableCaseInsensitiveOrder) {
    Tag b("b");
    Tag upperA("A");
    Tag lowerA("a");
    Tag upperB("B");
    Tag accented("\xC3\xA9t\xC3\xA9");  // "été"
    Tag e("ete");
    Thing thing(ThingKind::note, "");
    thing.setTags({&b, &upperA, &accented, &lowerA, &upperB, &e});
    std::vector<std::string> names;
    for (const Tag* tag : thing.tagList()) {
        names.push_back(tag->name());
    }
    // Equal names keep the relationship order; accents are not ignored.
    EXPECT_EQ(names, (std::vector<std::string>{"A", "a", "b", "B", "ete", "\xC3\xA9t\xC3\xA9"}));
    // The stored order is left alone.
    EXPECT_EQ(thing.tags().front(), &b);
    EXPECT_TRUE(Thing(ThingKind::note, "").tagList().empty());
}

}  // namespace
}  // namespace tavro::model
