// SPDX-License-Identifier: MIT
// An account's records on the server: compare-and-swap on each record's version, one row per
// record whatever happens to it, deletes as tombstones, and a change sequence a reader can page
// through without ever skipping a change, even while writers commit out of turn.

#include <gtest/gtest.h>

#include <thread>

#include "ServerFixture.h"
#include "mirror/ServerError.h"
#include "mirror/ServerRecords.h"

namespace tavro::test {
namespace {

using mirror::ServerError;
using mirror::ServerFailure;

std::string uuid(int n) {
    char text[37];
    std::snprintf(text, sizeof text, "6f1e2b1c-0000-4000-8000-%012d", n);
    return text;
}

class RecordsTest : public ServerFixture {
  protected:
    void SetUp() override {
        ServerFixture::SetUp();
        if (!IsSkipped() && !HasFailure()) {
            role_ = addAccount("alice");
        }
    }
    std::string role_;
};

TEST_F(RecordsTest, AWriteAppliesOnlyOverTheVersionItSaw) {
    mirror::Connection machine = connectAs(role_);
    auto created = mirror::pushRecord(machine, "Thing", uuid(1), 0, "one");
    ASSERT_TRUE(created.applied);
    EXPECT_EQ(created.version, 1);

    // A second machine that never saw it: a conflict that hands back the server's row.
    auto stale = mirror::pushRecord(machine, "Thing", uuid(1), 0, "other");
    EXPECT_FALSE(stale.applied);
    EXPECT_EQ(stale.version, 1);
    EXPECT_EQ(stale.body, "one");
    EXPECT_FALSE(stale.deleted);

    ASSERT_TRUE(mirror::pushRecord(machine, "Thing", uuid(1), 1, "two").applied);
    EXPECT_FALSE(mirror::deleteRecord(machine, "Thing", uuid(1), 1).applied);
    auto deleted = mirror::deleteRecord(machine, "Thing", uuid(1), 2);
    ASSERT_TRUE(deleted.applied);
    EXPECT_EQ(deleted.version, 3);

    // An edit racing the delete sees the tombstone; it can bring the record back knowingly.
    auto racing = mirror::pushRecord(machine, "Thing", uuid(1), 2, "three");
    EXPECT_FALSE(racing.applied);
    EXPECT_TRUE(racing.deleted);
    EXPECT_EQ(racing.version, 3);
    auto restored = mirror::pushRecord(machine, "Thing", uuid(1), 3, "three");
    EXPECT_TRUE(restored.applied);
    EXPECT_EQ(restored.version, 4);

    // Deleting what the server never had changes nothing; the same identifier under another
    // record type is another record.
    auto nothing = mirror::deleteRecord(machine, "Tag", uuid(1), 0);
    EXPECT_TRUE(nothing.applied);
    EXPECT_EQ(nothing.sequence, 0);
    EXPECT_TRUE(mirror::pushRecord(machine, "Tag", uuid(1), 0, "tag").applied);

    auto changes = mirror::changesSince(machine, 0);
    ASSERT_EQ(changes.size(), 2u) << "one row per record, however often it was written";
}

TEST_F(RecordsTest, ChangesArePagedInSequenceOrderWithTombstones) {
    mirror::Connection machine = connectAs(role_);
    for (int n = 1; n <= 5; ++n) {
        ASSERT_TRUE(mirror::pushRecord(machine, "Thing", uuid(n), 0, std::to_string(n)).applied);
    }
    ASSERT_TRUE(mirror::pushRecord(machine, "Thing", uuid(2), 1, "2 again").applied);
    ASSERT_TRUE(mirror::deleteRecord(machine, "Thing", uuid(3), 1).applied);

    std::vector<mirror::ServerChange> all;
    int64_t cursor = 0;
    for (;;) {
        auto page = mirror::changesSince(machine, cursor, 2);
        ASSERT_LE(page.size(), 2u);
        if (page.empty()) {
            break;
        }
        all.insert(all.end(), page.begin(), page.end());
        cursor = page.back().sequence;
    }
    ASSERT_EQ(all.size(), 5u);
    for (size_t i = 1; i < all.size(); ++i) {
        EXPECT_LT(all[i - 1].sequence, all[i].sequence);
    }
    EXPECT_EQ(all[3].identifier, uuid(2));
    EXPECT_EQ(all[3].body, "2 again");
    EXPECT_EQ(all[4].identifier, uuid(3));
    EXPECT_TRUE(all[4].deleted);
    EXPECT_TRUE(all[4].body.empty());
}

// A writer that has taken a sequence number but not committed holds back every later writer
// of the account, so a reader can never see a higher number while a lower one may still
// appear; and a number given up by a rollback is issued again, leaving no hole.
TEST_F(RecordsTest, AReaderNeverSkipsAChangeCommittedLater) {
    mirror::Connection first = connectAs(role_);
    mirror::Connection second = connectAs(role_);
    mirror::Connection reader = connectAs(role_);
    mirror::Connection administrator = admin();
    int secondPid = PQbackendPID(second.handle());

    auto waitUntilBlocked = [&] {
        // Bounded so that a broken lock cannot hang the run; no assertion on time.
        for (int attempt = 0; attempt < 6000; ++attempt) {
            auto waiting = administrator.query(
                "SELECT wait_event_type = 'Lock' FROM pg_catalog.pg_stat_activity WHERE pid = $1",
                {mirror::Param::integer(secondPid)});
            if (waiting.rows() == 1 && waiting.boolean(0, 0)) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    };

    for (bool commitFirst : {false, true}) {
        int64_t cursor = 0;
        if (auto seen = mirror::changesSince(reader, 0); !seen.empty()) {
            cursor = seen.back().sequence;
        }
        first.exec("BEGIN");
        auto held = mirror::pushRecord(first, "Thing", uuid(commitFirst ? 10 : 20), 0, "first");
        mirror::WriteOutcome later;
        std::thread writer([&] {
            later = mirror::pushRecord(second, "Thing", uuid(commitFirst ? 11 : 21), 0, "second");
        });
        ASSERT_TRUE(waitUntilBlocked()) << "the second writer did not wait for the first";
        EXPECT_TRUE(mirror::changesSince(reader, cursor).empty());
        first.exec(commitFirst ? "COMMIT" : "ROLLBACK");
        writer.join();

        auto changes = mirror::changesSince(reader, cursor);
        if (commitFirst) {
            ASSERT_EQ(changes.size(), 2u);
            EXPECT_EQ(changes[0].sequence, held.sequence);
            EXPECT_EQ(changes[1].sequence, held.sequence + 1);
            EXPECT_EQ(later.sequence, held.sequence + 1);
        } else {
            ASSERT_EQ(changes.size(), 1u);
            EXPECT_EQ(later.sequence, held.sequence) << "the rolled-back number is reissued";
            EXPECT_EQ(changes[0].sequence, cursor + 1);
        }
    }
}

// Every committed change is announced on the account's own channel with its sequence, so a
// machine listening there learns of it without asking; other accounts' channels stay quiet.
TEST_F(RecordsTest, ChangesAreAnnouncedOnTheAccountsOwnChannel) {
    mirror::Connection machine = connectAs(role_);
    mirror::Connection listener = connectAs(role_);
    mirror::Connection stranger = connectAs(addAccount("bob"));
    auto listen = [](mirror::Connection& connection) {
        std::string channel(connection.exec("SELECT tavro.change_channel()").text(0, 0));
        connection.exec("LISTEN " + connection.quoteIdentifier(channel));
        return channel;
    };
    std::string channel = listen(listener);
    std::string otherChannel = listen(stranger);
    EXPECT_NE(channel, otherChannel);

    auto written = mirror::pushRecord(machine, "Thing", uuid(1), 0, "one");
    ASSERT_TRUE(written.applied);
    // A listener's session takes in what was committed before its next statement ends.
    auto announced = [](mirror::Connection& connection) {
        connection.exec("SELECT 1");
        std::vector<std::pair<std::string, std::string>> notes;
        PQconsumeInput(connection.handle());
        while (PGnotify* note = PQnotifies(connection.handle())) {
            notes.emplace_back(note->relname, note->extra);
            PQfreemem(note);
        }
        return notes;
    };
    auto notes = announced(listener);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0].first, channel);
    EXPECT_EQ(notes[0].second, std::to_string(written.sequence));
    EXPECT_TRUE(announced(stranger).empty());

    // A write that changes nothing (a conflict) announces nothing.
    EXPECT_FALSE(mirror::pushRecord(machine, "Thing", uuid(1), 0, "stale").applied);
    EXPECT_TRUE(announced(listener).empty());
}

TEST_F(RecordsTest, AMachineAwayLongerThanDeletesAreKeptMustResynchronise) {
    mirror::Connection machine = connectAs(role_);
    ASSERT_TRUE(mirror::pushRecord(machine, "Thing", uuid(1), 0, "kept").applied);
    ASSERT_TRUE(mirror::pushRecord(machine, "Thing", uuid(2), 0, "gone").applied);
    int64_t away = mirror::changesSince(machine, 0).back().sequence;
    auto deleted = mirror::deleteRecord(machine, "Thing", uuid(2), 1);
    ASSERT_TRUE(deleted.applied);
    int64_t upToDate = deleted.sequence;

    mirror::Connection administrator = admin();
    // Every tombstone so far counts as old.
    auto removed = administrator.exec("SELECT tavro.expire_tombstones('-1 hour')");
    EXPECT_EQ(removed.integer(0, 0), 1);

    try {
        mirror::changesSince(machine, away);
        FAIL() << "a machine that missed an expired delete was not told";
    } catch (const ServerError& error) {
        EXPECT_EQ(error.failure(), ServerFailure::ResynchronisationNeeded) << error.what();
    }
    EXPECT_TRUE(mirror::changesSince(machine, upToDate).empty());
    auto whole = mirror::changesSince(machine, 0);
    ASSERT_EQ(whole.size(), 1u);
    EXPECT_EQ(whole[0].identifier, uuid(1));
}

}  // namespace
}  // namespace tavro::test
