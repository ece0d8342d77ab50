#include "store/ExchangeBody.h"

#include "store/Asset.h"
#include "store/ExchangeRequest.h"
#include "store/HostRecords.h"
#include "store/Store.h"
#include "store/UnitOfWork.h"

namespace tavro::store {

std::string runExchangeBody(Store& store, const ExchangeRequest& request,
                            platform::FileSystem& fileSystem, const SyncStatus& sync,
                            AssetDigestCache* assetDigests) {
    // Declared first so that it ends last: its leftover collection needs the blob folder to
    // itself, after the lock below is gone.
    UnitOfWork unitOfWork(store, UnitOfWork::Writing::FromFirstRead);
    // The response copies blobs after the commit; none may be collected before then.
    BlobStore::Lock keep = store.keepBlobs();
    try {
        ExchangeIndexes indexes = loadIndexes(unitOfWork);
        AssetReader assets(fileSystem, request.directory(), assetDigests);
        applyHostRecords(unitOfWork, request, assets, indexes);
        unitOfWork.save();
        return buildResponse(unitOfWork, request, store, fileSystem, sync);
    } catch (...) {
        unitOfWork.rollback();
        throw;
    }
}

}  // namespace tavro::store
