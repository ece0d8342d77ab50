// SPDX-License-Identifier: MIT
#pragma once
// Digests of asset files already hashed, keyed by path and checked against the file's identity
// and change time, so that an exchange does not read unchanged host files again: its cost
// grows with the number of records, not with the bytes of files that did not change.
//
// A digest is remembered only for a file whose change time was at least two seconds old when
// hashing began, and only when the file did not change while it was read. Any later write to
// the file moves its change time past the remembered one (change times cannot be set back from
// user space), so a remembered digest always describes the file's current bytes. New content
// is verified again when the store copies it, whatever this cache said.
//
// Used on the executor thread only; lives as long as the store owner.

#include <sys/stat.h>

#include <optional>
#include <string>
#include <unordered_map>

namespace tavro::exchange {

class AssetDigestCache {
  public:
    struct Digest {
        std::string sha256;
        uint64_t size = 0;
    };

    // The remembered digest of the file at `path` as it is now, or nothing.
    std::optional<Digest> find(const std::string& path, const struct stat& now) const;

    // Remembers `digest` for the file that had `before` when hashing began at `hashStart`
    // (seconds since 1970) and `after` when it ended; ignored unless the file was settled.
    void remember(const std::string& path, const struct stat& before, const struct stat& after,
                  double hashStart, Digest digest);

  private:
    struct Entry {
        dev_t device;
        ino_t inode;
        off_t size;
        struct timespec modified;
        struct timespec changed;
        Digest digest;
    };
    static bool sameFile(const Entry& entry, const struct stat& status);

    static constexpr size_t kMaximumEntries = 1'000'000;
    std::unordered_map<std::string, Entry> entries_;
};

}  // namespace tavro::exchange
