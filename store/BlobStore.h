#pragma once
// The folder of byte-field contents beside the store file, one file per content named by its
// SHA-256 digest. A content is written once, durably, before any transaction refers to it; it
// is removed only when no row refers to it any more.

#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "model/Content.h"
#include "platform/FileSystem.h"

namespace tavro::store {

class BlobStore {
  public:
    BlobStore(std::string folder, platform::FileSystem& fileSystem);

    const std::string& folder() const { return folder_; }
    std::string path(const std::string& sha256) const;

    // Makes sure the blob of `content` exists: a stored content must already be there; a
    // pending file is copied with its digest verified on the way (a file that changed since it
    // was hashed fails); pending bytes are written. Existing blobs are never rewritten.
    void ensure(const model::Content& content);
    // The same for many contents (each digest once). Writing a blob waits mostly for the disk
    // to confirm it, so several are written at a time; the first failure is thrown after all
    // writers have stopped.
    void ensureAll(const std::vector<const model::Content*>& contents);

    // Streams the bytes of a content, wherever they are.
    void read(const model::Content& content,
              const std::function<void(std::string_view)>& sink) const;

    // Removes the blob, ignoring failure: an unreferenced blob left behind is collected when
    // the store next opens.
    void removeQuietly(const std::string& sha256);

    // Removes every file of the folder that is not one of `referenced`.
    void collectGarbage(const std::unordered_set<std::string>& referenced);

  private:
    std::string folder_;
    platform::FileSystem& fileSystem_;
};

}  // namespace tavro::store
