// SPDX-License-Identifier: MIT
#include "platform/CloudErrorDescription.h"

#include <gtest/gtest.h>

#include "platform/BridgeError.h"

namespace tavro::platform {
namespace {

ErrorRef cloudKit(int64_t code, std::string text) {
    return makeError(kCloudKitErrorDomain, code, std::move(text));
}

ErrorRef batchOf(const std::vector<ErrorRef>& perRecord) {
    ErrorRef batch = cloudKit(kCloudKitBatchRequestFailed, "Batch request failed");
    for (size_t i = 0; i < perRecord.size(); ++i) {
        batch->partialErrors.emplace_back("record-" + std::to_string(i), perRecord[i]);
    }
    return batch;
}

TEST(CloudErrorDescription, BridgeErrorIsItsMessageAlone) {
    BridgeError error(message::kStoreNotInAppGroup);
    EXPECT_EQ(cloudErrorDescription(error.value()),
              "The iCloud store must be in Tavro\u2019s App Group.");
}

TEST(CloudErrorDescription, CloudKitTextsChooseUserInfoFirstAndCarryTheCode) {
    EXPECT_EQ(cloudErrorDescription(cloudKit(3, "Network unavailable")),
              "Network unavailable (CloudKit 3)");

    ErrorRef withServerText = cloudKit(9, "Not authenticated");
    withServerText->cloudKitDescription = "Server says no";
    EXPECT_EQ(cloudErrorDescription(withServerText), "Server says no (CloudKit 9)");

    withServerText->userInfoLocalizedDescription = "Sign in again";
    EXPECT_EQ(cloudErrorDescription(withServerText), "Sign in again (CloudKit 9)");

    // Only CloudKit's domain gets the suffix, whatever the code.
    EXPECT_EQ(cloudErrorDescription(makeError(kCocoaErrorDomain, 3, "Cocoa three")), "Cocoa three");
}

TEST(CloudErrorDescription, BatchReportsDistinctPerRecordTextsWithoutItsOwn) {
    ErrorRef batch =
        batchOf({cloudKit(14, "Conflict"), cloudKit(14, "Conflict"), cloudKit(11, "Missing"),
                 cloudKit(14, "Conflict"), cloudKit(11, "Missing")});
    EXPECT_EQ(cloudErrorDescription(batch), "Conflict (CloudKit 14); Missing (CloudKit 11)");
}

TEST(CloudErrorDescription, KeepsTheFirstThreeTextsInCodePointOrder) {
    // Upper case sorts before lower case, and é (U+00E9) after every ASCII letter.
    ErrorRef batch = batchOf(
        {makeError(kCocoaErrorDomain, 1, "\u00e9tat"), makeError(kCocoaErrorDomain, 1, "beta"),
         makeError(kCocoaErrorDomain, 1, "Zulu"), makeError(kCocoaErrorDomain, 1, "alpha")});
    EXPECT_EQ(cloudErrorDescription(batch), "Zulu; alpha; beta");
}

TEST(CloudErrorDescription, BatchWrapperIsKeptWhenNothingElseRemains) {
    EXPECT_EQ(cloudErrorDescription(cloudKit(22, "Batch request failed")),
              "Batch request failed (CloudKit 22)");
    // A batch wrapper below another batch wrapper is dropped, its sibling kept.
    ErrorRef inner = cloudKit(22, "Inner batch");
    ErrorRef outer = batchOf({inner, cloudKit(7, "Limit")});
    EXPECT_EQ(cloudErrorDescription(outer), "Limit (CloudKit 7)");
}

TEST(CloudErrorDescription, PerItemAndUnderlyingLeavesAreBothReported) {
    // The wrapper with an underlying chain is described by the chain's end, not by itself.
    ErrorRef batch = batchOf({makeError("D", 1, "d"), makeError("C", 1, "c")});
    batch->underlying = makeError("B", 1, "b");
    batch->underlying->underlying = makeError("A", 1, "a");
    EXPECT_EQ(cloudErrorDescription(batch), "a; c; d");
}

TEST(CloudErrorDescription, CyclesEndAtTheVisitedSet) {
    ErrorRef self = makeError(kCocoaErrorDomain, 1, "Myself");
    self->underlying = self;
    EXPECT_EQ(cloudErrorDescription(self), "Myself");

    ErrorRef first = makeError(kCocoaErrorDomain, 1, "First");
    ErrorRef second = makeError(kCocoaErrorDomain, 2, "Second");
    ErrorRef third = makeError(kCocoaErrorDomain, 3, "Third");
    first->underlying = second;
    second->underlying = third;
    third->underlying = first;
    EXPECT_EQ(cloudErrorDescription(first), "Third");

    // An error reached a second time yields nothing, so the wrapper that reached it again
    // becomes a leaf itself.
    ErrorRef shared = makeError(kCocoaErrorDomain, 4, "Shared");
    ErrorRef other = makeError(kCocoaErrorDomain, 5, "Other");
    other->underlying = shared;
    EXPECT_EQ(cloudErrorDescription(batchOf({shared, other})), "Other; Shared");

    for (auto* e : {&self, &first, &second, &third}) {
        (*e)->underlying.reset();  // break the cycles so the errors are freed
    }
}

TEST(CloudErrorDescription, ExaminesTwelveLevelsOfAChain) {
    std::vector<ErrorRef> chain;
    for (int i = 1; i <= 13; ++i) {
        chain.push_back(makeError(kCocoaErrorDomain, i, "Level " + std::to_string(i)));
    }
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        chain[i]->underlying = chain[i + 1];
    }
    EXPECT_EQ(cloudErrorDescription(chain.front()), "Level 12");

    chain[11]->underlying.reset();  // twelve levels: the deepest is reached
    EXPECT_EQ(cloudErrorDescription(chain.front()), "Level 12");
    chain.resize(12);
    chain[10]->underlying.reset();
    EXPECT_EQ(cloudErrorDescription(chain.front()), "Level 11");
}

TEST(CloudErrorDescription, EmptyTextsStillJoinWithSeparators) {
    ErrorRef batch = batchOf({makeError("X", 1, ""), makeError("Y", 2, "b")});
    EXPECT_EQ(cloudErrorDescription(batch), "; b");
    EXPECT_FALSE(cloudErrorDescription(nullptr).empty());
}

}  // namespace
}  // namespace tavro::platform
