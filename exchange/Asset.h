// SPDX-License-Identifier: MIT
#pragma once
// Reading the files that request records name under "data", "thumbnail" and "icon". A file must
// lie inside the exchange directory once symbolic links and "." / ".." are resolved on both
// paths; it is hashed while it streams (once) and handed to the store as pending content that
// is copied into the blob folder only if its digest is new.

#include <optional>
#include <string>
#include <string_view>

#include "model/Content.h"
#include "platform/Descriptor.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"

namespace tavro::exchange {

class AssetDigestCache;
class AssetLookahead;

// One exchange's asset reader: the exchange directory is resolved once. A file is opened once:
// where the opened file lies is checked, and it is hashed and later copied through that one
// descriptor, so a name swapped for a link meanwhile cannot bring in another file.
class AssetReader {
  public:
    // `cache` (optional) remembers digests between exchanges; see AssetDigestCache.h.
    AssetReader(platform::FileSystem& fileSystem, std::string_view directory,
                AssetDigestCache* cache = nullptr);

    // The content of the file named under `key`; nothing when the key is absent or not text.
    // Throws "Invalid asset path." for a file outside the directory (the directory itself
    // included), the file system's error for a file that cannot be read (a folder too), and
    // "… isn't a regular file" for anything else inside (a named pipe, a device). While an
    // AssetLookahead reads ahead for this reader, the answer (or error) is the one it found.
    std::optional<model::Content> read(const platform::json::Fields& record, std::string_view key);

  private:
    friend class AssetLookahead;
    // What read() finds for a present text value.
    model::Content readNow(std::string_view requestedPath);
    // The resolved path a request path stands for, or "Invalid asset path.".
    std::string confine(std::string_view requestedPath) const;
    bool isInside(const std::string& resolved) const;
    // Opens the confined `candidate`; `location` receives where the opened file really lies.
    platform::ReadableFile open(const std::string& candidate, std::string& location) const;
    // The file when `requestedPath` names it plainly beneath the directory (no link, no "." or
    // ".."), as nearly every request path does; nothing otherwise.
    std::optional<platform::ReadableFile> openPlainly(std::string_view requestedPath) const;
    model::Content hash(platform::ReadableFile file, const std::string& location);

    platform::FileSystem& fileSystem_;
    AssetDigestCache* cache_;
    std::string rootWithSlash_;
    platform::Descriptor root_;            // the resolved directory, for openPlainly
    AssetLookahead* lookahead_ = nullptr;  // set while one reads ahead for this reader
};

}  // namespace tavro::exchange
