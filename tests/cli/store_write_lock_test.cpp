// SPDX-License-Identifier: MIT
// A process's first exchange meets a store another process is writing to: it waits for the
// other's transaction to end instead of failing at once, whether the store is established or
// is still an empty file someone has just created.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/SharedStoreFixture.h"

namespace tavro::test {
namespace {

namespace json = platform::json;

constexpr const char* kThing = "70000000-0000-4000-8000-000000000001";

class StoreWriteLockTest : public SharedStoreFixture {
  protected:
    StoreWriteLockTest() : SharedStoreFixture(TAVRO_CLI_PATH) {}

    // Runs one exchange adding a thing while this process holds the store's write lock for a
    // second, and expects it to have waited and succeeded.
    void expectExchangeWaitsFor(const char* begin) {
        StoreWriteLock lock(sandbox_.storePath(), begin);
        std::string request =
            writeRequest("waiting", newDirectory("waiting"), json::Array{thing(kThing)});
        ChildProcess child = startExchange(request);
        std::this_thread::sleep_for(std::chrono::seconds(1));
        lock.release();
        ProcessOutcome outcome = child.wait();
        ASSERT_TRUE(outcome.succeeded()) << outcome.summary();
        EXPECT_TRUE(Parsed(outcome.out).record(kThing));
    }
};

TEST_F(StoreWriteLockTest, FirstExchangeOnAnEmptyStoreFileWaitsForTheWriter) {
    expectExchangeWaitsFor("BEGIN IMMEDIATE");
    EXPECT_EQ(integrityCheck(), "ok");
}

TEST_F(StoreWriteLockTest, FirstExchangeOnAnEmptyStoreFileWaitsForAnExclusiveLock) {
    expectExchangeWaitsFor("BEGIN EXCLUSIVE");
    EXPECT_EQ(integrityCheck(), "ok");
}

TEST_F(StoreWriteLockTest, FirstExchangeOnAnEstablishedStoreWaitsForTheWriter) {
    ProcessOutcome first =
        startExchange(writeRequest("first", newDirectory("first"), json::Array{})).wait();
    ASSERT_TRUE(first.succeeded()) << first.summary();
    expectExchangeWaitsFor("BEGIN IMMEDIATE");
    EXPECT_EQ(integrityCheck(), "ok");
}

}  // namespace
}  // namespace tavro::test
