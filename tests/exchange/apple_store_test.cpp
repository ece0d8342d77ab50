// SPDX-License-Identifier: MIT
// The store owner: the opening sequence of every exchange, the account guard, opening the
// store once, and the sync status kept from sync events. Each test has its own owner (not the
// process-wide one) in its own provisioned sandbox, which the owner reads through a stand-in
// environment rather than the process's; everything runs on the main executor, as in the
// library.

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <memory>
#include <vector>

#include "exchange/AppleStore.h"
#include "platform/CloudErrorDescription.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "platform/MainExecutor.h"
#include "store/Store.h"
#include "support/ExchangeFixture.h"
#include "support/Sandbox.h"

namespace tavro::test {
namespace {

namespace json = platform::json;
namespace fs = std::filesystem;

// Runs `work` on the main executor and waits for it.
template <typename Work>
auto onMain(Work work) {
    std::packaged_task<decltype(work())()> task(std::move(work));
    auto result = task.get_future();
    platform::MainExecutor::shared().submit([&task] { task(); });
    return result.get();
}

class AppleStoreTest : public ::testing::Test {
  protected:
    std::string request(const std::string& storePath, json::Array records = {}) {
        return json::write(json::Object{{"version", 1},
                                        {"storePath", storePath},
                                        {"directory", sandbox_.exchangeDirectory()},
                                        {"records", std::move(records)}});
    }

    // The response, or the user's description of the failure.
    std::string exchange(const std::string& text) {
        return onMain([&]() -> std::string {
            try {
                return owner_.exchange(text);
            } catch (const platform::Error& error) {
                return "error: " + platform::cloudErrorDescription(error.value());
            }
        });
    }
    std::string exchange() { return exchange(request(sandbox_.storePath())); }

    std::string markerPath() const {
        return fs::path(sandbox_.storePath()).parent_path() / "ZuvirevaCloudAccount";
    }

    Sandbox sandbox_;
    exchange::AppleStore owner_{sandbox_.env()};
};

TEST_F(AppleStoreTest, RequestShapeIsCheckedBeforeAnythingElse) {
    sandbox_.set("TAVRO_DISABLE_CLOUDKIT", "");
    EXPECT_EQ(exchange("[]"), "error: Invalid bridge request.");
    EXPECT_EQ(exchange(R"({"version":1.0,"storePath":"a","directory":"b","records":[]})"),
              "error: This build is not provisioned for iCloud.");  // 1.0 is the integer 1
    for (const char* bad : {R"({"version":2,"storePath":"a","directory":"b","records":[]})",
                            R"({"version":1,"storePath":1,"directory":"b","records":[]})",
                            R"({"version":1,"storePath":"a","records":[]})",
                            R"({"version":1,"storePath":"a","directory":"b","records":[1]})",
                            R"({"version":"1","storePath":"a","directory":"b","records":[]})"}) {
        EXPECT_EQ(exchange(bad), "error: Invalid bridge request.") << bad;
    }
    EXPECT_EQ(exchange("{"),
              "error: The data couldn\u2019t be read because it isn\u2019t in the correct format.");
}

TEST_F(AppleStoreTest, StoreMustBeTheFileInTheAppGroup) {
    std::string container = sandbox_.container();
    for (const std::string& elsewhere :
         {container + "/Library/Other.store", container + "/Tavro.store",
          sandbox_.root() + "/Library/Tavro.store"}) {
        EXPECT_EQ(exchange(request(elsewhere)),
                  "error: The iCloud store must be in Tavro\u2019s App Group.");
    }
    sandbox_.set("TAVRO_ENTITLEMENTS", sandbox_.root() + "/none.plist");
    EXPECT_EQ(exchange(), "error: This build is not provisioned for iCloud.");
}

TEST_F(AppleStoreTest, AccountMustBeAvailable) {
    for (const char* status :
         {"noAccount", "temporarilyUnavailable", "restricted", "couldNotDetermine"}) {
        sandbox_.setAccount(std::string(R"({"status":")") + status + "\"}");
        EXPECT_EQ(exchange(), "error: Sign in to iCloud in System Settings to sync.") << status;
    }
    fs::remove(sandbox_.root() + "/config/tavro/cloud-account.json");
    EXPECT_EQ(exchange(), "error: Sign in to iCloud in System Settings to sync.");
    sandbox_.setAccount("not json");
    EXPECT_NE(exchange().find("error: "), std::string::npos);
    EXPECT_FALSE(owner_.container());
    EXPECT_EQ(owner_.syncStatus().status, exchange::kInitialStatus);
}

TEST_F(AppleStoreTest, ProvisioningIsReadAfreshFromTheOwnersEnvironment) {
    EXPECT_EQ(exchange().find("error"), std::string::npos);

    sandbox_.set("TAVRO_CLOUDKIT_ENABLED", "No");
    EXPECT_EQ(exchange(), "error: This build is not provisioned for iCloud.");
    sandbox_.unset("TAVRO_CLOUDKIT_ENABLED");

    // Another data home puts the container, and so the only store it accepts, elsewhere.
    sandbox_.set("XDG_DATA_HOME", sandbox_.root() + "/elsewhere");
    EXPECT_EQ(exchange(), "error: The iCloud store must be in Tavro\u2019s App Group.");
    sandbox_.set("XDG_DATA_HOME", sandbox_.root() + "/data");

    // Another config home has no account file: nobody is signed in there.
    sandbox_.set("XDG_CONFIG_HOME", sandbox_.root() + "/elsewhere");
    EXPECT_EQ(exchange(), "error: Sign in to iCloud in System Settings to sync.");
    sandbox_.set("XDG_CONFIG_HOME", sandbox_.root() + "/config");

    EXPECT_EQ(exchange().find("error"), std::string::npos);
}

// The test thread changes the owner's environment while exchanges run on the executor, as a
// host may change its own between calls. Each exchange sees one state or the other, never a
// torn one (the thread sanitizer build checks the reading itself).
TEST_F(AppleStoreTest, EnvironmentMayChangeWhileExchangesRun) {
    constexpr int kExchanges = 16;
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < kExchanges; ++i) {
        auto task = std::make_shared<std::packaged_task<std::string()>>([this] {
            try {
                return owner_.exchange(request(sandbox_.storePath()));
            } catch (const platform::Error& error) {
                return "error: " + platform::cloudErrorDescription(error.value());
            }
        });
        answers.push_back(task->get_future());
        platform::MainExecutor::shared().submit([task] { (*task)(); });
        if (i % 2 == 0) {
            sandbox_.set("TAVRO_DISABLE_CLOUDKIT", "");
        } else {
            sandbox_.unset("TAVRO_DISABLE_CLOUDKIT");
        }
    }
    for (auto& answer : answers) {
        std::string text = answer.get();
        if (text.starts_with("error: ")) {
            EXPECT_EQ(text, "error: This build is not provisioned for iCloud.");
        } else {
            EXPECT_NE(text.find("\"records\":"), std::string::npos) << text;
        }
    }
}

TEST_F(AppleStoreTest, DetourIsAcceptedFirstAndRefusedOnceThePlainFormIsOpen) {
    std::string detour = sandbox_.container() + "/Library/./../Library/Tavro.store";
    exchange::AppleStore other(sandbox_.env());
    EXPECT_EQ(onMain([&] { return other.exchange(request(detour)).find("\"records\":[]"); }) !=
                  std::string::npos,
              true);

    EXPECT_EQ(exchange().find("error"), std::string::npos);
    EXPECT_EQ(exchange(request(detour)),
              "error: The native store is already open at a different location.");
}

TEST_F(AppleStoreTest, AccountGuardKeepsTheLibraryWithItsFirstAccount) {
    EXPECT_EQ(exchange().find("error"), std::string::npos);
    EXPECT_EQ(platform::FileSystem::real().readFile(markerPath()), "_user-one");

    const std::string refused =
        "error: This library belongs to another iCloud account. Sign back into that account to "
        "resume sync.";
    sandbox_.signIn("_user-two");
    EXPECT_EQ(exchange(), refused);
    EXPECT_EQ(platform::FileSystem::real().readFile(markerPath()), "_user-one");
    sandbox_.signIn("_USER-ONE");
    EXPECT_EQ(exchange(), refused);
    sandbox_.signIn("_user-one");
    EXPECT_EQ(exchange().find("error"), std::string::npos);

    platform::FileSystem::real().writeFileAtomically(markerPath(), "_user-one\n");
    EXPECT_EQ(exchange(), refused);
}

TEST_F(AppleStoreTest, FailedOpeningLeavesTheOwnerClosedAndTheNextExchangeRetries) {
    fs::create_directories(sandbox_.storePath());  // a folder where the database should be
    EXPECT_NE(exchange().find("error: "), std::string::npos);
    EXPECT_FALSE(owner_.container());
    EXPECT_FALSE(owner_.storePath());
    fs::remove(sandbox_.storePath());
    EXPECT_EQ(exchange().find("error"), std::string::npos);
    EXPECT_EQ(owner_.storePath(), sandbox_.storePath());
}

TEST_F(AppleStoreTest, SyncEventsUpdateStatusAndLastSync) {
    auto statusOf = [&] {
        Parsed response(exchange());
        json::ObjectView top = response.top();
        std::optional<int64_t> lastSync;
        if (has(top, "lastSync")) {
            lastSync = integerOf(top, "lastSync");
        }
        return std::make_pair(textOf(top, "status"), lastSync);
    };
    EXPECT_EQ(statusOf(),
              std::make_pair(std::string(exchange::kInitialStatus), std::optional<int64_t>()));

    auto post = [&](store::SyncEvent event) {
        owner_.container()->syncEvents().post(event);
        return statusOf();  // the update was queued before this exchange
    };
    using Type = store::SyncEvent::Type;
    EXPECT_EQ(post({Type::Import, std::nullopt, false, nullptr}).first,
              "Syncing with iCloud\u2026");
    auto ended = post({Type::Import, 1234.5, true, nullptr});
    EXPECT_EQ(ended.first, "iCloud enabled");
    EXPECT_EQ(ended.second, 1234500);
    EXPECT_EQ(post({Type::Setup, 9999.0, true, nullptr}), ended);
    EXPECT_EQ(post({Type::Export, 9999.0, false, nullptr}), ended);

    auto error = platform::makeError(platform::kCloudKitErrorDomain, 3, "Network unavailable");
    auto failed = post({Type::Export, 2000.0, false, error});
    EXPECT_EQ(failed.first, "iCloud: Network unavailable (CloudKit 3)");
    EXPECT_EQ(failed.second, 1234500);
}

// Stands for the library's mirroring: notes what the owner asks of it.
class NotedMirroring : public exchange::Mirroring {
  public:
    explicit NotedMirroring(std::vector<std::string>& notes) : notes_(notes) {}
    void start(store::Store&, const std::string& service, const std::string& account) override {
        notes_.push_back("start " + service + " " + account);
    }
    void stop() override { notes_.push_back("stop"); }
    void exchanged() override { notes_.push_back("exchanged"); }

  private:
    std::vector<std::string>& notes_;
};

TEST_F(AppleStoreTest, TheMirrorStartsOnlyForAnAccountThatNamesASyncServer) {
    std::vector<std::string> local;
    onMain([&] { owner_.setMirroring(std::make_unique<NotedMirroring>(local)); });
    EXPECT_EQ(exchange().find("error"), std::string::npos);
    EXPECT_EQ(local, std::vector<std::string>{"exchanged"});

    Sandbox synced;
    synced.setAccount(R"({"status":"available","userRecordName":"_u2","service":"tavro"})");
    exchange::AppleStore owner{synced.env()};
    std::vector<std::string> mirrored;
    std::string text = json::write(json::Object{{"version", 1},
                                                {"storePath", synced.storePath()},
                                                {"directory", synced.exchangeDirectory()},
                                                {"records", json::Array{}}});
    onMain([&] {
        owner.setMirroring(std::make_unique<NotedMirroring>(mirrored));
        owner.exchange(text);
        owner.exchange(text);
    });
    EXPECT_EQ(mirrored, (std::vector<std::string>{"start tavro _u2", "exchanged", "exchanged"}));
}

// The account file is read at every exchange, and the mirroring follows it: signing in with
// another sync server moves it there, signing out (or in without a server) ends it.
TEST_F(AppleStoreTest, TheMirrorFollowsTheAccountFileFromExchangeToExchange) {
    Sandbox synced;
    exchange::AppleStore owner{synced.env()};
    std::vector<std::string> notes;
    std::string text = json::write(json::Object{{"version", 1},
                                                {"storePath", synced.storePath()},
                                                {"directory", synced.exchangeDirectory()},
                                                {"records", json::Array{}}});
    auto exchangeWith = [&](const std::string& account) {
        synced.setAccount(account);
        onMain([&] {
            try {
                owner.exchange(text);
            } catch (const std::exception&) {
                notes.push_back("failed");
            }
        });
    };
    onMain([&] { owner.setMirroring(std::make_unique<NotedMirroring>(notes)); });
    exchangeWith(R"({"status":"available","userRecordName":"_u2","service":"tavro"})");
    exchangeWith(R"({"status":"available","userRecordName":"_u2","service":"tavro"})");
    exchangeWith(R"({"status":"available","userRecordName":"_u2","service":"elsewhere"})");
    exchangeWith(R"({"status":"noAccount"})");
    exchangeWith(R"({"status":"available","userRecordName":"_u2","service":"tavro"})");
    exchangeWith(R"({"status":"available","userRecordName":"_u2"})");
    EXPECT_EQ(notes,
              (std::vector<std::string>{"start tavro _u2", "exchanged", "exchanged", "stop",
                                        "start elsewhere _u2", "exchanged", "stop", "failed",
                                        "start tavro _u2", "exchanged", "stop", "exchanged"}));
}

}  // namespace
}  // namespace tavro::test
