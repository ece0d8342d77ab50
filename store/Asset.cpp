#include "store/Asset.h"

#include <sys/stat.h>

#include "platform/BridgeError.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/Time.h"
#include "store/AssetDigestCache.h"

namespace tavro::store {

namespace paths = platform::paths;

AssetReader::AssetReader(platform::FileSystem& fileSystem, std::string_view directory,
                         AssetDigestCache* cache)
    : fileSystem_(fileSystem),
      cache_(cache),
      rootWithSlash_(paths::resolveSymlinks(directory) + "/") {}

std::string AssetReader::confine(std::string_view requestedPath) const {
    // Both sides are resolved, so neither ".." nor a link inside the directory can reach a file
    // outside it, while a link from outside that lands inside is accepted. A missing file is
    // still resolved lexically: outside the directory it is refused like any other path, so a
    // host cannot probe what exists elsewhere.
    std::string candidate = paths::resolveSymlinks(requestedPath);
    if (candidate.size() <= rootWithSlash_.size() ||
        candidate.compare(0, rootWithSlash_.size(), rootWithSlash_) != 0) {
        throw platform::BridgeError(platform::message::kInvalidAssetPath);
    }
    return candidate;
}

model::Content AssetReader::hash(const std::string& path) {
    struct stat before {};
    bool known = cache_ && ::stat(path.c_str(), &before) == 0 && S_ISREG(before.st_mode);
    if (known) {
        if (auto digest = cache_->find(path, before)) {
            return model::Content::fromFile(path, std::move(digest->sha256), digest->size);
        }
    }
    double start = platform::now();
    platform::Sha256 hash;
    uint64_t size = 0;
    fileSystem_.readChunks(path, [&](std::string_view chunk) {
        hash.update(chunk);
        size += chunk.size();
    });
    std::string sha256 = hash.finishHex();
    struct stat after {};
    if (known && ::stat(path.c_str(), &after) == 0) {
        cache_->remember(path, before, after, start, {sha256, size});
    }
    return model::Content::fromFile(path, std::move(sha256), size);
}

std::optional<model::Content> AssetReader::read(const platform::json::Fields& record,
                                                std::string_view key) {
    auto requested = platform::json::asString(record.get(key));
    if (!requested) {
        return std::nullopt;
    }
    return hash(confine(*requested));
}

}  // namespace tavro::store
