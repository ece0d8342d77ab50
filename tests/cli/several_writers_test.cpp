// SPDX-License-Identifier: MIT
// Several `tavro` processes exchanging with one store at the same time, round after round: the
// newer version of a thing wins whatever order the processes commit in, things added at once
// by several processes are all kept, content stays readable while other processes open the
// store, and the file stays sound. After every round the store is read back alone.
//
// Some rounds start behind a write lock this process holds for a moment: every child then
// loads the library before any of them may write, which is when a writer that decides on what
// it loaded, rather than on what is stored when it writes, goes wrong.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/FileSystem.h"
#include "support/SharedStoreFixture.h"

namespace tavro::test {
namespace {

namespace json = platform::json;

constexpr int kWriters = 3;
// Long enough for every child to load the library and reach its first write.
constexpr auto kGateTime = std::chrono::milliseconds(400);

std::string uuidFor(int group, int round, int index) {
    char uuid[64];  // room for any int, though the tests use 8 and 6 digits
    std::snprintf(uuid, sizeof uuid, "%08d-0000-4000-8000-%06d%06d", group, round, index);
    return uuid;
}

std::string readFile(const std::string& path) {
    return platform::FileSystem::real().exists(path) ? platform::FileSystem::real().readFile(path)
                                                     : std::string("<missing>");
}

// A batch of exchanges started together and waited for together.
struct Batch {
    std::vector<ChildProcess> children;
    std::vector<std::string> names;
};

class SeveralWritersTest : public SharedStoreFixture {
  protected:
    SeveralWritersTest() : SharedStoreFixture(TAVRO_CLI_PATH) {}

    void start(Batch& batch, const std::string& name, json::Array records,
               const std::string& directory = {}) {
        std::string request = writeRequest(name, directory.empty() ? newDirectory(name) : directory,
                                           std::move(records));
        batch.children.push_back(startExchange(request));
        batch.names.push_back(name);
    }

    // The first round meets a store that does not exist yet; later ones start behind a held
    // write lock, opened once every child has had time to load the library.
    void shutGate(std::optional<StoreWriteLock>& gate, int round) {
        if (round > 0) {
            gate.emplace(sandbox_.storePath());
        }
    }
    static void openGate(std::optional<StoreWriteLock>& gate) {
        if (gate) {
            std::this_thread::sleep_for(kGateTime);
            gate->release();
        }
    }

    void expectSound(int round) {
        EXPECT_EQ(integrityCheck(), "ok") << "after round " << round;
        EXPECT_EQ(missingBlobs(), std::vector<std::string>{}) << "after round " << round;
    }
};

TEST_F(SeveralWritersTest, NewerVersionWinsWhateverOrderTheWritersCommitIn) {
    constexpr int kRounds = 4;
    constexpr int kThings = 4;
    // What each thing must read as: the newest version any successful writer sent.
    std::map<std::string, std::pair<int64_t, std::string>> newest;
    for (int round = 0; round < kRounds; ++round) {
        std::optional<StoreWriteLock> gate;
        shutGate(gate, round);
        Batch batch;
        for (int writer = 0; writer < kWriters; ++writer) {
            json::Array records;
            for (int index = 0; index < kThings; ++index) {
                // Which writer holds the newest version turns with the thing and the round.
                const int64_t age = (writer + index + round) % kWriters;
                const int64_t updatedAt = 1000 * (round + 1) + age;
                records.push_back(
                    thing(uuidFor(1, 0, index), {{"title", "round " + std::to_string(round) +
                                                               " writer " + std::to_string(writer)},
                                                 {"updatedAt", updatedAt}}));
            }
            start(batch, "newer-" + std::to_string(round) + "-" + std::to_string(writer),
                  std::move(records));
        }
        openGate(gate);
        auto outcomes = waitForAll(batch.children, batch.names);
        for (int writer = 0; writer < kWriters; ++writer) {
            if (!outcomes[writer].succeeded()) {
                continue;
            }
            for (int index = 0; index < kThings; ++index) {
                const int64_t updatedAt = 1000 * (round + 1) + (writer + index + round) % kWriters;
                auto& held = newest[uuidFor(1, 0, index)];
                if (updatedAt > held.first) {
                    held = {updatedAt,
                            "round " + std::to_string(round) + " writer " + std::to_string(writer)};
                }
            }
        }
        auto store = readStore(newDirectory("newer-check-" + std::to_string(round)));
        ASSERT_NE(store, nullptr);
        for (const auto& [uuid, expected] : newest) {
            auto record = store->record(uuid);
            ASSERT_TRUE(record) << uuid << " is missing after round " << round;
            EXPECT_EQ(textOf(*record, "title"), expected.second)
                << uuid << " after round " << round << " (newest updatedAt " << expected.first
                << ")";
        }
        expectSound(round);
    }
}

TEST_F(SeveralWritersTest, ThingsAddedAtOnceBySeveralWritersAreAllKept) {
    constexpr int kRounds = 3;
    constexpr int kThingsEach = 10;
    std::vector<std::string> added;
    for (int round = 0; round < kRounds; ++round) {
        std::optional<StoreWriteLock> gate;
        shutGate(gate, round);
        Batch batch;
        for (int writer = 0; writer < kWriters; ++writer) {
            json::Array records;
            for (int index = 0; index < kThingsEach; ++index) {
                records.push_back(thing(uuidFor(2 + writer, round, index),
                                        {{"title", "added " + std::to_string(index)}}));
            }
            start(batch, "rows-" + std::to_string(round) + "-" + std::to_string(writer),
                  std::move(records));
        }
        openGate(gate);
        auto outcomes = waitForAll(batch.children, batch.names);
        for (int writer = 0; writer < kWriters; ++writer) {
            EXPECT_TRUE(outcomes[writer].succeeded())
                << batch.names[writer] << " " << outcomes[writer].summary();
            for (int index = 0; index < kThingsEach; ++index) {
                added.push_back(uuidFor(2 + writer, round, index));
            }
        }
        auto store = readStore(newDirectory("rows-check-" + std::to_string(round)));
        ASSERT_NE(store, nullptr);
        EXPECT_EQ(store->records("Thing").size(), added.size()) << "after round " << round;
        for (const std::string& uuid : added) {
            EXPECT_TRUE(store->record(uuid)) << uuid << " is missing after round " << round;
        }
        expectSound(round);
    }
}

TEST_F(SeveralWritersTest, ContentStaysReadableWhileOtherProcessesOpenTheStore) {
    constexpr int kRounds = 4;
    constexpr int kContentWriters = 2;
    constexpr int kReaders = 2;
    // Few distinct contents, so that writers share blobs: one writer's replaced content is
    // another's new one.
    const std::vector<std::string> pool = {
        std::string(256 * 1024, 'a'), std::string(256 * 1024, 'b'), std::string(256 * 1024, 'c')};
    std::map<std::string, std::string> expected;  // uuid -> bytes its content must have
    for (int round = 0; round < kRounds; ++round) {
        Batch batch;
        std::vector<std::map<std::string, std::string>> sent(kContentWriters);
        for (int writer = 0; writer < kContentWriters; ++writer) {
            const std::string name =
                "content-" + std::to_string(round) + "-" + std::to_string(writer);
            const std::string directory = newDirectory(name);
            json::Array records;
            auto add = [&](const std::string& uuid, const std::string& bytes, int64_t updatedAt) {
                const std::string file = directory + "/outgoing/" + uuid + ".bin";
                platform::FileSystem::real().createDirectories(directory + "/outgoing");
                platform::FileSystem::real().writeFileAtomically(file, bytes);
                records.push_back(
                    thing(uuid, {{"kind", "document"}, {"data", file}, {"updatedAt", updatedAt}}));
                sent[writer][uuid] = bytes;
            };
            add(uuidFor(5 + writer, round, 0), pool[(round + writer) % pool.size()],
                1000 * (round + 1));
            if (round > 0) {
                // A newer version of last round's thing, with other content.
                add(uuidFor(5 + writer, round - 1, 0), pool[(round + writer + 1) % pool.size()],
                    1000 * (round + 1));
            }
            start(batch, name, std::move(records), directory);
        }
        for (int reader = 0; reader < kReaders; ++reader) {
            start(batch, "open-" + std::to_string(round) + "-" + std::to_string(reader), {});
        }
        auto outcomes = waitForAll(batch.children, batch.names);
        for (int writer = 0; writer < kContentWriters; ++writer) {
            if (outcomes[writer].succeeded()) {
                for (auto& [uuid, bytes] : sent[writer]) {
                    expected[uuid] = bytes;
                }
            }
        }
        const std::string check = newDirectory("content-check-" + std::to_string(round));
        auto store = readStore(check);
        ASSERT_NE(store, nullptr);
        for (const auto& [uuid, bytes] : expected) {
            EXPECT_TRUE(store->record(uuid)) << uuid << " is missing after round " << round;
            const std::string received = readFile(check + "/received/" + uuid + ".data");
            EXPECT_TRUE(received == bytes)
                << "the content of " << uuid << " after round " << round << " reads as "
                << received.substr(0, 16) << "… (" << received.size() << " bytes)";
        }
        expectSound(round);
    }
}

}  // namespace
}  // namespace tavro::test
