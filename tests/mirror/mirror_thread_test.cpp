// SPDX-License-Identifier: MIT
// The sync thread: a server that cannot be reached is reported in the status the host shows,
// and tried again after a back-off. (Another machine's change arriving through the server's
// announcements is tested through the library's wiring, tests/mirror/store_mirroring_test.)

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "MirrorMachines.h"
#include "mirror/MirrorThread.h"
#include "platform/CloudErrorDescription.h"

namespace tavro::test {
namespace {

using store::SyncEvent;

class MirrorThreadTest : public MirrorFixture {
  protected:
    // Stands for the store owner's executor: one step at a time, the test's own included.
    std::mutex owner_;
    mirror::Mirror::OwnerSteps onOwner() {
        return [this](const std::function<void()>& step) {
            std::lock_guard lock(owner_);
            step();
        };
    }
    // Checks `done` as the owner until it holds; false when it never does within a minute
    // (a hang, not a figure: how fast it holds is the benchmark's business).
    bool eventually(const std::function<bool()>& done) {
        for (int i = 0; i < 3000; ++i) {
            {
                std::lock_guard lock(owner_);
                if (done()) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

TEST_F(MirrorThreadTest, AnUnreachableServerIsReportedAndTriedAgain) {
    Machine& a = machine("a");
    std::mutex eventsMutex;
    std::vector<SyncEvent> failures;
    int attempts = 0;
    a.store->syncEvents().subscribe([&](const SyncEvent& event) {
        std::lock_guard lock(eventsMutex);
        if (event.error) {
            failures.push_back(event);
        }
        attempts += event.type == SyncEvent::Type::Setup && !event.endDate ? 1 : 0;
    });
    // Nothing listens on port 1 of the loopback address.
    mirror::MirrorThread thread(*a.store, "host=127.0.0.1 port=1 dbname=tavro", recordName_,
                                onOwner());
    ASSERT_TRUE(eventually([&] {
        std::lock_guard lock(eventsMutex);
        return attempts >= 2;  // the first attempt and the one after the back-off
    }));
    std::lock_guard lock(eventsMutex);
    ASSERT_FALSE(failures.empty());
    std::string status = "iCloud: " + platform::cloudErrorDescription(failures[0].error);
    EXPECT_TRUE(status.starts_with("iCloud: The sync server can\u2019t be reached (")) << status;
    EXPECT_TRUE(failures[0].endDate.has_value());
    EXPECT_FALSE(failures[0].succeeded);
}

// At exit the threads end before the network and TLS libraries clean up under them: one at
// rest after a round and one waiting out a back-off both end when asked, and promptly.
TEST_F(MirrorThreadTest, ExitEndsEverySyncThreadFirst) {
    Machine& a = machine("a");
    Machine& b = machine("b");
    std::atomic<bool> synced{false};  // posted from the sync thread
    a.store->syncEvents().subscribe([&](const SyncEvent& event) {
        if (event.type == SyncEvent::Type::Import && event.succeeded) {
            synced = true;
        }
    });
    mirror::MirrorThread connected(*a.store, serviceFor(role_), recordName_, onOwner());
    mirror::MirrorThread failing(*b.store, "host=127.0.0.1 port=1 dbname=tavro", recordName_,
                                 onOwner());
    ASSERT_TRUE(eventually([&] { return synced.load(); }));
    EXPECT_TRUE(mirror::MirrorThread::stopAllForExit());
}

}  // namespace
}  // namespace tavro::test
