// SPDX-License-Identifier: MIT
#include "store/BlobStore.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "platform/Error.h"
#include "platform/Paths.h"

namespace tavro::store {

namespace {

bool isDigestName(std::string_view name) {
    if (name.size() != 64) {
        return false;
    }
    for (char c : name) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

// Removes a plain file or a link directly in the folder, never what a link leads to and never
// a sub-folder. Failure is ignored: what stays behind is collected another time.
void unlinkEntry(int folder, const std::string& name) {
    struct stat status {};
    if (::fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISDIR(status.st_mode)) {
        ::unlinkat(folder, name.c_str(), 0);
    }
}

// The names directly in the folder, read through its descriptor (which stays open).
std::vector<std::string> listNames(int folder) {
    std::vector<std::string> names;
    int copy = ::dup(folder);
    DIR* dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (dir == nullptr) {
        if (copy >= 0) {
            ::close(copy);
        }
        return names;
    }
    while (const dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(std::move(name));
        }
    }
    ::closedir(dir);
    return names;
}

}  // namespace

BlobStore::BlobStore(std::string folder, platform::FileSystem& fileSystem)
    : folder_(std::move(folder)), fileSystem_(fileSystem) {}

std::string BlobStore::path(const std::string& sha256) const {
    return platform::paths::join(folder_, sha256);
}

BlobStore::Lock::Lock(Lock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

BlobStore::Lock& BlobStore::Lock::operator=(Lock&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

BlobStore::Lock::~Lock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

// Each lock has a descriptor of its own: flock() locks belong to an open file description,
// so two units of work of one process lock independently, like two processes.
int BlobStore::openFolder() const {
    return ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

BlobStore::Lock BlobStore::lockShared() const {
    int fd = openFolder();
    if (fd < 0) {
        platform::throwFileError(errno, folder_, "opened");
    }
    int result;
    do {
        result = ::flock(fd, LOCK_SH);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        int error = errno;
        ::close(fd);
        platform::throwFileError(error, folder_, "opened");
    }
    return Lock(fd);
}

std::optional<BlobStore::Lock> BlobStore::tryLockExclusive() const {
    // Only the exclusive lock leads to deletions, which must stay in the folder itself: when
    // the folder is a link, the lock is not to be had and nothing is ever removed through it.
    // The descriptor pins the folder, so a later swap cannot redirect the removals either.
    int fd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return Lock(fd);
}

void BlobStore::ensure(const model::Content& content) {
    std::string target = path(content.sha256);
    if (fileSystem_.exists(target)) {
        return;
    }
    if (content.isStored()) {
        platform::throwFileError(ENOENT, target, "opened");
    }
    if (content.isPendingFile()) {
        fileSystem_.copyFileAtomically(content.pending->path, target, content.sha256);
    } else {
        fileSystem_.writeFileAtomically(target, content.pending->bytes);
    }
}

void BlobStore::ensureAll(const std::vector<const model::Content*>& contents) {
    write(missing(contents));
}

BlobStore::Missing BlobStore::missing(const std::vector<const model::Content*>& contents) const {
    // Most contents of an exchange are already stored: they are checked here, one stat each.
    std::unordered_set<std::string> seen;
    Missing missing;
    for (const model::Content* content : contents) {
        if (!seen.insert(content->sha256).second || fileSystem_.exists(path(content->sha256))) {
            continue;
        }
        if (content->isPendingFile()) {
            missing.fromFiles.push_back(
                {content->pending->path, path(content->sha256), content->sha256});
        } else {
            missing.fromBytes.push_back(content);
        }
    }
    return missing;
}

void BlobStore::write(const Missing& missing, platform::ExtraCopies* extra) {
    for (const model::Content* content : missing.fromBytes) {
        ensure(*content);
    }
    // The ones that come from files are copied as one batch, flushed to disk together: a first
    // import brings thousands of small files, and a flush each would cost far more than
    // writing them.
    if (!missing.fromFiles.empty()) {
        fileSystem_.copyFilesAtomically(missing.fromFiles, platform::Permissions::privateToUser,
                                        extra);
    }
}

void BlobStore::read(const model::Content& content,
                     const std::function<void(std::string_view)>& sink) const {
    if (content.isStored()) {
        fileSystem_.readChunks(path(content.sha256), sink);
    } else if (content.isPendingFile()) {
        fileSystem_.readChunks(content.pending->path, sink);
    } else {
        sink(content.pending->bytes);
    }
}

void BlobStore::removeUnreferenced(const Lock& exclusive,
                                   const std::vector<std::string>& candidates,
                                   const std::function<bool(const std::string&)>& isReferenced) {
    if (!exclusive) {
        return;
    }
    for (const auto& digest : candidates) {
        try {
            if (isDigestName(digest) && !isReferenced(digest)) {
                unlinkEntry(exclusive.fd_, digest);
            }
        } catch (const std::exception&) {
            // Collection is best effort: the blob stays until the next collection.
        }
    }
}

void BlobStore::collectGarbage(const Lock& exclusive,
                               const std::unordered_set<std::string>& referenced) {
    if (!exclusive) {
        return;
    }
    for (const auto& name : listNames(exclusive.fd_)) {
        // Blobs nobody names, and the hidden temporaries of writes a kill interrupted (no
        // write is under way while the exclusive lock is held). Anything else is not ours.
        bool garbage = isDigestName(name) ? referenced.count(name) == 0 : name.front() == '.';
        if (garbage) {
            unlinkEntry(exclusive.fd_, name);
        }
    }
}

}  // namespace tavro::store
