// SPDX-License-Identifier: MIT
#include "exchange/ExchangeBody.h"

#include <exception>
#include <optional>

#include "exchange/Asset.h"
#include "exchange/ExchangeRequest.h"
#include "exchange/HostRecords.h"
#include "exchange/ReceivedAhead.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace tavro::exchange {

std::string runExchangeBody(Store& store, ExchangeRequest& request,
                            platform::FileSystem& fileSystem, const SyncStatus& sync,
                            AssetDigestCache* assetDigests, RecordMemo* records) {
    // Declared first so that it ends last: its leftover collection needs the blob folder to
    // itself, after the lock below is gone.
    UnitOfWork unitOfWork(store, UnitOfWork::Writing::FromFirstRead);
    // The response copies blobs after the commit; none may be collected before then.
    store::BlobStore::Lock keep = store.keepBlobs();
    try {
        ExchangeIndexes indexes = loadIndexes(unitOfWork);
        // An exchange that makes most of the library (a first import) is where memory peaks:
        // every new record is held beside the request's document and then the response. The
        // parser's copy of the text goes before the records are made, and the document once
        // they are applied. Other exchanges keep the parser's memory warm for the next, where
        // fresh memory would cost more than holding it.
        const bool makesMostOfTheLibrary =
            request.records().size() > 2 * indexes.priorThings.size();
        if (makesMostOfTheLibrary) {
            request.releaseText();
        }
        AssetReader assets(fileSystem, request.directory(), assetDigests);
        applyHostRecords(unitOfWork, request, assets, indexes);
        if (makesMostOfTheLibrary) {
            request.finishReadingRecords();
        }
        // The response is drafted beside the save: it reads the records the save is writing,
        // and a save that waits on the disk leaves it a processor. Its files are handed over
        // once the save has committed, so the host never receives a content the store lost;
        // those of the host's new contents are written meanwhile, and those under new names
        // put in place while the save commits, to be taken back should it fail. They are named
        // after the things' contents as they stand now, which nothing changes before the draft
        // lists them: each one prepared holds what the response hands over under its name.
        ListedRecords listed = listRecords(unitOfWork);
        ReceivedAhead ahead(fileSystem, receivedFolder(request.directory()),
                            copiesOfHostFiles(indexes.givenHostFiles));
        std::optional<ResponseDraft> draft;
        std::exception_ptr draftFailure;
        unitOfWork.save(
            [&] {
                try {
                    draft = draftResponse(listed, request, store, sync, records);
                    ahead.placeAhead(draft->copies);
                } catch (...) {
                    draftFailure = std::current_exception();
                }
            },
            ahead.copies());
        if (draftFailure) {
            std::rethrow_exception(draftFailure);
        }
        return finishResponse(std::move(*draft), fileSystem, ahead);
    } catch (...) {
        unitOfWork.rollback();
        throw;
    }
}

}  // namespace tavro::exchange
