// SPDX-License-Identifier: MIT
// The library's wiring of the mirror: two store owners (two machines' hosts) signed in to one
// account with a sync server; a thing one host exchanges reaches the other host's exchanges,
// whose status then reads "iCloud enabled" with a last sync time. The other host's exchanges
// only push (they save nothing), so the thing arrives because the server announced it.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

#include "ServerFixture.h"
#include "bridge/StoreMirroring.h"
#include "exchange/AppleStore.h"
#include "mirror/ServerAccounts.h"
#include "platform/Json.h"
#include "platform/MainExecutor.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"
#include "support/Sandbox.h"

namespace tavro::test {
namespace {

namespace json = platform::json;

template <typename Work>
auto onMain(Work work) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    platform::MainExecutor::shared().submit([&task] { task(); });
    return result.get();
}

// One machine's host: its own provisioned sandbox and store owner, mirroring as the library does.
struct Host {
    Sandbox sandbox;
    exchange::AppleStore owner{sandbox.env()};

    Host(const std::string& service, const std::string& recordName) {
        sandbox.setAccount(R"({"status":"available","userRecordName":")" + recordName +
                           R"(","service":")" + service + "\"}");
        onMain([&] { owner.setMirroring(bridge::makeStoreMirroring()); });
    }
    ~Host() {
        // The sync thread is stopped from here, not from the executor it waits on; then the
        // status updates it queued run while the owner still exists.
        owner.setMirroring(nullptr);
        onMain([] {});
    }

    std::string exchange(json::Array records = {}) {
        std::string request = json::write(json::Object{{"version", 1},
                                                       {"storePath", sandbox.storePath()},
                                                       {"directory", sandbox.exchangeDirectory()},
                                                       {"records", std::move(records)}});
        return onMain([&] { return owner.exchange(request); });
    }
};

class StoreMirroringTest : public ServerFixture {
  protected:
    static json::Object note(const char* uuid, const char* title) {
        return json::Object{
            {"recordType", "Thing"}, {"uuid", uuid}, {"kind", "note"}, {"title", title}};
    }
};

TEST_F(StoreMirroringTest, AThingOneHostSavesReachesTheOtherHostsExchange) {
    std::string role = addAccount("hosts");
    mirror::Connection connection = connectAs(role);
    std::string recordName = mirror::accountRecordName(connection);
    // Separate blocks: each host's thread is stopped before the test's database goes.
    {
        Host a(serviceFor(role), recordName);
        Host b(serviceFor(role), recordName);
        // The thread starts with the store, and its first events reach the owner after the
        // exchange that opened it.
        std::string first = b.exchange();
        EXPECT_NE(first.find("\"status\":\"iCloud enabled \u2014 waiting for sync\""),
                  std::string::npos)
            << first;
        json::Object saved = note("0d7e8c1a-57a4-4d55-9f77-3b2f5cb2a001", "Saved on a");
        saved.push_back({"updatedAt", 1733650010000});
        a.exchange(json::Array{std::move(saved)});
        // Until the pull that brings it has ended too (the end of an event reaches the owner
        // after the step that saved what it brought).
        auto synced = [](const std::string& response) {
            return response.find("Saved on a") != std::string::npos &&
                   response.find("\"status\":\"iCloud enabled\"") != std::string::npos &&
                   response.find("\"lastSync\":") != std::string::npos;
        };
        std::string seen = b.exchange();
        for (int i = 0; i < 3000 && !synced(seen); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            seen = b.exchange();
        }
        EXPECT_TRUE(synced(seen)) << seen;
    }
}

// Signing out ends the host's mirroring at its next exchange: what another machine saves
// afterwards no longer reaches its store.
TEST_F(StoreMirroringTest, AHostThatSignedOutNoLongerSyncs) {
    std::string role = addAccount("hosts");
    mirror::Connection connection = connectAs(role);
    std::string recordName = mirror::accountRecordName(connection);
    {
        Host a(serviceFor(role), recordName);
        Host b(serviceFor(role), recordName);
        b.exchange();
        b.sandbox.setAccount(R"({"status":"noAccount"})");
        EXPECT_THROW(b.exchange(), std::exception);
        a.exchange(json::Array{note("0d7e8c1a-57a4-4d55-9f77-3b2f5cb2a002", "Saved after b left")});
        // Long enough for an announcement to have brought it, had b still listened.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        auto store = store::Store::open(b.sandbox.storePath());
        store::UnitOfWork work(*store);
        EXPECT_TRUE(work.fetchThings().empty());
    }
}

}  // namespace
}  // namespace tavro::test
