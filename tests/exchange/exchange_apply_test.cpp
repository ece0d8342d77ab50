// SPDX-License-Identifier: MIT
// How host records are brought into the store: newer wins, linked things merge by file
// fingerprints, deletes, cycles, duplicates, and all-or-nothing application.

#include <gtest/gtest.h>

#include "model/Project.h"
#include "model/Tag.h"
#include "model/Thing.h"
#include "exchange/FileFingerprint.h"
#include "store/UnitOfWork.h"
#include "support/ExchangeFixture.h"

namespace tavro::test {
namespace {

namespace json = platform::json;

const std::string P1 = "10000000-0000-0000-0000-000000000001";
const std::string P2 = "10000000-0000-0000-0000-000000000002";
const std::string P3 = "10000000-0000-0000-0000-000000000003";
const std::string G1 = "20000000-0000-0000-0000-000000000001";
const std::string G2 = "20000000-0000-0000-0000-000000000002";
const std::string T1 = "30000000-0000-0000-0000-000000000001";
const std::string T2 = "30000000-0000-0000-0000-000000000002";

using ApplyTest = ExchangeFixture;

// ---- Newer wins ---------------------------------------------------------------------

TEST_F(ApplyTest, StoredThingOneMillisecondNewerIsLeftWhollyUntouched) {
    exchange({project(P1), tag(G1),
              thing(T1, {{"title", "stored"},
                         {"updatedAt", 1001},
                         {"tags", json::Array{G1}},
                         {"project", P1}})});
    auto response = exchange({thing(T1, {{"title", "host"}, {"updatedAt", 1000}})});
    auto record = *response->record(T1);
    EXPECT_EQ(textOf(record, "title"), "stored");
    EXPECT_EQ(textOf(record, "project"), P1);
    EXPECT_EQ(arrayOf(record, "tags").size(), 1u);
}

TEST_F(ApplyTest, EqualTimesApply) {
    exchange({thing(T1, {{"title", "stored"}, {"updatedAt", 1000}})});
    auto response = exchange({thing(T1, {{"title", "host"}, {"updatedAt", 1000}})});
    EXPECT_EQ(textOf(*response->record(T1), "title"), "host");
}

TEST_F(ApplyTest, MissingUpdatedAtAppliesToNewThingsAndLosesToStoredOnes) {
    auto first = exchange({thing(T1, {{"title", "new"}})});
    EXPECT_EQ(integerOf(*first->record(T1), "updatedAt"), 0);
    exchange({thing(T1, {{"title", "later"}, {"updatedAt", 5}})});
    auto response = exchange({thing(T1, {{"title", "no time"}})});
    EXPECT_EQ(textOf(*response->record(T1), "title"), "later");
}

TEST_F(ApplyTest, ProjectsAndTagsAlwaysOverwriteAndDefaultToTheEpoch) {
    exchange({project(P1, {{"name", "Old"}, {"createdAt", 99999}}), tag(G1, {{"name", "a"}})});
    auto response = exchange({project(P1, {{"name", "New"}}), tag(G1, {{"name", " spaced "}})});
    auto p = *response->record(P1);
    EXPECT_EQ(textOf(p, "name"), "New");
    EXPECT_EQ(integerOf(p, "createdAt"), 0);
    EXPECT_EQ(textOf(*response->record(G1), "name"), " spaced ");
}

TEST_F(ApplyTest, ValuesOfTheWrongTypeTakeTheirDefaults) {
    auto response = exchange({thing(T1, {{"title", 5},
                                         {"fileSize", 5.5},
                                         {"aspectRatio", "wide"},
                                         {"isStarred", 1},
                                         {"trashedAt", nullptr},
                                         {"tags", json::Array{G1, 7}},
                                         {"updatedAt", 62.5}})});
    auto record = *response->record(T1);
    EXPECT_EQ(textOf(record, "title"), "");
    EXPECT_EQ(integerOf(record, "fileSize"), 0);
    EXPECT_EQ(numberOf(record, "aspectRatio"), 1.0);
    EXPECT_TRUE(booleanOf(record, "isStarred"));
    EXPECT_FALSE(has(record, "trashedAt"));
    EXPECT_EQ(integerOf(record, "updatedAt"), 63);  // 62.5 ms kept as 0.0625 s, written 63
}

TEST_F(ApplyTest, TagsKeepRequestOrderDropUnknownAndAreReportedSorted) {
    auto response =
        exchange({tag(G2), tag(G1),
                  thing(T1, {{"tags", json::Array{G2, "nonsense", G1,
                                                  "20000000-0000-0000-0000-00000000000f"}}})});
    std::vector<std::string_view> tags;
    for (json::Element tag : arrayOf(*response->record(T1), "tags")) {
        tags.push_back(json::asString(tag).value());
    }
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(tags[0], G1);
    EXPECT_EQ(tags[1], G2);
}

TEST_F(ApplyTest, UpperCaseIdentifiersAreAcceptedAndAnsweredInLowerCase) {
    std::string upper = "ABCDEF00-0000-0000-0000-0000000000AA";
    auto response = exchange({project(upper), thing(T1, {{"project", upper}})});
    EXPECT_EQ(textOf(*response->record(T1), "project"), "abcdef00-0000-0000-0000-0000000000aa");
}

// ---- Linked things ----------------------------------------------------------------------

class LinkedMergeTest : public ExchangeFixture {
  protected:
    // A linked project P1 with child P2; T1 inside P2 with content "base".
    void SetUp() override {
        ExchangeFixture::SetUp();
        auto response =
            exchange({project(P1, {{"linkedFolderOwner", "host-a"}}), project(P2, {{"parent", P1}}),
                      thing(T1, {{"content", "base"}, {"project", P2}, {"updatedAt", 1000}})});
        base_ = textOf(*response->record(T1), "fileFingerprint");
    }

    void changeStoredContent(const std::string& content) {
        exchange({thing(T1, {{"content", content}, {"project", P2}, {"updatedAt", 2000}})});
    }

    std::unique_ptr<Parsed> hostSends(const std::string& content, bool withBase = true) {
        json::Object fields{
            {"content", content}, {"note", "from host"}, {"project", P2}, {"updatedAt", 1}};
        if (withBase) {
            fields.push_back({"baseFileFingerprint", base_});
        }
        return exchange({thing(T1, std::move(fields))});
    }

    size_t thingCount(const Parsed& response) { return response.records("Thing").size(); }

    std::string base_;
};

TEST_F(LinkedMergeTest, HostUnchangedStoreChangedKeepsTheStore) {
    changeStoredContent("store edit");
    auto response = hostSends("base");
    EXPECT_EQ(textOf(*response->record(T1), "content"), "store edit");
    EXPECT_EQ(textOf(*response->record(T1), "note"), "");
    EXPECT_EQ(thingCount(*response), 1u);
}

TEST_F(LinkedMergeTest, HostChangedStoreUnchangedAppliesWithoutCopy) {
    auto response = hostSends("host edit");
    EXPECT_EQ(textOf(*response->record(T1), "content"), "host edit");
    EXPECT_EQ(thingCount(*response), 1u);
}

TEST_F(LinkedMergeTest, BothChangedAlikeAppliesWithoutCopy) {
    changeStoredContent("same edit");
    auto response = hostSends("same edit");
    EXPECT_EQ(textOf(*response->record(T1), "note"), "from host");
    EXPECT_EQ(thingCount(*response), 1u);
}

TEST_F(LinkedMergeTest, BothChangedDifferentlyKeepsOneConflictCopyThenApplies) {
    changeStoredContent("store edit");
    auto response = hostSends("host edit");
    EXPECT_EQ(textOf(*response->record(T1), "content"), "host edit");
    ASSERT_EQ(thingCount(*response), 2u);
    for (auto record : response->records("Thing")) {
        if (textOf(record, "uuid") != T1) {
            EXPECT_EQ(textOf(record, "content"), "store edit");
            EXPECT_EQ(textOf(record, "title"), " (iCloud conflict)");
            EXPECT_EQ(textOf(record, "project"), P2);
        }
    }
}

TEST_F(LinkedMergeTest, NothingChangedAppliesTheHostsOtherFields) {
    auto response = hostSends("base");
    EXPECT_EQ(textOf(*response->record(T1), "note"), "from host");
    EXPECT_EQ(integerOf(*response->record(T1), "updatedAt"), 1);  // no time comparison
}

TEST_F(LinkedMergeTest, WithoutBaseFingerprintNewerWins) {
    auto response = hostSends("host edit", /*withBase=*/false);
    EXPECT_EQ(textOf(*response->record(T1), "content"), "base");
}

TEST_F(LinkedMergeTest, LinkIsJudgedWithEarlierRecordsOfTheRequestApplied) {
    changeStoredContent("store edit");
    // The same request unlinks the folder first: the thing then merges by time and loses.
    auto response = exchange(
        {project(P1, {{"linkedFolderOwner", ""}}), thing(T1, {{"content", "base"},
                                                              {"project", P2},
                                                              {"updatedAt", 1},
                                                              {"baseFileFingerprint", base_}})});
    EXPECT_EQ(textOf(*response->record(T1), "content"), "store edit");
}

// ---- Deletes ----------------------------------------------------------------------------

TEST_F(ApplyTest, DeletingAProjectKeepsItsSubProjectsTopLevelAndItsThings) {
    exchange({project(P1), project(P2, {{"parent", P1}}), project(P3, {{"parent", P2}}),
              thing(T1, {{"project", P1}})});
    auto response = exchange({deleted("Project", P1)});
    EXPECT_FALSE(response->record(P1));
    EXPECT_FALSE(has(*response->record(P2), "parent"));
    EXPECT_EQ(textOf(*response->record(P3), "parent"), P2);
    EXPECT_FALSE(has(*response->record(T1), "project"));
}

TEST_F(ApplyTest, ATagDeletedAndAssignedInOneRequestIsGone) {
    exchange({tag(G1)});
    auto response = exchange({thing(T1, {{"tags", json::Array{G1}}}), deleted("Tag", G1)});
    EXPECT_FALSE(response->record(G1));
    EXPECT_EQ(arrayOf(*response->record(T1), "tags").size(), 0u);
}

TEST_F(ApplyTest, DeletedFlagAcceptsOneAndZero) {
    exchange({thing(T1), thing(T2)});
    auto response = exchange({json::Object{{"recordType", "Thing"}, {"uuid", T1}, {"deleted", 1}},
                              json::Object{{"recordType", "Thing"}, {"uuid", T2}, {"deleted", 0}}});
    EXPECT_FALSE(response->record(T1));
    EXPECT_TRUE(response->record(T2));
}

TEST_F(ApplyTest, DeletingAnUnknownRecordChangesNothing) {
    exchange({thing(T1)});
    auto response = exchange({deleted("Thing", T2)});
    EXPECT_EQ(response->records("Thing").size(), 1u);
}

// ---- Refusals, each leaving the store as it was -----------------------------------------

class RefusalTest : public ExchangeFixture {
  protected:
    void SetUp() override {
        ExchangeFixture::SetUp();
        before_ =
            exchange({project(P1, {{"name", "kept"}}), thing(T1, {{"title", "kept"}})})->text();
    }
    void expectUnchanged() { EXPECT_EQ(exchange({})->text(), before_); }
    std::string before_;
};

TEST_F(RefusalTest, InvalidIdentifierEvenInADeletedRecord) {
    EXPECT_EQ(
        exchangeError(
            {project(P1, {{"name", "changed"}}),
             json::Object{{"recordType", "Thing"}, {"uuid", "{" + T2 + "}"}, {"deleted", true}}}),
        "Invalid record identifier.");
    expectUnchanged();
}

TEST_F(RefusalTest, UnknownRecordTypeEvenInADeletedRecord) {
    EXPECT_EQ(exchangeError(
                  {thing(T1, {{"title", "changed"}, {"updatedAt", 1e12}}), deleted("thing", T2)}),
              "Unknown iCloud record type.");
    expectUnchanged();
    EXPECT_EQ(exchangeError({json::Object{{"uuid", T2}}}), "Unknown iCloud record type.");
}

TEST_F(RefusalTest, ProjectCycle) {
    EXPECT_EQ(exchangeError({project(P2, {{"parent", P3}}), project(P3, {{"parent", P2}}),
                             project(P1, {{"name", "changed"}})}),
              "The library contains a project cycle.");
    expectUnchanged();
    EXPECT_EQ(exchangeError({project(P1, {{"parent", P1}})}),
              "The library contains a project cycle.");
}

TEST_F(RefusalTest, AssetOutsideTheExchangeDirectory) {
    EXPECT_EQ(
        exchangeError({project(P1, {{"name", "changed"}}), thing(T2, {{"data", "/etc/hostname"}})}),
        "Invalid asset path.");
    expectUnchanged();
}

TEST_F(RefusalTest, DuplicateIdentifiersInTheStoreFailEveryExchange) {
    {
        store::UnitOfWork unitOfWork(*store_);
        auto twin = std::make_unique<model::Thing>(model::ThingKind::note, "twin");
        twin->setUuid(*platform::Uuid::parse(T1));
        unitOfWork.insert(std::move(twin));
        unitOfWork.save();
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(exchangeError({}),
                  "The iCloud library contains duplicate identifiers. Sync paused to preserve "
                  "your data.");
    }
}

}  // namespace
}  // namespace tavro::test
