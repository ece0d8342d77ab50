#include "store/Asset.h"

#include "platform/BridgeError.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"

namespace tavro::store {

namespace paths = platform::paths;

AssetReader::AssetReader(platform::FileSystem& fileSystem, std::string_view directory)
    : fileSystem_(fileSystem), rootWithSlash_(paths::resolveSymlinks(directory) + "/") {}

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

std::optional<model::Content> AssetReader::read(const platform::json::Fields& record,
                                                std::string_view key) {
    auto requested = platform::json::asString(record.get(key));
    if (!requested) {
        return std::nullopt;
    }
    std::string path = confine(*requested);
    platform::Sha256 hash;
    uint64_t size = 0;
    fileSystem_.readChunks(path, [&](std::string_view chunk) {
        hash.update(chunk);
        size += chunk.size();
    });
    return model::Content::fromFile(std::move(path), hash.finishHex(), size);
}

}  // namespace tavro::store
