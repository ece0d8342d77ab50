#include "platform/FileSystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/Uuid.h"

namespace tavro::platform {

namespace {

constexpr size_t kChunkSize = 64 * 1024;

// Closes the descriptor when the scope ends, whatever path leaves it.
class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closing is where some file systems report a failed write, so it is checked.
    int close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result;
    }

  private:
    int fd_;
};

int openForReading(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throwFileError(errno, path, "opened");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(fd);
        throwFileError(error, path, "opened");
    }
    return fd;
}

// Reads up to `buffer.size()` bytes; 0 at the end of the file.
size_t readSome(int fd, std::array<char, kChunkSize>& buffer, const std::string& path) {
    for (;;) {
        const ssize_t count = ::read(fd, buffer.data(), buffer.size());
        if (count >= 0) {
            return static_cast<size_t>(count);
        }
        if (errno != EINTR) {
            throwFileError(errno, path, "opened");
        }
    }
}

// Returns 0 or the errno of the failed write.
int writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(fd, bytes.data(), bytes.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(count));
    }
    return 0;
}

// A sibling of `path` that no other writer picks: hidden, unique, same folder (so the final
// rename stays within one file system and is atomic).
std::string temporarySibling(const std::string& path) {
    // The final name may already use the whole name length the file system allows.
    constexpr size_t kNameBytesKept = 200;
    const std::string name = "." + paths::lastComponent(path).substr(0, kNameBytesKept) + "." +
                             Uuid::random().lowercase().substr(0, 13) + ".tmp";
    return paths::join(paths::parent(path), name);
}

// Makes the rename durable. The file is already in place when this runs, so a failure here
// cannot be reported as a failed write without lying about the file system's state.
void syncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// The temporary file of one atomic write: removed again unless committed.
class TemporaryFile {
  public:
    explicit TemporaryFile(const std::string& finalPath)
        : finalPath_(finalPath), path_(temporarySibling(finalPath)) {
        int fd;
        do {
            fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            throwFileError(errno, finalPath_, "saved");
        }
        fd_.emplace(fd);
    }
    ~TemporaryFile() {
        if (!committed_) {
            fd_.reset();
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_->get(); }
    const std::string& path() const { return path_; }

    void write(std::string_view bytes) {
        if (const int error = writeAll(fd(), bytes)) {
            throwFileError(error, finalPath_, "saved");
        }
    }

    // Flushes and closes; afterwards only the rename remains.
    void finishWriting() {
        if (::fsync(fd()) != 0 || fd_->close() != 0) {
            throwFileError(errno, finalPath_, "saved");
        }
    }

    // Closes without flushing: the caller flushes a whole batch at once.
    void finishWritingUnsynced() {
        if (fd_->close() != 0) {
            throwFileError(errno, finalPath_, "saved");
        }
    }

    void committed() { committed_ = true; }

  private:
    std::string finalPath_;
    std::string path_;
    std::optional<Descriptor> fd_;
    bool committed_ = false;
};

// Streams with copy_file_range; false when nothing could be copied that way (the caller then
// copies with read/write from the start). Some files (those of pseudo file systems above all)
// report no content to copy_file_range although read() returns bytes, so a first call that
// copies nothing also falls back.
bool copyInKernel(int from, int to, const std::string& path) {
    bool copiedAny = false;
    for (;;) {
        const ssize_t count = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (count == 0) {
            return copiedAny;
        }
        if (count > 0) {
            copiedAny = true;
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        const bool unsupported =
            errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP;
        if (unsupported && !copiedAny) {
            return false;
        }
        throwFileError(errno, path, "copied");
    }
}

// Copies through user space, passing every chunk to `observe` on the way.
void copyThroughBuffer(int from, TemporaryFile& to, const std::string& source,
                       const std::function<void(std::string_view)>& observe) {
    std::array<char, kChunkSize> buffer;
    for (;;) {
        const size_t count = readSome(from, buffer, source);
        if (count == 0) {
            return;
        }
        const std::string_view chunk(buffer.data(), count);
        if (observe) {
            observe(chunk);
        }
        to.write(chunk);
    }
}

}  // namespace

FileSystem& FileSystem::real() {
    static FileSystem instance;
    return instance;
}

void FileSystem::createDirectories(const std::string& path) {
    const std::string full = paths::absolute(path);
    std::string current = "/";
    size_t start = 1;
    while (start <= full.size()) {
        size_t end = full.find('/', start);
        if (end == std::string::npos) {
            end = full.size();
        }
        current = full.substr(0, end);
        start = end + 1;
        if (::mkdir(current.c_str(), 0777) == 0) {
            continue;
        }
        const int error = errno;
        if (error == EEXIST && isDirectory(current)) {
            continue;
        }
        throwFileError(error == EEXIST ? ENOTDIR : error, current, "created");
    }
}

bool FileSystem::exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

bool FileSystem::isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FileSystem::readFile(const std::string& path) {
    std::string content;
    readChunks(path, [&](std::string_view chunk) { content.append(chunk); });
    return content;
}

void FileSystem::readChunks(const std::string& path,
                            const std::function<void(std::string_view)>& sink) {
    Descriptor fd(openForReading(path));
    std::array<char, kChunkSize> buffer;
    for (;;) {
        const size_t count = readSome(fd.get(), buffer, path);
        if (count == 0) {
            return;
        }
        sink(std::string_view(buffer.data(), count));
    }
}

void FileSystem::writeFileAtomically(const std::string& path, std::string_view bytes) {
    TemporaryFile temporary(path);
    temporary.write(bytes);
    temporary.finishWriting();
    rename(temporary.path(), path);
    temporary.committed();
    syncFolder(paths::parent(paths::absolute(path)));
}

namespace {

// Fills `temporary` with the bytes of `from`, checking their digest when one is expected.
void copyInto(const std::string& from, const std::string& to, const std::string& expectedSha256,
              TemporaryFile& temporary) {
    Descriptor source(openForReading(from));
    if (expectedSha256.empty()) {
        if (!copyInKernel(source.get(), temporary.fd(), to)) {
            copyThroughBuffer(source.get(), temporary, from, nullptr);
        }
    } else {
        Sha256 hash;
        copyThroughBuffer(source.get(), temporary, from,
                          [&](std::string_view chunk) { hash.update(chunk); });
        const std::string actual = hash.finishHex();
        if (actual != expectedSha256) {
            ErrorRef error = makeFileError(EIO, to, "copied");
            error->debugDescription = from + ": content changed while copied (expected " +
                                      expectedSha256 + ", read " + actual + ")";
            throw Error(error);
        }
    }
}

// Flushes the file system that holds `folder` (all of its pending writes at once).
void syncFileSystemOf(const std::string& folder, const std::string& reportedPath) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::syncfs(fd) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throwFileError(error, reportedPath, "saved");
    }
    ::close(fd);
}

}  // namespace

void FileSystem::copyFileAtomically(const std::string& from, const std::string& to,
                                    const std::string& expectedSha256) {
    TemporaryFile temporary(to);
    copyInto(from, to, expectedSha256, temporary);
    temporary.finishWriting();
    rename(temporary.path(), to);
    temporary.committed();
    syncFolder(paths::parent(paths::absolute(to)));
}

void FileSystem::copyFilesAtomically(const std::vector<FileCopy>& copies) {
    std::vector<std::unique_ptr<TemporaryFile>> temporaries;
    temporaries.reserve(copies.size());
    std::set<std::string> folders;
    for (const FileCopy& copy : copies) {
        temporaries.push_back(std::make_unique<TemporaryFile>(copy.to));
        copyInto(copy.from, copy.to, copy.expectedSha256, *temporaries.back());
        temporaries.back()->finishWritingUnsynced();
        folders.insert(paths::parent(paths::absolute(copy.to)));
    }
    std::set<dev_t> synced;
    for (const std::string& folder : folders) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || synced.insert(info.st_dev).second) {
            syncFileSystemOf(folder, folder);
        }
    }
    for (size_t i = 0; i < copies.size(); ++i) {
        rename(temporaries[i]->path(), copies[i].to);
        temporaries[i]->committed();
    }
    for (const std::string& folder : folders) {
        syncFolder(folder);
    }
}

void FileSystem::rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        throwFileError(error, error == ENOENT ? from : to, "moved");
    }
}

void FileSystem::removeAll(const std::string& path) {
    std::error_code error;
    std::filesystem::remove_all(path, error);
    if (error) {
        throwFileError(error.value(), path, "removed");
    }
}

uint64_t FileSystem::fileSize(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        throwFileError(errno, path, "opened");
    }
    return static_cast<uint64_t>(info.st_size);
}

}  // namespace tavro::platform
