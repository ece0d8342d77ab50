// SPDX-License-Identifier: MIT
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <unordered_map>

#include "platform/BackgroundFlush.h"
#include "platform/Descriptor.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/Sha256.h"
#include "platform/ThreadPriority.h"
#include "platform/Uuid.h"

namespace tavro::platform {

namespace {

constexpr size_t kChunkSize = 64 * 1024;

// Cocoa's code for a file that exists but cannot be read for a reason of its own.
constexpr int64_t kFileReadUnknown = 256;
// …and for a file that cannot be written for a reason of its own.
constexpr int64_t kFileWriteUnknown = 512;

std::string quoted(const std::string& name) {
    return "\u201c" + name + "\u201d";
}

[[noreturn]] void throwNotRegularFile(const std::string& path) {
    throwError(kCocoaErrorDomain, kFileReadUnknown,
               "The file " + quoted(paths::lastComponent(path)) +
                   " couldn\u2019t be opened because it isn\u2019t a regular file.",
               path + ": not a regular file");
}

// Opens without blocking (a named pipe would otherwise wait for a writer forever) and keeps
// the descriptor only for a regular file; the check is made on the descriptor, so it holds for
// whatever is read from it.
int openForReading(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        throwFileError(errno, path, "opened");
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throwFileError(error, path, "opened");
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        if (S_ISDIR(info.st_mode)) {
            throwFileError(EISDIR, path, "opened");
        }
        throwNotRegularFile(path);
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

// Thirteen hex digits that no other temporary name of this process had: a counter from a
// random start. A first import names thousands of temporary files, and fresh random bytes for
// each cost more than writing many of them. Another process (a forked one too) may meet the
// same digits; the exclusive creation then fails and the caller asks again with a new start.
std::string temporaryTag(bool restart) {
    static std::atomic<uint64_t> next{0};
    if (restart || next.load(std::memory_order_relaxed) == 0) {
        Uuid random = Uuid::random();
        uint64_t start = 0;
        std::memcpy(&start, random.bytes.data(), sizeof start);
        next.store(start | 1, std::memory_order_relaxed);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    uint64_t value = next.fetch_add(1, std::memory_order_relaxed);
    std::string tag(13, '0');
    for (char& digit : tag) {
        digit = kHex[value & 0xf];
        value >>= 4;
    }
    return tag;
}

// A sibling of `path` that no other writer picks: hidden, unique, same folder (so the final
// rename stays within one file system and is atomic), and recognisably ours by its prefix.
std::string temporarySibling(const std::string& path, bool restart = false) {
    // The final name may already use the whole name length the file system allows.
    constexpr size_t kNameBytesKept = 200;
    const std::string name = std::string(kTemporaryFilePrefix) + temporaryTag(restart) + "." +
                             paths::lastComponent(path).substr(0, kNameBytesKept);
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

// The temporary file of one atomic write: removed again unless committed. It is created in
// `folderFd` (AT_FDCWD: `finalPath` is a path) under a name beside the final one.
class TemporaryFile {
  public:
    TemporaryFile(int folderFd, const std::string& finalPath, Permissions permissions,
                  std::string reportedPath = {})
        : folderFd_(folderFd),
          finalPath_(reportedPath.empty() ? finalPath : std::move(reportedPath)),
          path_(temporarySibling(finalPath)) {
        const bool keepPrivate = permissions == Permissions::privateToUser;
        int fd;
        int clashes = 0;
        for (;;) {
            fd = ::openat(folderFd_, path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          keepPrivate ? 0600 : 0666);
            if (fd >= 0 || (errno != EINTR && (errno != EEXIST || ++clashes > 3))) {
                break;
            }
            if (errno == EEXIST) {
                path_ = temporarySibling(finalPath, true);
            }
        }
        if (fd < 0) {
            throwFileError(errno, finalPath_, "saved");
        }
        fd_.emplace(fd);
        // The umask may have taken away the owner's own bits; the mode is set exactly.
        if (keepPrivate && ::fchmod(fd, 0600) != 0) {
            throwFileError(errno, finalPath_, "saved");
        }
    }
    ~TemporaryFile() {
        if (!committed_) {
            fd_.reset();
            ::unlinkat(folderFd_, path_.c_str(), 0);
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    int fd() const { return fd_->get(); }
    // Relative to the folder it was created in.
    const std::string& path() const { return path_; }
    const std::string& reportedPath() const { return finalPath_; }

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
    int folderFd_;
    std::string finalPath_;
    std::string path_;
    std::optional<Descriptor> fd_;
    bool committed_ = false;
};

// Streams with copy_file_range; returns the bytes copied, 0 when nothing could be copied that
// way (the caller then copies with read/write from the start). Some files (those of pseudo file
// systems above all) report no content to copy_file_range although read() returns bytes, so a first
// call that copies nothing also falls back.
uint64_t copyInKernel(int from, int to, const std::string& path) {
    uint64_t copied = 0;
    for (;;) {
        const ssize_t count = ::copy_file_range(from, nullptr, to, nullptr, 1 << 30, 0);
        if (count == 0) {
            return copied;
        }
        if (count > 0) {
            copied += static_cast<uint64_t>(count);
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        const bool unsupported =
            errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP;
        if (unsupported && copied == 0) {
            return 0;
        }
        throwFileError(errno, path, "copied");
    }
}

// Copies through user space, passing every chunk to `observe` on the way; returns the bytes
// copied.
uint64_t copyThroughBuffer(int from, TemporaryFile& to, const std::string& source,
                           const std::function<void(std::string_view)>& observe) {
    std::array<char, kChunkSize> buffer;
    uint64_t copied = 0;
    for (;;) {
        const size_t count = readSome(from, buffer, source);
        if (count == 0) {
            return copied;
        }
        copied += count;
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

// ---- Reading ---------------------------------------------------------------------------------

ReadableFile::ReadableFile(const std::string& path) : fd_(openForReading(path)), path_(path) {}

std::optional<ReadableFile> ReadableFile::openBeneath(int folderFd, std::string_view relative,
                                                      std::string path) {
    // The kernel walks the name component by component and refuses any link and any way out of
    // the folder, so the file opened is where its name says, beneath the folder, in one call.
    struct open_how how {};
    how.flags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    const std::string name(relative);
    long fd;
    do {
        fd = ::syscall(SYS_openat2, folderFd, name.c_str(), &how, sizeof how);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(static_cast<int>(fd), &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(static_cast<int>(fd));
        return std::nullopt;
    }
    return ReadableFile(static_cast<int>(fd), std::move(path));
}

ReadableFile::~ReadableFile() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ReadableFile::ReadableFile(ReadableFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

struct stat ReadableFile::status() const {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        throwFileError(errno, path_, "read");
    }
    return info;
}

void ReadableFile::readChunks(const std::function<void(std::string_view)>& sink) const {
    if (::lseek(fd_, 0, SEEK_SET) != 0) {
        throwFileError(errno, path_, "read");
    }
    std::array<char, kChunkSize> buffer;
    for (;;) {
        const size_t count = readSome(fd_, buffer, path_);
        if (count == 0) {
            return;
        }
        sink(std::string_view(buffer.data(), count));
    }
}

int ReadableFile::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

OpenFolder::OpenFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

OpenFolder::~OpenFolder() {
    if (fd_ >= 0) {
        ::close(fd_);  // also releases the clean-up lock
    }
}

OpenFolder::OpenFolder(OpenFolder&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)) {
    other.fd_ = -1;
}

void FileSystem::createDirectories(const std::string& path, Permissions permissions) {
    const bool keepPrivate = permissions == Permissions::privateToUser;
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
        if (::mkdir(current.c_str(), keepPrivate ? 0700 : 0777) == 0) {
            // mkdir's mode passes through the umask, which may have taken the owner's own
            // bits; a new private folder gets exactly 0700. It is never wider meanwhile.
            if (keepPrivate && ::chmod(current.c_str(), 0700) != 0) {
                throwFileError(errno, current, "created");
            }
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
    ReadableFile(path).readChunks(sink);
}

// ---- Writing ---------------------------------------------------------------------------------

void FileSystem::writeFileAtomically(const std::string& path, std::string_view bytes) {
    TemporaryFile temporary(AT_FDCWD, path, Permissions::privateToUser);
    temporary.write(bytes);
    temporary.finishWriting();
    rename(temporary.path(), path);
    temporary.committed();
    syncFolder(paths::parent(paths::absolute(path)));
}

namespace {

// Fills `temporary` with the bytes of `from`, checking their digest when one is expected and
// passing each chunk to `alsoTo` when given. Returns the bytes copied.
uint64_t copyInto(const std::string& from, const std::string& expectedSha256,
                  TemporaryFile& temporary,
                  const std::function<void(std::string_view)>& alsoTo = nullptr) {
    const std::string& to = temporary.reportedPath();
    Descriptor source(openForReading(from));
    if (expectedSha256.empty() && !alsoTo) {
        const uint64_t copied = copyInKernel(source.get(), temporary.fd(), to);
        return copied > 0 ? copied : copyThroughBuffer(source.get(), temporary, from, nullptr);
    }
    Sha256 hash;
    const uint64_t copied =
        copyThroughBuffer(source.get(), temporary, from, [&](std::string_view chunk) {
            if (!expectedSha256.empty()) {
                hash.update(chunk);
            }
            if (alsoTo) {
                alsoTo(chunk);
            }
        });
    if (expectedSha256.empty()) {
        return copied;
    }
    const std::string actual = hash.finishHex();
    if (actual != expectedSha256) {
        ErrorRef error = makeFileError(EIO, to, "copied");
        error->debugDescription = from + ": content changed while copied (expected " +
                                  expectedSha256 + ", read " + actual + ")";
        throw Error(error);
    }
    return copied;
}

// Flushes the file system that holds the open folder `fd` (all of its pending writes at once).
void syncFileSystemOf(int fd, const std::string& reportedPath) {
    if (::syncfs(fd) != 0) {
        throwFileError(errno, reportedPath, "saved");
    }
}

void syncFileSystemOf(const std::string& folder, const std::string& reportedPath) {
    Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        throwFileError(errno, reportedPath, "saved");
    }
    syncFileSystemOf(fd.get(), reportedPath);
}

}  // namespace

struct PreparedCopies::Files {
    std::vector<std::unique_ptr<TemporaryFile>> temporaries;
    std::unordered_map<std::string, TemporaryFile*> byName;  // those not yet placed
    std::unordered_map<std::string, ino_t> placedAhead;      // the file each name was given

    // The copy prepared under `name`, no longer to be placed; nullptr when there is none.
    TemporaryFile* take(const std::string& name) {
        auto found = byName.find(name);
        if (found == byName.end()) {
            return nullptr;
        }
        TemporaryFile* temporary = found->second;
        byName.erase(found);
        return temporary;
    }
};

namespace {

// The extra copies of a batch's contents (ExtraCopies) that one of its writers makes, as it
// reads each content. A failure of any writer's ends them all, and is never the batch's.
class ExtraFiles {
  public:
    ExtraFiles(ExtraCopies* extra, std::atomic<bool>& ended)
        : extra_(extra != nullptr && extra->folder != nullptr ? extra : nullptr), ended_(ended) {}

    // Opens the copies wanted of the content with digest `sha256`, about to be read.
    void open(const std::string& sha256) {
        if (extra_ == nullptr || ended_.load(std::memory_order_relaxed)) {
            return;
        }
        const auto found = extra_->namesByDigest.find(sha256);
        if (found == extra_->namesByDigest.end()) {
            return;
        }
        attempt([&] {
            const OpenFolder& folder = *extra_->folder;
            for (const std::string& name : found->second) {
                opened_.emplace_back(name, std::make_unique<TemporaryFile>(
                                               folder.descriptor(), name, Permissions::followUmask,
                                               paths::join(folder.path(), name)));
            }
        });
    }
    size_t count() const { return opened_.size(); }
    void write(std::string_view chunk) {
        attempt([&] {
            for (auto& file : opened_) {
                file.second->write(chunk);
            }
        });
    }
    // The content was read whole and had its digest: its copies are kept.
    void keep() {
        attempt([&] {
            for (auto& [name, file] : opened_) {
                file->finishWritingUnsynced();
                kept_.byName.insert_or_assign(name, file.get());
                kept_.temporaries.push_back(std::move(file));
            }
        });
        opened_.clear();
    }
    // Once every writer is done: the copies kept join `files`, the extra copies' prepared
    // ones, unless any writer's failed.
    void handOver(PreparedCopies::Files& files) {
        if (extra_ == nullptr || ended_.load()) {
            return;
        }
        for (auto& [name, file] : kept_.byName) {
            files.byName.insert_or_assign(name, file);
        }
        std::move(kept_.temporaries.begin(), kept_.temporaries.end(),
                  std::back_inserter(files.temporaries));
        kept_ = {};
    }

  private:
    template <typename Step>
    void attempt(Step&& step) {
        if (extra_ == nullptr) {
            return;
        }
        try {
            step();
        } catch (...) {
            opened_.clear();
            ended_ = true;
        }
    }

    ExtraCopies* extra_;
    std::atomic<bool>& ended_;
    std::vector<std::pair<std::string, std::unique_ptr<TemporaryFile>>> opened_;
    PreparedCopies::Files kept_;
};

// Flushes the file system of `extra`'s folder after a batch's own flush, which covered those of
// `synced`, unless that was the same. A failure ends the extra copies.
void flushExtraCopies(ExtraCopies* extra, const std::set<dev_t>& synced) {
    if (extra == nullptr || extra->folder == nullptr || extra->prepared.size() == 0) {
        return;
    }
    try {
        struct stat info {};
        const int folder = extra->folder->descriptor();
        if (::fstat(folder, &info) != 0 || synced.count(info.st_dev) == 0) {
            syncFileSystemOf(folder, extra->folder->path());
        }
    } catch (...) {
        extra->prepared = {};
    }
}

// Writes the temporary files of a batch: the calling thread and, for a large batch, a second
// one that gives way to every other thread. A save writes its rows meanwhile, which keep the
// processors to themselves; the copies left once they are written go twice as fast. Each copy
// is taken by whichever writer is free; the first failure ends the taking and is the batch's.
class BatchWriters {
  public:
    // `prepared`: those of `extra`, when given.
    BatchWriters(const std::vector<FileSystem::FileCopy>& copies, Permissions permissions,
                 ExtraCopies* extra, PreparedCopies::Files* prepared, BackgroundFlush& flush)
        : copies_(copies),
          permissions_(permissions),
          extra_(extra),
          prepared_(prepared),
          flush_(flush),
          temporaries_(copies.size()) {}

    // Returns the temporary files in the order of the copies; throws the first failure.
    std::vector<std::unique_ptr<TemporaryFile>> write() {
        constexpr size_t kWorthASecondWriter = 64;
        ExtraFiles mine(extra_, extrasEnded_), helpers(extra_, extrasEnded_);
        std::thread helper;
        if (copies_.size() >= kWorthASecondWriter) {
            try {
                helper = std::thread([this, &helpers] {
                    giveWayToOtherThreads();
                    take(helpers);
                });
            } catch (...) {
                // No thread: this one writes them all.
            }
        }
        take(mine);
        if (helper.joinable()) {
            helper.join();
        }
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (prepared_ != nullptr) {
            mine.handOver(*prepared_);
            helpers.handOver(*prepared_);
        }
        return std::move(temporaries_);
    }

  private:
    void take(ExtraFiles& extras) noexcept {
        const std::function<void(std::string_view)> writeExtras =
            [&extras](std::string_view chunk) { extras.write(chunk); };
        const std::function<void(std::string_view)> noExtras;
        for (size_t i = next_++; i < copies_.size() && !failed_; i = next_++) {
            const FileSystem::FileCopy& copy = copies_[i];
            try {
                temporaries_[i] = std::make_unique<TemporaryFile>(AT_FDCWD, copy.to, permissions_);
                extras.open(copy.expectedSha256);
                const uint64_t files = 1 + extras.count();
                const uint64_t copied = copyInto(copy.from, copy.expectedSha256, *temporaries_[i],
                                                 extras.count() > 0 ? writeExtras : noExtras);
                temporaries_[i]->finishWritingUnsynced();
                extras.keep();
                std::lock_guard lock(mutex_);
                flush_.wrote(files * copied);
            } catch (...) {
                std::lock_guard lock(mutex_);
                if (!failure_) {
                    failure_ = std::current_exception();
                }
                failed_ = true;
            }
        }
    }

    const std::vector<FileSystem::FileCopy>& copies_;
    const Permissions permissions_;
    ExtraCopies* const extra_;
    PreparedCopies::Files* const prepared_;
    BackgroundFlush& flush_;
    std::vector<std::unique_ptr<TemporaryFile>> temporaries_;  // each written by one writer
    std::atomic<size_t> next_{0};
    std::atomic<bool> failed_{false};
    std::atomic<bool> extrasEnded_{false};
    std::mutex mutex_;  // guards failure_ and flush_
    std::exception_ptr failure_;
};

// The folder that holds `path`, open; -1 when it cannot be opened.
int openFolderOf(const std::string& path) {
    return ::open(paths::parent(paths::absolute(path)).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// "“received” in the folder “exchange” …": the sentences of a subfolder that is not one.
std::string subfolderSubject(const std::string& directory, const std::string& name) {
    return quoted(name) + " in the folder " + quoted(paths::lastComponent(directory));
}

[[noreturn]] void throwNotAFolder(const std::string& directory, const std::string& name,
                                  const struct stat& info) {
    const std::string subject = subfolderSubject(directory, name);
    std::string sentence;
    if (S_ISLNK(info.st_mode)) {
        sentence = subject +
                   " is a symbolic link, not a folder; files are written only into a real "
                   "folder there, never through a link.";
    } else if (S_ISREG(info.st_mode)) {
        sentence = subject + " is a file, not a folder.";
    } else {
        sentence = subject + " isn\u2019t a folder.";
    }
    throwError(kCocoaErrorDomain, kFileWriteUnknown, sentence,
               paths::join(directory, name) + ": not a folder");
}

// Removes the temporary files that an interrupted write left in the open folder `fd`: regular
// files bearing our prefix, never followed through a link. Best effort: a leftover that stays
// wastes space but harms nothing.
void removeLeftoverTemporaries(int fd) {
    const int listing = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* folder = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (folder == nullptr) {
        if (listing >= 0) {
            ::close(listing);
        }
        return;
    }
    ::rewinddir(folder);
    std::vector<std::string> leftovers;
    while (const dirent* entry = ::readdir(folder)) {
        if (std::string_view(entry->d_name).starts_with(kTemporaryFilePrefix)) {
            leftovers.emplace_back(entry->d_name);
        }
    }
    ::closedir(folder);
    for (const std::string& name : leftovers) {
        struct stat info {};
        if (::fstatat(fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode)) {
            ::unlinkat(fd, name.c_str(), 0);
        }
    }
}

}  // namespace

void FileSystem::copyFileAtomically(const std::string& from, const std::string& to,
                                    const std::string& expectedSha256) {
    TemporaryFile temporary(AT_FDCWD, to, Permissions::privateToUser);
    copyInto(from, expectedSha256, temporary);
    temporary.finishWriting();
    rename(temporary.path(), to);
    temporary.committed();
    syncFolder(paths::parent(paths::absolute(to)));
}

void FileSystem::copyFilesAtomically(const std::vector<FileCopy>& copies, Permissions permissions,
                                     ExtraCopies* extra) {
    // Told whatever ends the batch: a thread may be waiting to place the extra copies.
    const ExtraCopies::TellOnExit tellOnExit(extra);
    std::set<std::string> folders;
    for (const FileCopy& copy : copies) {
        folders.insert(paths::parent(paths::absolute(copy.to)));
    }
    // The first file's folder stands for the batch's file system: a batch spans one folder in
    // practice. Declared before the flush, so it stays open until the flush has ended.
    Descriptor firstFolder(copies.empty() ? -1 : openFolderOf(copies.front().to));
    BackgroundFlush flush(firstFolder.get());
    if (extra != nullptr && !extra->prepared.files_) {
        extra->prepared.files_ = std::make_unique<PreparedCopies::Files>();
    }
    std::vector<std::unique_ptr<TemporaryFile>> temporaries =
        BatchWriters(copies, permissions, extra, extra ? extra->prepared.files_.get() : nullptr,
                     flush)
            .write();
    std::set<dev_t> synced;
    for (const std::string& folder : folders) {
        struct stat info {};
        if (::stat(folder.c_str(), &info) != 0 || synced.insert(info.st_dev).second) {
            syncFileSystemOf(folder, folder);
        }
    }
    flushExtraCopies(extra, synced);
    if (extra != nullptr) {
        extra->onDisk.tell(extra->prepared.size() > 0);
    }
    for (size_t i = 0; i < copies.size(); ++i) {
        rename(temporaries[i]->path(), copies[i].to);
        temporaries[i]->committed();
    }
    for (const std::string& folder : folders) {
        syncFolder(folder);
    }
}

OpenFolder FileSystem::openSubfolder(const std::string& directory, const std::string& name) {
    createDirectories(directory, Permissions::followUmask);
    Descriptor parent(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent.valid()) {
        throwFileError(errno, directory, "opened");
    }
    const std::string path = paths::join(directory, name);
    if (::mkdirat(parent.get(), name.c_str(), 0777) != 0 && errno != EEXIST) {
        throwFileError(errno, path, "created");
    }
    // O_NOFOLLOW: a link put in the folder's place is refused, never written through.
    const int fd =
        ::openat(parent.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        if (::fstatat(parent.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            !S_ISDIR(info.st_mode)) {
            throwNotAFolder(directory, name, info);
        }
        throwFileError(error, path, "created");
    }
    OpenFolder folder(fd, path);
    // Another process writing into the folder holds the lock; its temporaries are in use, not
    // left over. The lock goes with the descriptor, also when a process is killed.
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        removeLeftoverTemporaries(fd);
    }
    return folder;
}

void ExtraCopies::OnDisk::tell(bool onDisk) noexcept {
    {
        std::lock_guard lock(mutex_);
        if (onDisk_) {
            return;
        }
        onDisk_ = onDisk;
    }
    told_.notify_all();
}

bool ExtraCopies::OnDisk::await() const {
    std::unique_lock lock(mutex_);
    told_.wait(lock, [this] { return onDisk_.has_value(); });
    return *onDisk_;
}

PreparedCopies::PreparedCopies() = default;
PreparedCopies::~PreparedCopies() = default;
PreparedCopies::PreparedCopies(PreparedCopies&& other) noexcept = default;
PreparedCopies& PreparedCopies::operator=(PreparedCopies&& other) noexcept = default;

size_t PreparedCopies::size() const {
    return files_ ? files_->byName.size() : 0;
}

void FileSystem::copyFilesInto(const OpenFolder& folder, const std::vector<FileCopy>& copies) {
    if (copies.empty()) {
        return;
    }
    PreparedCopies prepared = prepareCopiesInto(folder, copies);
    placePreparedCopies(folder, prepared, copies);
}

PreparedCopies FileSystem::prepareCopiesInto(const OpenFolder& folder,
                                             const std::vector<FileCopy>& copies) {
    PreparedCopies prepared;
    prepared.files_ = std::make_unique<PreparedCopies::Files>();
    PreparedCopies::Files& files = *prepared.files_;
    files.temporaries.reserve(copies.size());
    BackgroundFlush flush(folder.descriptor());
    for (const FileCopy& copy : copies) {
        auto temporary =
            std::make_unique<TemporaryFile>(folder.descriptor(), copy.to, Permissions::followUmask,
                                            paths::join(folder.path(), copy.to));
        flush.wrote(copyInto(copy.from, copy.expectedSha256, *temporary));
        temporary->finishWritingUnsynced();
        files.byName.insert_or_assign(copy.to, temporary.get());
        files.temporaries.push_back(std::move(temporary));
    }
    if (!copies.empty()) {
        syncFileSystemOf(folder.descriptor(), folder.path());
    }
    return prepared;
}

std::vector<FileSystem::FileCopy> FileSystem::placePreparedCopies(
    const OpenFolder& folder, PreparedCopies& prepared, const std::vector<FileCopy>& copies) {
    std::vector<FileCopy> unprepared;
    bool placed = false;
    for (const FileCopy& copy : copies) {
        if (prepared.files_ && prepared.files_->placedAhead.count(copy.to) > 0) {
            continue;
        }
        TemporaryFile* temporary = prepared.files_ ? prepared.files_->take(copy.to) : nullptr;
        if (temporary == nullptr) {
            unprepared.push_back(copy);
            continue;
        }
        renameInFolder(folder, temporary->path(), copy.to);
        temporary->committed();
        placed = true;
    }
    if (placed) {
        ::fsync(folder.descriptor());  // as syncFolder: the files are in place whatever it answers
    }
    return unprepared;
}

void FileSystem::placePreparedCopiesAhead(const OpenFolder& folder, PreparedCopies& prepared,
                                          const std::vector<FileCopy>& copies) noexcept {
    if (!prepared.files_) {
        return;
    }
    PreparedCopies::Files& files = *prepared.files_;
    bool placed = false;
    try {
        for (const FileCopy& copy : copies) {
            const auto found = files.byName.find(copy.to);
            if (found == files.byName.end() ||
                !renameInFolderUnlessTaken(folder, found->second->path(), copy.to)) {
                continue;
            }
            found->second->committed();
            files.byName.erase(found);
            placed = true;
            // What withdrawing must find there to take it back.
            struct stat info {};
            const bool known =
                ::fstatat(folder.descriptor(), copy.to.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
            files.placedAhead.emplace(copy.to, known ? info.st_ino : 0);
        }
    } catch (...) {
        // The rest are placed in their turn, which reports what goes wrong then.
    }
    if (placed) {
        ::fsync(folder.descriptor());  // as syncFolder: the files are in place whatever it answers
    }
}

void FileSystem::withdrawCopiesPlacedAhead(const OpenFolder& folder,
                                           PreparedCopies& prepared) noexcept {
    if (!prepared.files_) {
        return;
    }
    for (const auto& [name, inode] : prepared.files_->placedAhead) {
        struct stat info {};
        if (inode != 0 &&
            ::fstatat(folder.descriptor(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            info.st_ino == inode) {
            ::unlinkat(folder.descriptor(), name.c_str(), 0);
        }
    }
    prepared.files_->placedAhead.clear();
}

bool FileSystem::renameInFolderUnlessTaken(const OpenFolder& folder, const std::string& from,
                                           const std::string& to) {
    if (::renameat2(folder.descriptor(), from.c_str(), folder.descriptor(), to.c_str(),
                    RENAME_NOREPLACE) == 0) {
        return true;
    }
    const int error = errno;
    if (error == EEXIST || error == EINVAL || error == ENOSYS) {
        return false;  // taken, or a file system that cannot tell: replaced in its turn
    }
    throwFileError(error, paths::join(folder.path(), error == ENOENT ? from : to), "moved");
}

void FileSystem::renameInFolder(const OpenFolder& folder, const std::string& from,
                                const std::string& to) {
    if (::renameat(folder.descriptor(), from.c_str(), folder.descriptor(), to.c_str()) != 0) {
        const int error = errno;
        throwFileError(error, paths::join(folder.path(), error == ENOENT ? from : to), "moved");
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

void makeOwnFolderPrivate(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && status.st_uid == ::geteuid() && (status.st_mode & 077) != 0) {
        ::fchmod(fd, status.st_mode & 0700);
    }
    ::close(fd);
}

}  // namespace tavro::platform
