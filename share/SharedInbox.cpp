#include "share/SharedInbox.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <system_error>

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
    fileSystem.createDirectories(folder, platform::Permissions::privateToUser);

    if (payload && entry.fileName)
        (*payload)(paths::join(folder, *entry.fileName));

    std::string record = entry.encoded();
    fileSystem.writeFileAtomically(paths::join(folder, SharedInbox::kManifestName), record);
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
    std::string name = platform::text::replaceIllFormedUtf8(last);
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

std::vector<SharedInbox::Pending> SharedInbox::pendingEntries(const platform::Env& env,
                                                              platform::FileSystem& fileSystem) {
    std::vector<Pending> pending;
    auto inbox = directory(env);
    if (!inbox)
        return pending;

    std::error_code error;
    std::filesystem::directory_iterator child(*inbox, error), end;
    for (; !error && child != end; child.increment(error)) {
        std::string folder = child->path().string();
        std::optional<SharedInboxEntry> entry;
        try {
            entry =
                SharedInboxEntry::decode(fileSystem.readFile(paths::join(folder, kManifestName)));
        } catch (...) {
            continue;  // no readable record: not a complete entry
        }
        if (!entry || (entry->fileName && !isStoredName(*entry->fileName)))
            continue;
        std::optional<std::string> payloadURL;
        if (entry->fileName)
            payloadURL = paths::join(folder, *entry->fileName);
        pending.push_back({std::move(*entry), std::move(payloadURL)});
    }
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
