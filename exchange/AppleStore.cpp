// SPDX-License-Identifier: MIT
#include "exchange/AppleStore.h"

#include "exchange/AccountGuard.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "platform/AppGroupContainer.h"
#include "platform/Availability.h"
#include "platform/BridgeError.h"
#include "platform/CloudAccount.h"
#include "platform/CloudErrorDescription.h"
#include "platform/Configuration.h"
#include "platform/MainExecutor.h"
#include "platform/Paths.h"
#include "store/Store.h"

namespace tavro::exchange {

namespace paths = platform::paths;
using platform::BridgeError;
namespace message = platform::message;

AppleStore& AppleStore::shared() {
    // Never destroyed: the executor may still run a task while the process exits.
    // It serves the host, so it reads the host process's own provisioning.
    static AppleStore* instance = new AppleStore(platform::Env::real());
    return *instance;
}

AppleStore::AppleStore(platform::FileSystem& fileSystem, const platform::Env& env)
    : fileSystem_(fileSystem), env_(env) {}

AppleStore::AppleStore(const platform::Env& env, platform::FileSystem& fileSystem)
    : AppleStore(fileSystem, env) {}

AppleStore::~AppleStore() = default;

void AppleStore::checkLocation(std::string_view storePath) const {
    auto container =
        platform::appGroupContainerPath(platform::configuration::kAppGroupIdentifier, env_);
    if (!container) {
        throw BridgeError(message::kStoreNotInAppGroup);
    }
    std::string expected = paths::normalize(paths::join(*container, kStoreRelativePath));
    if (paths::normalize(paths::absolute(storePath)) != expected) {
        throw BridgeError(message::kStoreNotInAppGroup);
    }
}

std::string AppleStore::checkAccount() const {
    if (platform::cloudAccountStatus(env_) != platform::AccountStatus::Available) {
        throw BridgeError(message::kSignInToICloud);
    }
    return platform::cloudUserRecordName(env_);
}

void AppleStore::registerObserver() {
    if (observer_) {
        // A second registration would deliver every event twice.
        notifications_.unsubscribe(*observer_);
    }
    observer_ = notifications_.subscribe([this](const SyncEvent& event) {
        std::optional<std::string> errorText;
        if (event.error) {
            errorText = platform::cloudErrorDescription(event.error);
        }
        platform::MainExecutor::shared().submit(
            [this, event, errorText] { applySyncEvent(event, errorText); });
    });
}

void AppleStore::openStore(std::string_view storePath, const std::string& userRecordName) {
    // Registering for remote notifications stands for starting the mirror, once the store is
    // open, and only for an account whose file names a sync server: a local library stays
    // local.
    std::optional<std::string> service = platform::cloudAccountService(env_);
    registerObserver();
    std::unique_ptr<Store> store = Store::open(std::string(storePath));
    store->syncEvents().subscribe([this](const SyncEvent& event) { notifications_.post(event); });
    container_ = std::move(store);
    storePath_ = std::string(storePath);
    followAccount(service, userRecordName);
}

void AppleStore::followAccount(const std::optional<std::string>& service,
                               const std::string& account) {
    if (!container_ || !mirroring_ || service == mirroredService_) {
        return;
    }
    if (mirroredService_) {
        mirroring_->stop();
        mirroredService_.reset();
    }
    if (service) {
        mirroring_->start(*container_, *service, account);
        mirroredService_ = service;
    }
}

void AppleStore::applySyncEvent(const SyncEvent& event,
                                const std::optional<std::string>& errorText) {
    if (errorText) {
        sync_.status = "iCloud: " + *errorText;
    } else if (!event.endDate) {
        sync_.status = "Syncing with iCloud\u2026";
    } else if (event.succeeded && event.type != SyncEvent::Type::Setup) {
        sync_.status = "iCloud enabled";
        sync_.lastSync = event.endDate;
    }
}

std::string AppleStore::exchange(std::string_view text) {
    return exchange(platform::json::PaddedText::copyOf(text));
}

std::string AppleStore::exchange(platform::json::PaddedText text) {
    ExchangeRequest request = ExchangeRequest::parse(parser_, std::move(text));
    if (!platform::cloudAvailable(env_)) {
        throw BridgeError(message::kNotProvisioned);
    }
    checkLocation(request.storePath());
    std::string userRecordName;
    try {
        userRecordName = checkAccount();
        guardAccount(userRecordName, request.storePath(), fileSystem_);
    } catch (...) {
        // Signed out, or another account signed in: the library is no longer mirrored.
        followAccount(std::nullopt, {});
        throw;
    }
    if (storePath_ && *storePath_ != request.storePath()) {
        throw BridgeError(message::kStoreOpenElsewhere);
    }
    if (!container_) {
        openStore(request.storePath(), userRecordName);
    } else {
        // Signed in again with another sync server, or without one, since the store opened.
        followAccount(platform::cloudAccountService(env_), userRecordName);
    }
    std::string response =
        runExchangeBody(*container_, request, fileSystem_, sync_, &assetDigests_, &records_);
    if (mirroring_) {
        mirroring_->exchanged();
    }
    return response;
}

void AppleStore::answered(std::string response) noexcept {
    if (container_) {
        container_->checkpointIfDue();
    }
    records_.reuseText(std::move(response));
}

}  // namespace tavro::exchange
