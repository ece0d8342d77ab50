// SPDX-License-Identifier: MIT
#include "mirror/ContentTransfer.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <string_view>

#include "mirror/ServerRecords.h"
#include "platform/Error.h"
#include "platform/Sha256.h"
#include "store/Store.h"

namespace tavro::mirror {

namespace {

[[noreturn]] void refuseTampered(const std::string& digest, std::string_view where) {
    platform::throwError(kContentErrorDomain, static_cast<int64_t>(ContentFailure::Tampered),
                         "A file " + std::string(where) +
                             " doesn\u2019t match its SHA-256 digest, so it wasn\u2019t used.",
                         digest);
}

// A file descriptor closed when it goes.
struct OwnedFile {
    int fd = -1;
    ~OwnedFile() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

void writeAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            platform::throwFileError(errno, path, "saved");
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace

void uploadContent(Connection& connection, const store::Store& store,
                   const model::Content& content) {
    if (hasContent(connection, content.sha256)) {
        return;
    }
    // Held while reading, so that no writer's collection removes the blob under us.
    store::BlobStore::Lock keep = store.keepBlobs();
    std::string chunk;
    chunk.reserve(std::min<uint64_t>(content.size, kMaxChunkSize));
    int index = 0;
    bool taken = true;  // false once the server says another upload got there first
    auto send = [&] {
        if (taken && !chunk.empty()) {
            taken = putChunk(connection, content.sha256, index++, chunk);
        }
        chunk.clear();
    };
    store.readContent(content, [&](std::string_view bytes) {
        while (!bytes.empty()) {
            size_t room = kMaxChunkSize - chunk.size();
            size_t take = std::min(room, bytes.size());
            chunk.append(bytes.substr(0, take));
            bytes.remove_prefix(take);
            if (chunk.size() == kMaxChunkSize) {
                send();
            }
        }
    });
    send();
    if (!taken) {
        return;
    }
    if (!finishContent(connection, content.sha256, index)) {
        refuseTampered(content.sha256, "in the library");
    }
}

namespace {

// The process a download's name says wrote it: "<digest>.<pid>.<n>.part"; 0 for another name.
pid_t downloaderOf(std::string_view name) {
    constexpr std::string_view kSuffix = ".part";
    if (!name.ends_with(kSuffix)) {
        return 0;
    }
    name.remove_suffix(kSuffix.size());
    const size_t counter = name.rfind('.');
    const size_t pid = counter == std::string_view::npos ? counter : name.rfind('.', counter - 1);
    if (pid == std::string_view::npos) {
        return 0;
    }
    const std::string_view digits = name.substr(pid + 1, counter - pid - 1);
    pid_t value = 0;
    const auto [end, error] = std::from_chars(digits.begin(), digits.end(), value);
    return error == std::errc() && end == digits.end() ? value : 0;
}

}  // namespace

void removeAbandonedDownloads(const std::string& folder) {
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr) {
        return;  // nothing was ever downloaded here
    }
    while (const dirent* entry = ::readdir(directory)) {
        const pid_t pid = downloaderOf(entry->d_name);
        if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH) {
            ::unlinkat(::dirfd(directory), entry->d_name, 0);
        }
    }
    ::closedir(directory);
}

std::string downloadContent(Connection& connection, const std::string& digest,
                            const std::string& folder) {
    static std::atomic<uint64_t> counter{0};
    std::string path = folder + "/" + digest + "." + std::to_string(::getpid()) + "." +
                       std::to_string(counter++) + ".part";
    OwnedFile file;
    file.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (file.fd < 0) {
        platform::throwFileError(errno, path, "created");
    }
    try {
        platform::Sha256 hash;
        for (int index = 0;; ++index) {
            std::optional<std::string> chunk = getChunk(connection, digest, index);
            if (!chunk) {
                break;
            }
            hash.update(*chunk);
            writeAll(file.fd, *chunk, path);
        }
        if (hash.finishHex() != digest) {
            refuseTampered(digest, "from the sync server");
        }
    } catch (...) {
        ::unlink(path.c_str());
        throw;
    }
    return path;
}

}  // namespace tavro::mirror
