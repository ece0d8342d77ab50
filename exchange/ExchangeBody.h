// SPDX-License-Identifier: MIT
#pragma once
// The body of an exchange over an open store and a validated request: one unit of work in
// which the host's records are applied and saved, then the whole library is reported back.
// Every failure before the save rolls the unit of work back, so the store keeps nothing of a
// failed request; a failure while reporting keeps the saved changes. The store's write lock is
// held from the first read to the save, so the newer-wins decisions are made on what is stored
// when the changes are written, even with other processes writing the same store.

#include <string>

#include "exchange/ExchangeResponse.h"
#include "platform/FileSystem.h"

namespace tavro::store {
class Store;
}  // namespace tavro::store

namespace tavro::exchange {

using store::Store;

class AssetDigestCache;
class ExchangeRequest;
class RecordMemo;

// `assetDigests` (optional) remembers the digests of unchanged asset files between exchanges,
// `records` (optional) the records of unchanged things (exchange/RecordMemo.h). The request's
// records may be ended once applied (ExchangeRequest::finishReadingRecords).
std::string runExchangeBody(Store& store, ExchangeRequest& request,
                            platform::FileSystem& fileSystem, const SyncStatus& sync,
                            AssetDigestCache* assetDigests = nullptr,
                            RecordMemo* records = nullptr);

}  // namespace tavro::exchange
