// SPDX-License-Identifier: MIT
#pragma once
// The exchange's answer: every record the store holds after the save (projects, then tags,
// then things), each thing with the digests of its contents, its file fingerprint and its
// record fingerprint; the sync status and last sync time. A thing's contents are written into
// the exchange directory's "received" folder only when the host's known fingerprint for it is
// missing or differs, so an exchange in which nothing changed writes no file.

#include <optional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Time.h"

namespace tavro::store {
class Store;
class UnitOfWork;
}  // namespace tavro::store

namespace tavro::exchange {

using store::Store;
using store::UnitOfWork;

class ExchangeRequest;
class RecordMemo;

struct SyncStatus {
    std::string status;
    std::optional<platform::Timestamp> lastSync;
};

// The exchange directory's "received" folder as an absolute path.
std::string receivedFolder(std::string_view directory);

// Builds the response text. Runs after the save, on the same unit of work. Throws the file
// system's error when "received" or one of its files cannot be written; files already written
// stay, and no half-written file is left under a final name. `memo` (optional) answers things
// unchanged since the last response from the records it wrote then.
std::string buildResponse(UnitOfWork& unitOfWork, const ExchangeRequest& request,
                          const Store& store, platform::FileSystem& fileSystem,
                          const SyncStatus& sync, RecordMemo* memo = nullptr);

}  // namespace tavro::exchange
