// SPDX-License-Identifier: MIT
#pragma once
// The single owner of the native store. Every exchange runs through it: the request is parsed
// and validated, cloud availability, the App Group location, the cloud account and the account
// guard are checked, the store is opened on the first exchange (and kept for the life of the
// process), the host's records are applied in one unit of work, and the whole library is
// reported back. It also keeps the sync status from the store's sync events.
//
// Threads: every member is touched on the main executor's thread only; exchange() must be
// called there. Sync events may be posted from any thread: the handler hands its update to the
// executor.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "exchange/AssetDigestCache.h"
#include "exchange/ExchangeResponse.h"
#include "exchange/RecordMemo.h"
#include "platform/Env.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "platform/Time.h"
#include "store/SyncEvent.h"

namespace tavro::store {
class Store;
}  // namespace tavro::store

namespace tavro::exchange {

using store::Store;
using store::SyncEvent;
using store::SyncEventSource;

inline constexpr const char* kInitialStatus = "iCloud enabled \u2014 waiting for sync";
inline constexpr const char* kStoreRelativePath = "Library/Tavro.store";

// The store owner's view of mirroring, which lives in a layer above it: the library installs
// one (bridge/), the exchange's own tests need none. It is started when the store opens for an
// account whose file names a sync server, and told after each exchange, so that what the
// exchange saved is pushed at once. Called on the main executor's thread.
class Mirroring {
  public:
    virtual ~Mirroring() = default;
    virtual void start(Store& store, const std::string& service, const std::string& account) = 0;
    // Ends the mirroring started last, without waiting for it on the owner's executor.
    virtual void stop() = 0;
    virtual void exchanged() = 0;
};

class AppleStore {
  public:
    // The process-wide owner, created on first use (thread-safe), never destroyed.
    static AppleStore& shared();

    // The shared owner reads the real process's provisioning; one made with another Env (a
    // test's) reads only that, whatever the process environment holds.
    explicit AppleStore(platform::FileSystem& fileSystem = platform::FileSystem::real(),
                        const platform::Env& env = platform::Env::real());
    explicit AppleStore(const platform::Env& env,
                        platform::FileSystem& fileSystem = platform::FileSystem::real());
    AppleStore(const AppleStore&) = delete;
    AppleStore& operator=(const AppleStore&) = delete;
    ~AppleStore();

    // Runs one exchange and answers with the response text; throws the exchange's error.
    std::string exchange(std::string_view request);
    // The same for a request handed over whole, parsed where it lies.
    std::string exchange(platform::json::PaddedText request);
    // Called once the answer has reached the host, with its text: does the store's upkeep that
    // nobody should wait for (Store::checkpointIfDue), and keeps the text's memory for the
    // next response (RecordMemo::reuseText). Never fails.
    void answered(std::string response) noexcept;

    // The sync status reported in responses, and the event handler's rule for updating it.
    const SyncStatus& syncStatus() const { return sync_; }
    void applySyncEvent(const SyncEvent& event, const std::optional<std::string>& errorText);

    // Installs the mirroring, before the store opens (later, it starts with the next opening
    // only, which never comes).
    void setMirroring(std::unique_ptr<Mirroring> mirroring) {
        mirroring_ = std::move(mirroring);
        mirroredService_.reset();
    }

    // The open store, or nullptr before the first successful opening.
    Store* container() const { return container_.get(); }
    const std::optional<std::string>& storePath() const { return storePath_; }

  private:
    void checkLocation(std::string_view storePath) const;
    std::string checkAccount() const;
    void openStore(std::string_view storePath, const std::string& userRecordName);
    // Mirrors the open store to `service` (none: not at all), as the account file now says.
    void followAccount(const std::optional<std::string>& service, const std::string& account);
    void registerObserver();

    platform::FileSystem& fileSystem_;
    const platform::Env& env_;       // availability, the container and the account
    platform::json::Parser parser_;  // kept: its buffers serve exchange after exchange

    std::unique_ptr<Store> container_;
    std::unique_ptr<Mirroring> mirroring_;        // after the store: it goes, and stops, first
    std::optional<std::string> mirroredService_;  // the service mirroring_ was started with
    std::optional<std::string> storePath_;
    std::optional<SyncEventSource::Token> observer_;
    SyncStatus sync_{kInitialStatus, std::nullopt};
    AssetDigestCache assetDigests_;
    RecordMemo records_;

    // Stands for the platform's notification centre: the observer is registered here before
    // the store exists, and the store's own events are forwarded here once it is open.
    SyncEventSource notifications_;
};

}  // namespace tavro::exchange
