// SPDX-License-Identifier: MIT
#pragma once
// The exchange's answer: every record the store holds after the save (projects, then tags,
// then things), each thing with the digests of its contents, its file fingerprint and its
// record fingerprint; the sync status and last sync time. A thing's contents are written into
// the exchange directory's "received" folder only when the host's known fingerprint for it is
// missing or differs, so an exchange in which nothing changed writes no file.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/Content.h"
#include "platform/FileSystem.h"
#include "platform/Time.h"

namespace tavro::model {
class Project;
class Tag;
class Thing;
}  // namespace tavro::model

namespace tavro::store {
class Store;
class UnitOfWork;
}  // namespace tavro::store

namespace tavro::exchange {

using store::Store;
using store::UnitOfWork;

class ExchangeRequest;
class ReceivedAhead;
class RecordMemo;

struct SyncStatus {
    std::string status;
    std::optional<platform::Timestamp> lastSync;
};

// The exchange directory's "received" folder as an absolute path.
std::string receivedFolder(std::string_view directory);

// The records a response lists, in the order it lists them, as the unit holds them.
struct ListedRecords {
    std::vector<model::Project*> projects;
    std::vector<model::Tag*> tags;
    std::vector<model::Thing*> things;
};
ListedRecords listRecords(UnitOfWork& unitOfWork);

// A response written ahead of its files: its whole text, and the contents it hands to the host
// in "received". Drafting reads the records and touches no file, so it can go beside the save
// that writes them; the files are written only once that save has committed, so the host
// never finds there a content the store does not hold.
struct ResponseDraft {
    std::string text;
    std::string receivedPath;
    std::vector<platform::FileSystem::FileCopy> copies;
};

// Drafts the response to `request` listing `records`. `memo` (optional) answers things
// unchanged since the last response from the records it wrote then. Used by one thread; the
// records, the request and the memo must not change meanwhile.
ResponseDraft draftResponse(const ListedRecords& records, const ExchangeRequest& request,
                            const Store& store, const SyncStatus& sync, RecordMemo* memo = nullptr);

// The files of "received" that the things' new contents from the host's own files fill, by
// the contents' digests: the save writes them as it copies those contents into the store. The
// response hands one over only where the host does not hold its thing; see ReceivedAhead.
using HostFileCopies = std::unordered_map<std::string, std::vector<std::string>>;
HostFileCopies copiesOfHostFiles(const std::vector<model::Thing*>& things);

// Creates "received" and writes the draft's files into it; returns the text. The files `ahead`
// wrote are put in place rather than written again. Throws the file system's error when
// "received" or one of its files cannot be written; files already written stay, and no
// half-written file is left under a final name.
std::string finishResponse(ResponseDraft draft, platform::FileSystem& fileSystem,
                           ReceivedAhead& ahead);

}  // namespace tavro::exchange
