// SPDX-License-Identifier: MIT
#include "share/SharedInbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <system_error>

#include "platform/Descriptor.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "share/AppGroup.h"

namespace tavro::share {

namespace paths = platform::paths;

namespace {

// The text after the last "/", trailing "/" characters ignored.
std::string_view lastPathComponent(std::string_view name) {
    while (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    size_t slash = name.rfind('/');
    return slash == std::string_view::npos ? name : name.substr(slash + 1);
}

bool isRefusedName(std::string_view name) {
    return name.empty() || name == "." || name == ".." ||
           name.find('\\') != std::string_view::npos || name.find('\0') != std::string_view::npos;
}

// A name read back from a record must be one the writer could have produced; anything else
// (a path, "..") would point the host outside the entry folder.
bool isStoredName(std::string_view name) {
    return !isRefusedName(name) && name.find('/') == std::string_view::npos;
}

// The longest file name the file systems take, in bytes.
constexpr size_t kNameBytes = 255;

// The longest prefix of `utf8` of at most `bytes` bytes that ends between two characters.
std::string_view utf8Prefix(std::string_view utf8, size_t bytes) {
    if (utf8.size() <= bytes)
        return utf8;
    size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(utf8[end]) & 0xC0) == 0x80)
        --end;
    return utf8.substr(0, end);
}

// A repaired name can be three times as long as the bytes it replaced (U+FFFD for each bad
// byte) and so too long for a file name: the part before the extension is shortened, at a
// character boundary, so that the name stays readable and keeps its type.
std::string fittedName(const std::string& name) {
    if (name.size() <= kNameBytes)
        return name;
    const size_t dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && dot > 0 && name.size() - dot <= 32;
    const std::string_view extension =
        hasExtension ? std::string_view(name).substr(dot) : std::string_view();
    const std::string_view stem =
        hasExtension ? std::string_view(name).substr(0, dot) : std::string_view(name);
    return std::string(utf8Prefix(stem, kNameBytes - extension.size())) + std::string(extension);
}

using PayloadWriter = std::function<void(const std::string& destination)>;

void writeEntry(const SharedInboxEntry& original, const PayloadWriter* payload,
                const platform::Env& env, platform::FileSystem& fileSystem) {
    SharedInboxEntry entry = original;
    if (entry.fileName)
        entry.fileName = SharedInbox::storedFileName(*entry.fileName);

    std::string container = AppGroup::requiredContainerURL(env);
    std::string folder =
        paths::join(paths::join(container, SharedInbox::kFolderName), entry.id.uppercase());
    // What the user shares is theirs alone: the folders, the payload and the record are created
    // private to the user (the file system's default), whatever the umask.
    const bool rewriting = fileSystem.isDirectory(folder);
    fileSystem.createDirectories(folder, platform::Permissions::privateToUser);

    try {
        if (payload && entry.fileName)
            (*payload)(paths::join(folder, *entry.fileName));

        std::string record = entry.encoded();
        fileSystem.writeFileAtomically(paths::join(folder, SharedInbox::kManifestName), record);
    } catch (...) {
        // A new entry that could not be completed leaves nothing behind: an empty or partial
        // folder would stay in the inbox for ever. An entry being rewritten keeps what it had.
        if (!rewriting) {
            try {
                fileSystem.removeAll(folder);
            } catch (...) {
            }
        }
        throw;
    }
}

}  // namespace

std::optional<std::string> SharedInbox::directory(const platform::Env& env) {
    auto container = AppGroup::containerURL(env);
    if (!container)
        return std::nullopt;
    std::string inbox = paths::join(*container, kFolderName);
    try {
        platform::FileSystem::real().createDirectories(inbox);
    } catch (...) {
        // Listing a folder that could not be made finds nothing; that is the answer.
    }
    return inbox;
}

std::string SharedInbox::storedFileName(std::string_view fileName) {
    std::string_view last = lastPathComponent(fileName);
    if (isRefusedName(last))
        platform::throwError(kErrorDomain, 1, kInvalidNameMessage);
    // A Linux file name may be any bytes; the record must be UTF-8, and the file on disk must
    // bear exactly the name the record gives.
    std::string name = fittedName(platform::text::replaceIllFormedUtf8(last));
    if (name == "manifest.json" || name == "manifest.json.tmp")
        name.insert(0, "shared-");
    return name;
}

void SharedInbox::write(const SharedInboxEntry& entry, std::optional<std::string_view> payload,
                        const platform::Env& env, platform::FileSystem& fileSystem) {
    PayloadWriter writer = [&](const std::string& destination) {
        fileSystem.writeFileAtomically(destination, *payload);
    };
    writeEntry(entry, payload ? &writer : nullptr, env, fileSystem);
}

void SharedInbox::writeCopying(const SharedInboxEntry& entry, const std::string& payloadSource,
                               const platform::Env& env, platform::FileSystem& fileSystem) {
    PayloadWriter writer = [&](const std::string& destination) {
        fileSystem.copyFileAtomically(payloadSource, destination);
    };
    writeEntry(entry, &writer, env, fileSystem);
}

namespace {

using platform::Descriptor;

// The record of the entry folder `name` directly inside the inbox, or nothing. Another program
// may have put anything there, so neither the folder nor the record is followed when it is a
// symbolic link, only a regular file is read (opened without blocking: a named pipe has no
// writer to wait for), and no more than kMaximumRecordSize bytes.
std::optional<std::string> readRecord(int inbox, const char* name) {
    Descriptor folder(::openat(inbox, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.get() < 0)
        return std::nullopt;
    Descriptor file(::openat(folder.get(), SharedInbox::kManifestName,
                             O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        uint64_t(info.st_size) > SharedInbox::kMaximumRecordSize) {
        return std::nullopt;
    }
    std::string record;
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return std::nullopt;
        if (count == 0)
            return record;
        if (record.size() + size_t(count) > SharedInbox::kMaximumRecordSize)
            return std::nullopt;  // grew while read
        record.append(buffer, size_t(count));
    }
}

}  // namespace

std::vector<SharedInbox::Pending> SharedInbox::pendingEntries(const platform::Env& env,
                                                              platform::FileSystem&) {
    std::vector<Pending> pending;
    auto inbox = directory(env);
    if (!inbox)
        return pending;

    Descriptor inboxFolder(::open(inbox->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (inboxFolder.get() < 0)
        return pending;
    DIR* listing = ::fdopendir(::dup(inboxFolder.get()));
    if (!listing)
        return pending;
    while (const dirent* child = ::readdir(listing)) {
        const std::string name = child->d_name;
        if (name == "." || name == "..")
            continue;
        std::optional<SharedInboxEntry> entry;
        if (auto record = readRecord(inboxFolder.get(), name.c_str()))
            entry = SharedInboxEntry::decode(*record);
        // An entry is known by its id, and removing it removes the folder of that name: a
        // record in a folder of another name could never be removed, and a host would take it
        // over again on every pass.
        if (!entry || name != entry->id.uppercase())
            continue;
        if (entry->fileName && !isStoredName(*entry->fileName))
            continue;
        const std::string folder = paths::join(*inbox, name);
        std::optional<std::string> payloadURL;
        if (entry->fileName)
            payloadURL = paths::join(folder, *entry->fileName);
        pending.push_back({std::move(*entry), std::move(payloadURL)});
    }
    ::closedir(listing);
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        return a.entry.createdAt < b.entry.createdAt;
    });
    return pending;
}

void SharedInbox::remove(const platform::Uuid& id, const platform::Env& env,
                         platform::FileSystem& fileSystem) {
    try {
        auto inbox = directory(env);
        if (inbox)
            fileSystem.removeAll(paths::join(*inbox, id.uppercase()));
    } catch (...) {
        // The host retries on its next pass; removal has nothing to report.
    }
}

}  // namespace tavro::share
