// SPDX-License-Identifier: MIT
#pragma once
// The shared inbox: the only channel from the share side to the host. Each shared item is an
// entry folder "SharedInbox/<UPPER-CASE ID>" in the App Group container holding the payload
// file (for shared files) and "manifest.json", the entry's record. The payload is written
// first and the record last, both atomically, so a folder with a "manifest.json" is complete;
// a folder without one is an interrupted write that readers skip.
//
// Nothing is cached and no state is shared: every call finds the container afresh and runs
// synchronously on the caller's thread. The host reads the same folders from another process.
//
// The container is found through the provisioning an Env describes (entitlements, data home).
// The forms without one read the running process's own; a test hands in a stand-in instead, so
// that it never changes the real environment while another thread may be reading it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Env.h"
#include "platform/FileSystem.h"
#include "platform/Uuid.h"
#include "share/SharedInboxEntry.h"

namespace tavro::share {

class SharedInbox {
  public:
    static constexpr const char* kFolderName = "SharedInbox";
    static constexpr const char* kManifestName = "manifest.json";
    static constexpr const char* kErrorDomain = "TavroInbox";
    static constexpr const char* kInvalidNameMessage = "The shared file has an invalid name.";
    // The largest record read back (64 MiB: a shared text of the largest size standard input
    // may bring, escaped); a larger "manifest.json" is no entry.
    static constexpr uint64_t kMaximumRecordSize = 64 * 1024 * 1024;

    struct Pending {
        SharedInboxEntry entry;
        // The entry folder joined with `fileName`; absent without a file name. Whether the
        // file exists is not checked.
        std::optional<std::string> payloadURL;
    };

    // The inbox folder under the container (with the reading side's fallback), created when
    // missing; a failure to create is ignored. Nothing only without any data home.
    static std::optional<std::string> directory(const platform::Env& env = platform::Env::real());

    // The name a payload file is stored under: the last path component, with "manifest.json"
    // and "manifest.json.tmp" prefixed by "shared-". Throws platform::Error ("TavroInbox", 1)
    // for an empty name, ".", "..", or a name holding a backslash or a NUL character.
    static std::string storedFileName(std::string_view fileName);

    // Stores one entry. `payload` is written to the entry folder under the entry's file name;
    // it is dropped when the entry has no file name. Throws the "TavroAppGroup" error without
    // a container, the "TavroInbox" error for a refused name (before anything touches the
    // disk), and the file system's error otherwise; files already written stay.
    static void write(const SharedInboxEntry& entry, std::optional<std::string_view> payload,
                      const platform::Env& env,
                      platform::FileSystem& fileSystem = platform::FileSystem::real());
    static void write(const SharedInboxEntry& entry, std::optional<std::string_view> payload,
                      platform::FileSystem& fileSystem = platform::FileSystem::real()) {
        write(entry, payload, platform::Env::real(), fileSystem);
    }

    // As write(), with the payload streamed from the file at `payloadSource` instead of memory.
    static void writeCopying(const SharedInboxEntry& entry, const std::string& payloadSource,
                             const platform::Env& env,
                             platform::FileSystem& fileSystem = platform::FileSystem::real());
    static void writeCopying(const SharedInboxEntry& entry, const std::string& payloadSource,
                             platform::FileSystem& fileSystem = platform::FileSystem::real()) {
        writeCopying(entry, payloadSource, platform::Env::real(), fileSystem);
    }

    // The complete entries, oldest first (a stable sort: equal times keep the listing order).
    // Never fails: unreadable or undecodable entries are skipped, and so are records in a folder
    // not named by their upper-case id (remove() could not remove them), records over
    // kMaximumRecordSize, and folders or records that are symbolic links or not regular files.
    // Records are read through descriptors of their own; `fileSystem` is not used for them.
    static std::vector<Pending> pendingEntries(
        const platform::Env& env, platform::FileSystem& fileSystem = platform::FileSystem::real());
    static std::vector<Pending> pendingEntries(
        platform::FileSystem& fileSystem = platform::FileSystem::real()) {
        return pendingEntries(platform::Env::real(), fileSystem);
    }

    // Deletes the entry folder with everything in it; every failure is ignored.
    static void remove(const platform::Uuid& id, const platform::Env& env,
                       platform::FileSystem& fileSystem = platform::FileSystem::real());
    static void remove(const platform::Uuid& id,
                       platform::FileSystem& fileSystem = platform::FileSystem::real()) {
        remove(id, platform::Env::real(), fileSystem);
    }
};

}  // namespace tavro::share
