// SPDX-License-Identifier: MIT
// What an exchange answers and writes: fingerprints (checked against values computed here
// independently), conflict copies, asset confinement, and the files in "received".

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "exchange/ConflictCopy.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "platform/Json.h"
#include "platform/Sha256.h"
#include "store/Store.h"
#include "support/ExchangeFixture.h"
#include "support/FaultyFileSystem.h"

namespace tavro::test {
namespace {

namespace json = platform::json;
namespace fs = std::filesystem;

const std::string P1 = "10000000-0000-0000-0000-000000000001";
const std::string G1 = "20000000-0000-0000-0000-000000000001";
const std::string T1 = "30000000-0000-0000-0000-000000000001";
const std::string T2 = "30000000-0000-0000-0000-000000000002";

using ReportTest = ExchangeFixture;

// The record fingerprint recomputed from the response: the record as a tree, digests in place
// of paths, written with the general sorted writer.
std::string expectedRecordFingerprint(json::ObjectView record, const std::string& dataSha,
                                      const std::string& thumbSha) {
    json::Object tree;
    for (auto field : record) {
        std::string key(field.key);
        if (key == "fingerprint") {
            continue;
        }
        json::Value value;
        if (key == "data") {
            value = dataSha;
        } else if (key == "thumbnail") {
            value = thumbSha;
        } else {
            value = json::toValue(field.value);
        }
        tree.push_back({key, value});
    }
    return platform::sha256Hex(json::write(tree, json::KeyOrder::Sorted));
}

TEST_F(ReportTest, FingerprintsMatchIndependentlyComputedValues) {
    std::string data = writeAsset("in/empty.bin", "");
    std::string thumb = writeAsset("in/thumb.png", "PNG");
    auto response = exchange({tag(G1), thing(T1, {{"kind", "link"},
                                                  {"title", "Caf\u00e9 \u201cquoted\u201d"},
                                                  {"content", "line\nbreak \"q\" \\"},
                                                  {"urlString", "https://example.org/a/b"},
                                                  {"fileName", "x.bin"},
                                                  {"trashedAt", -62.5},
                                                  {"tags", json::Array{G1}},
                                                  {"data", data},
                                                  {"thumbnail", thumb}})});
    auto record = *response->record(T1);
    EXPECT_EQ(integerOf(record, "trashedAt"), -63);

    std::string emptySha = platform::sha256Hex("");
    json::Object file{{"content", "line\nbreak \"q\" \\"},
                      {"data", emptySha},
                      {"kind", "link"},
                      {"name", "x.bin"},
                      {"title", "Caf\u00e9 \u201cquoted\u201d"},
                      {"trashed", int64_t{-63}},
                      {"url", "https://example.org/a/b"}};
    std::string fileBytes = json::write(file, json::KeyOrder::Sorted);
    EXPECT_NE(fileBytes.find("https:\\/\\/example.org\\/a\\/b"), std::string::npos);
    EXPECT_NE(fileBytes.find("Caf\u00e9"), std::string::npos);  // raw UTF-8
    EXPECT_EQ(textOf(record, "fileFingerprint"), platform::sha256Hex(fileBytes));
    EXPECT_EQ(textOf(record, "fingerprint"),
              expectedRecordFingerprint(record, emptySha, platform::sha256Hex("PNG")));
}

TEST_F(ReportTest, FileFingerprintCoversExactlyTheFileValues) {
    auto a = exchange({thing(T1, {{"title", "same"}, {"note", "one"}}),
                       thing(T2, {{"title", "same"}, {"note", "two"}, {"isStarred", true}})});
    EXPECT_EQ(textOf(*a->record(T1), "fileFingerprint"), textOf(*a->record(T2), "fileFingerprint"));
    EXPECT_NE(textOf(*a->record(T1), "fingerprint"), textOf(*a->record(T2), "fingerprint"));

    std::string empty = writeAsset("empty", "");
    auto b = exchange({thing(T2, {{"title", "same"}, {"data", empty}})});
    EXPECT_NE(textOf(*b->record(T1), "fileFingerprint"), textOf(*b->record(T2), "fileFingerprint"));
}

TEST_F(ReportTest, ResponseOmitsAbsentOptionalsAndKeepsTheDirectoryAsGiven) {
    auto response = exchange({project(P1), thing(T1)});
    auto p = *response->record(P1);
    EXPECT_FALSE(has(p, "parent"));
    EXPECT_EQ(textOf(p, "linkedFolderOwner"), "");
    auto t = *response->record(T1);
    for (const char* key : {"project", "trashedAt", "data", "thumbnail", "icon", "error"}) {
        EXPECT_FALSE(has(t, key)) << key;
    }
    EXPECT_EQ(textOf(response->top(), "directory"), directory_);
    EXPECT_EQ(textOf(response->top(), "status"), "iCloud enabled \u2014 waiting for sync");
    EXPECT_FALSE(has(response->top(), "lastSync"));
}

// ---- Conflict copies ----------------------------------------------------------------------

TEST(ConflictCopyTest, IdentifierIsTheFirstSixteenBytesOfTheSeedsDigest) {
    auto original = *platform::Uuid::parse("0a1b2c3d-0000-4000-8000-00000000abcd");
    std::string fingerprint(64, 'f');
    std::string digest = platform::sha256Hex("0A1B2C3D-0000-4000-8000-00000000ABCD" + fingerprint);
    std::string expected = digest.substr(0, 8) + "-" + digest.substr(8, 4) + "-" +
                           digest.substr(12, 4) + "-" + digest.substr(16, 4) + "-" +
                           digest.substr(20, 12);
    EXPECT_EQ(exchange::conflictCopyIdentifier(original, fingerprint).lowercase(), expected);
    EXPECT_NE(exchange::conflictCopyIdentifier(original, std::string(64, 'e')).lowercase(),
              expected);
}

TEST(ConflictCopyTest, FileNamesAndMetadata) {
    EXPECT_EQ(exchange::conflictFileName("Report.final.pdf"), "Report.final (iCloud conflict).pdf");
    EXPECT_EQ(exchange::conflictFileName("README"), "README (iCloud conflict)");
    EXPECT_EQ(exchange::conflictFileName(""), "");
    EXPECT_EQ(exchange::conflictMetadata(R"({"linkedRelativePath":"a/b","author":"Ann"})"),
              R"({"author":"Ann"})");
    EXPECT_EQ(exchange::conflictMetadata("[1,2]"), "[1,2]");
    EXPECT_EQ(exchange::conflictMetadata("not json"), "not json");
    EXPECT_EQ(exchange::conflictMetadata(""), "");
}

TEST_F(ReportTest, ConflictCopyOfATrashedThingIsNotTrashedAndIsMadeOnce) {
    exchange({project(P1, {{"linkedFolderOwner", "x"}}),
              thing(T1, {{"content", "base"},
                         {"project", P1},
                         {"fileName", "a.txt"},
                         {"metadataJson", R"({"linkedRelativePath":"a.txt","author":"A"})"},
                         {"createdAt", 5000},
                         {"updatedAt", 1000}})});
    std::string base = textOf(*exchange({})->record(T1), "fileFingerprint");
    json::Object stored{
        {"content", "store"},  {"project", P1},
        {"fileName", "a.txt"}, {"trashedAt", 7000},
        {"createdAt", 5000},   {"metadataJson", R"({"linkedRelativePath":"a.txt","author":"A"})"},
        {"updatedAt", 2000}};
    json::Object host{{"content", "host"},
                      {"project", P1},
                      {"fileName", "a.txt"},
                      {"baseFileFingerprint", base},
                      {"updatedAt", 3000}};
    // The same conflict twice (the store's side back as it was): one copy.
    for (int64_t round : {0, 1}) {
        stored.back().value = int64_t{4000 * (round + 1)};
        exchange({thing(T1, stored)});
        exchange({thing(T1, host)});
    }
    auto response = exchange({});
    auto things = response->records("Thing");
    ASSERT_EQ(things.size(), 2u);
    auto copy = textOf(things[0], "uuid") == T1 ? things[1] : things[0];
    EXPECT_EQ(textOf(copy, "fileName"), "a (iCloud conflict).txt");
    EXPECT_EQ(textOf(copy, "content"), "store");
    EXPECT_FALSE(has(copy, "trashedAt"));
    EXPECT_EQ(integerOf(copy, "createdAt"), 5000);
    EXPECT_GT(integerOf(copy, "updatedAt"), 1'000'000'000'000);
    EXPECT_EQ(textOf(copy, "metadataJson"), R"({"author":"A"})");
}

// ---- Assets and confinement ----------------------------------------------------------------

TEST_F(ReportTest, AssetConfinement) {
    std::string inside = writeAsset("files/photo.png", "inside");
    fs::path outside = fs::path(temp_.path()) / "outside.bin";
    platform::FileSystem::real().writeFileAtomically(outside.string(), "outside");
    fs::create_symlink(outside, fs::path(directory_) / "leak");
    fs::create_symlink(inside, fs::path(temp_.path()) / "door");

    EXPECT_EQ(exchangeError({thing(T1, {{"data", directory_ + "/leak"}})}), "Invalid asset path.");
    EXPECT_EQ(exchangeError({thing(T1, {{"data", directory_ + "/files/../../outside.bin"}})}),
              "Invalid asset path.");
    EXPECT_EQ(exchangeError({thing(T1, {{"data", directory_}})}), "Invalid asset path.");
    EXPECT_EQ(exchangeError({thing(T1, {{"data", temp_.path() + "/missing.bin"}})}),
              "Invalid asset path.");
    EXPECT_NE(exchangeError({thing(T1, {{"data", directory_ + "/missing.bin"}})}),
              "Invalid asset path.");
    EXPECT_NE(exchangeError({thing(T1, {{"data", directory_ + "/files"}})}), "Invalid asset path.");

    // A link from outside that lands inside is fine; a number is no asset at all.
    auto response = exchange({thing(T1, {{"data", temp_.path() + "/door"}, {"icon", 12}})});
    EXPECT_TRUE(has(*response->record(T1), "data"));
    EXPECT_FALSE(has(*response->record(T1), "icon"));
}

TEST_F(ReportTest, BadDataPathFailsEvenWhenTheRecordWouldBeSkipped) {
    exchange({thing(T1, {{"updatedAt", 5000}})});
    EXPECT_EQ(exchangeError({thing(T1, {{"updatedAt", 1}, {"data", "/etc/passwd"}})}),
              "Invalid asset path.");
}

// ---- Received files ----------------------------------------------------------------------

class ReceivedTest : public ExchangeFixture {
  protected:
    std::string received() const { return directory_ + "/received"; }
    size_t fileCount() const {
        return std::distance(fs::directory_iterator(received()), fs::directory_iterator());
    }
};

TEST_F(ReceivedTest, EmptyStoreAnswersNoRecordsAndCreatesTheFolder) {
    auto response = exchange({});
    EXPECT_EQ(arrayOf(response->top(), "records").size(), 0u);
    EXPECT_TRUE(fs::is_directory(received()));
}

TEST_F(ReceivedTest, FilesAreWrittenOnlyWhenTheHostsFingerprintDiffers) {
    std::string data = writeAsset("d.bin", "data bytes");
    std::string thumb = writeAsset("t.png", "thumb v1");
    auto first = exchange({thing(T1, {{"data", data}, {"thumbnail", thumb}}), thing(T2)});
    std::string dataPath = textOf(*first->record(T1), "data");
    EXPECT_EQ(dataPath, received() + "/" + T1 + ".data");
    EXPECT_EQ(textOf(*first->record(T1), "thumbnail"), received() + "/" + T1 + ".thumbnail");
    EXPECT_EQ(fileCount(), 2u);  // T2 holds no content

    // Unchanged and known: nothing is written, but the paths are still reported.
    fs::remove_all(received());
    auto second = exchange({}, knownFingerprints(*first));
    EXPECT_EQ(fileCount(), 0u);
    EXPECT_EQ(textOf(*second->record(T1), "data"), dataPath);
    EXPECT_EQ(textOf(*second->record(T1), "fingerprint"),
              textOf(*first->record(T1), "fingerprint"));

    // Only the thumbnail changes: the fingerprint changes and every file is written again.
    writeAsset("t.png", "thumb v2");
    auto third =
        exchange({thing(T1, {{"data", data}, {"thumbnail", thumb}})}, knownFingerprints(*second));
    EXPECT_NE(textOf(*third->record(T1), "fingerprint"),
              textOf(*second->record(T1), "fingerprint"));
    EXPECT_EQ(fileCount(), 2u);
    EXPECT_EQ(platform::FileSystem::real().readFile(dataPath), "data bytes");
}

// An exchange into an empty store lets go of a large request's document before it answers; a
// host that still holds the library (its store made anew) must still be spared every file.
TEST_F(ReceivedTest, AFirstImportAnswersByTheHostsFingerprintsAfterLettingGoOfItsRequest) {
    std::string data = writeAsset("d.bin", "data bytes");
    json::Array records{thing(T1, {{"data", data}, {"note", std::string(size_t{2} << 20, 'n')}}),
                        thing(T2, {{"data", data}})};
    auto first = exchange(records);
    json::Object known = knownFingerprints(*first);
    store_.reset();
    fs::remove_all(fs::path(storePath_).parent_path());
    fs::create_directories(fs::path(storePath_).parent_path());
    store_ = store::Store::open(storePath_);
    fs::remove_all(received());

    auto again = exchange(records, known);
    EXPECT_EQ(fileCount(), 0u);
    EXPECT_EQ(json::write(knownFingerprints(*again)), json::write(known));
}

// The store owner answers things unchanged since the last response from the records it wrote
// then. Each answer must be the very text that a fresh connection, reading every row and
// writing every record anew, gives for the same request.
TEST_F(ReceivedTest, RecordsAnsweredFromTheLastResponseAreExactlyThoseWrittenAfresh) {
    const std::string G2 = "20000000-0000-0000-0000-000000000002";
    std::string data = writeAsset("d.bin", "data bytes");
    auto fresh = store::Store::open(storePath_);
    auto expectSameAsFresh = [&](const Parsed& answered, const char* step) {
        json::Parser parser;
        auto request = exchange::ExchangeRequest::parse(parser, lastRequest_);
        EXPECT_EQ(answered.text(), exchange::runExchangeBody(*fresh, request, *fileSystem_, sync_))
            << step;
    };
    json::Array records{project(P1), tag(G1), tag(G2),
                        thing(T1, {{"title", "one"}, {"tags", json::Array{G1, G2}}}),
                        thing(T2, {{"data", data}, {"project", P1}, {"tags", json::Array{G2}}})};
    auto first = exchange(records);
    expectSameAsFresh(*first, "first import");
    // Each response after this is written over a text given back, as the bridge gives back
    // every response once its host has it.
    memo_.reuseText(std::string(size_t{2} << 20, 'x'));
    auto held = exchange(records, knownFingerprints(*first));  // the host holds every thing
    expectSameAsFresh(*held, "held");
    memo_.reuseText(std::string(size_t{3} << 20, 'y'));
    auto again = exchange(records, knownFingerprints(*held));  // answered from the memo
    expectSameAsFresh(*again, "unchanged");

    // A changed title, a deleted tag and project: each changes what the things' records show.
    records = {tag(G1), thing(T1, {{"title", "two"}, {"tags", json::Array{G1, G2}}}),
               thing(T2, {{"data", data}, {"project", P1}, {"tags", json::Array{G2}}}),
               deleted("Tag", G2), deleted("Project", P1)};
    auto changed = exchange(records, knownFingerprints(*again));
    expectSameAsFresh(*changed, "changed");
    EXPECT_EQ(arrayOf(*changed->record(T2), "tags").size(), 0u);
    EXPECT_FALSE(has(*changed->record(T2), "project"));

    // The host lost its copy of T2: its files are written again, its record is the same.
    fs::remove_all(received());
    json::Object known = knownFingerprints(*changed);
    std::erase_if(known, [&](const json::Member& member) { return member.key == "Thing:" + T2; });
    auto lost = exchange({}, known);
    expectSameAsFresh(*lost, "lost");
    EXPECT_EQ(platform::FileSystem::real().readFile(received() + "/" + T2 + ".data"), "data bytes");
}

TEST_F(ReceivedTest, AFailedFileWriteKeepsTheSavedChangesAndNoHalfWrittenFile) {
    std::string data = writeAsset("d.bin", "bytes");
    FaultyFileSystem faulty;
    faulty.failFrom(FaultyFileSystem::Operation::Rename, 2, ENOSPC);  // the second received file
    fileSystem_ = &faulty;
    EXPECT_FALSE(exchangeError({thing(T1, {{"data", data}}), thing(T2, {{"data", data}})}).empty());
    fileSystem_ = &platform::FileSystem::real();
    for (const auto& entry : fs::directory_iterator(received())) {
        EXPECT_EQ(platform::FileSystem::real().readFile(entry.path().string()), "bytes")
            << entry.path();  // whole files only, no temporary ones
    }
    EXPECT_LE(fileCount(), 1u);
    auto response = exchange({});
    EXPECT_TRUE(response->record(T1));  // saved before the response failed
    EXPECT_TRUE(response->record(T2));
}

// The response is drafted while the save writes; its files still wait for the commit, so a
// save that fails hands over no file, not even one of a content already stored.
TEST_F(ReceivedTest, AFailedSaveHandsOverNoFile) {
    const std::string T3 = "30000000-0000-0000-0000-000000000003";
    std::string data = writeAsset("d.bin", "bytes");
    std::string other = writeAsset("o.bin", "other bytes");
    FaultyFileSystem faulty;
    store_ = store::Store::open(storePath_, faulty);
    auto first = exchange({thing(T1, {{"data", data}})});
    fs::remove_all(received());
    faulty.failAlways(FaultyFileSystem::Operation::Rename, ENOSPC);  // the new blob of T3
    EXPECT_THROW(exchange({thing(T2, {{"data", data}}), thing(T3, {{"data", other}})},
                          knownFingerprints(*first)),
                 platform::Error);
    EXPECT_FALSE(fs::exists(received()));
    faulty.clearFaults();
    EXPECT_FALSE(exchange({})->record(T2));  // nothing was saved
    // The store goes before the file system it uses.
    store_.reset();
}

// The files written beside the save are those the store's contents give once it is done: the
// same bytes a later exchange copies from the store, whether small or large, shared by two
// things, or of a thing the request names twice. One of a thing the request then deletes is
// not handed over, and nothing temporary stays.
TEST_F(ReceivedTest, FilesWrittenBesideTheSaveHoldWhatTheStoreHolds) {
    const std::string T3 = "30000000-0000-0000-0000-000000000003";
    const std::string T4 = "40000000-0000-0000-0000-000000000004";
    std::string small = writeAsset("s.bin", "small");
    std::string large = writeAsset("l.bin", std::string((size_t{1} << 20) + 1, 'x'));
    exchange({thing(T1, {{"data", small}, {"thumbnail", large}}), thing(T2, {{"data", small}}),
              thing(T3, {{"data", writeAsset("f.bin", "first")}}),
              thing(T3, {{"data", writeAsset("g.bin", "second")}}),
              thing(T4, {{"data", writeAsset("h.bin", "gone")}}), deleted("Thing", T4)});
    auto contents = [&] {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(received())) {
            files[entry.path().filename().string()] =
                platform::FileSystem::real().readFile(entry.path().string());
        }
        return files;
    };
    const auto besideTheSave = contents();
    EXPECT_EQ(besideTheSave.size(), 4u);
    EXPECT_EQ(besideTheSave.count(T4 + ".data"), 0u);
    fs::remove_all(received());
    exchange({});  // no fingerprint known: every file again, from the store
    EXPECT_EQ(contents(), besideTheSave);
}

// The save writes the received files of its new contents as a convenience: when it cannot, they
// are written after the commit, and the exchange goes on as if nothing had happened.
TEST_F(ReceivedTest, ReceivedFilesTheSaveCouldNotWriteAreWrittenAfterIt) {
    std::string data = writeAsset("d.bin", "bytes");
    FaultyFileSystem faulty;
    store_ = store::Store::open(storePath_, faulty);
    faulty.failNth(FaultyFileSystem::Operation::Copy, 2, ENOSPC);  // the blob's received copy
    auto response = exchange({thing(T1, {{"data", data}}), thing(T2, {{"data", data}})});
    EXPECT_TRUE(response->record(T1));
    EXPECT_EQ(fileCount(), 2u);
    for (const auto& entry : fs::directory_iterator(received())) {
        EXPECT_EQ(platform::FileSystem::real().readFile(entry.path().string()), "bytes")
            << entry.path();  // whole files only, no temporary ones
    }
    store_.reset();  // the store goes before the file system it uses
}

TEST_F(ReceivedTest, KnownFingerprintsWithANonTextValueAreIgnoredWhole) {
    std::string data = writeAsset("d.bin", "bytes");
    auto first = exchange({thing(T1, {{"data", data}})});
    fs::remove_all(received());
    json::Object known = knownFingerprints(*first);
    known.push_back({"Thing:" + T2, 5});
    exchange({}, known);
    EXPECT_EQ(fileCount(), 1u);
}

}  // namespace
}  // namespace tavro::test
