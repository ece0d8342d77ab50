// SPDX-License-Identifier: MIT
#pragma once
// The value of a byte field (`data`, `thumbnailData`, `iconData`): its SHA-256 digest and size,
// and where the bytes are. Stored content lives in the store's blob folder under its digest;
// new content is pending until a save copies it there, either from a file the caller has
// already hashed while streaming it, or from bytes held in memory (small values and tests).
//
// Two contents are equal when digest and size are equal: the bytes are the same whatever
// holds them, so setting a field to equal content changes nothing.

#include <cstdint>
#include <memory>
#include <string>

namespace tavro::model {

struct Content {
    std::string sha256;  // 64 lower-case hexadecimal digits
    uint64_t size = 0;

    // Where pending bytes come from; shared so that copying a Content never copies bytes.
    struct Pending {
        std::string path;   // a file to copy (when not empty)
        std::string bytes;  // else these bytes
    };
    std::shared_ptr<const Pending> pending;  // none: the bytes are a stored blob

    static Content fromFile(std::string path, std::string sha256, uint64_t size);
    static Content fromBytes(std::string bytes);
    static Content stored(std::string sha256, uint64_t size);

    bool isStored() const { return pending == nullptr; }
    bool isPendingFile() const { return pending && !pending->path.empty(); }

    bool operator==(const Content& other) const {
        return size == other.size && sha256 == other.sha256;
    }
};

}  // namespace tavro::model
