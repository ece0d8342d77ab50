// SPDX-License-Identifier: MIT
#pragma once
// The file operations the library needs, behind one small interface so that tests can fail a
// write, a rename or a read at a chosen moment (see tests/support/FaultyFileSystem.h).
// Every failure throws platform::Error made by makeFileError (the file system's error), or a
// sentence of its own where the cause is not an errno (a file that is not a regular file).
//
// What the library creates holds the user's library, so folders and files are created private
// to the user (0700 and 0600, whatever the process's umask, which is never changed: it is
// process-wide and other threads run). Only what is handed to the host (its exchange
// directory's "received" folder) follows the umask, as the host's own files do.
//
// Only regular files are read: a named pipe or a device could block a reader or never end.
//
// Thread safety: the real file system may be used from any thread; it keeps no state.

#include <sys/stat.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tavro::platform {

enum class Permissions {
    privateToUser,  // folders 0700, files 0600
    followUmask,    // folders 0777, files 0666, less the process's umask
};

// Temporary files of atomic writes are named with this hidden prefix, so that those an
// interrupted process left behind can be told apart from anything else in a folder.
inline constexpr std::string_view kTemporaryFilePrefix = ".tavro-partial-";

// A regular file opened once for reading. Opening never blocks (a named pipe without a writer
// would block forever), and anything but a regular file is refused, so every later read comes
// from the very file that was checked.
class ReadableFile {
  public:
    // Throws the file system's error, or "… isn't a regular file" for a folder's content that
    // is neither a file nor a folder.
    explicit ReadableFile(const std::string& path);
    // The regular file at `relative` (no "." or ".." component, no empty one) beneath the
    // folder open on `folderFd`, reached without following any symbolic link and without
    // leaving the folder; `path` is the name it is reported under. Nothing, and no error, when
    // the file cannot be reached that way for whatever reason: the caller then takes the
    // general route, which says why.
    static std::optional<ReadableFile> openBeneath(int folderFd, std::string_view relative,
                                                   std::string path);
    ~ReadableFile();
    ReadableFile(ReadableFile&& other) noexcept;
    ReadableFile(const ReadableFile&) = delete;
    ReadableFile& operator=(const ReadableFile&) = delete;
    ReadableFile& operator=(ReadableFile&&) = delete;

    int descriptor() const { return fd_; }
    const std::string& path() const { return path_; }
    // The status as it is now (fstat of the descriptor).
    struct stat status() const;
    // Streams the whole file from its start, whatever was read before.
    void readChunks(const std::function<void(std::string_view)>& sink) const;
    // Hands the descriptor over to the caller, who closes it.
    int release();

  private:
    ReadableFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

    int fd_;
    std::string path_;
};

// A folder held open by descriptor: files written through it land in this very folder, even
// if its path is later replaced (by a symbolic link, say). See FileSystem::openSubfolder.
class OpenFolder {
  public:
    OpenFolder(int fd, std::string path);
    ~OpenFolder();
    OpenFolder(OpenFolder&& other) noexcept;
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    OpenFolder& operator=(OpenFolder&&) = delete;

    int descriptor() const { return fd_; }
    // For error messages only; the descriptor is what is written through.
    const std::string& path() const { return path_; }

  private:
    int fd_;
    std::string path_;
};

// Copies written into an open folder ahead of their final names, for a caller that learns only
// later which of them it needs (FileSystem::prepareCopiesInto, or a batch's ExtraCopies). Each
// lies in the folder under a temporary name, already on disk, until it is placed
// (FileSystem::placePreparedCopies); a power loss therefore never leaves a partly written file
// under a final name. Those never placed are removed when this ends. Used by one thread at a
// time.
class PreparedCopies {
  public:
    PreparedCopies();
    ~PreparedCopies();
    PreparedCopies(PreparedCopies&& other) noexcept;
    PreparedCopies& operator=(PreparedCopies&& other) noexcept;

    size_t size() const;

    struct Files;  // known to the file system alone

  private:
    friend class FileSystem;
    std::unique_ptr<Files> files_;
};

// Further copies of a batch's contents, made from the bytes the batch reads
// (FileSystem::copyFilesAtomically): each copy whose digest is listed here also fills, in
// `folder`, every name listed under that digest. They become prepared copies, on disk once the
// batch is, to be placed later (FileSystem::placePreparedCopies). Reading and hashing a content
// once for all its copies is what they are for; they never fail the batch: when the folder
// cannot take them, they end, `prepared` holds none, and the batch goes on.
//
// The batch tells `onDisk` once its extra copies are flushed, before it puts its own files in
// place, so that another thread may place them meanwhile (FileSystem::placePreparedCopiesAhead).
struct ExtraCopies {
    // Whether the extra copies are on disk: told once, by the batch or by whoever learns first
    // that they never will be; awaited by another thread.
    class OnDisk {
      public:
        // The first telling counts; later ones change nothing.
        void tell(bool onDisk) noexcept;
        bool await() const;

      private:
        mutable std::mutex mutex_;
        mutable std::condition_variable told_;
        std::optional<bool> onDisk_;
    };

    // Tells `onDisk` false when it ends, unless it was told before: for a scope whose every
    // way out must leave a waiting thread told.
    class TellOnExit {
      public:
        explicit TellOnExit(ExtraCopies* extra) : extra_(extra) {}
        ~TellOnExit() {
            if (extra_ != nullptr) {
                extra_->onDisk.tell(false);
            }
        }
        TellOnExit(const TellOnExit&) = delete;
        TellOnExit& operator=(const TellOnExit&) = delete;

      private:
        ExtraCopies* extra_;
    };

    const OpenFolder* folder = nullptr;
    std::unordered_map<std::string, std::vector<std::string>> namesByDigest;
    PreparedCopies prepared;
    OnDisk onDisk;
};

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The process-wide real file system.
    static FileSystem& real();

    // Creates `path` and every missing parent. An existing folder is fine and keeps its mode.
    virtual void createDirectories(const std::string& path,
                                   Permissions permissions = Permissions::privateToUser);
    virtual bool exists(const std::string& path);
    virtual bool isDirectory(const std::string& path);

    // Reads a whole (small) file: markers, manifests, entitlements. Regular files only.
    virtual std::string readFile(const std::string& path);

    // Streams a file in chunks to `sink`. A folder is an error, not empty content, and so is
    // anything else that is not a regular file.
    virtual void readChunks(const std::string& path,
                            const std::function<void(std::string_view)>& sink);

    // Writes through a temporary file in the same folder: write, fsync, rename over `path`,
    // fsync the folder. A failure leaves no file under the final name and removes the
    // temporary one. The file is private to the user.
    virtual void writeFileAtomically(const std::string& path, std::string_view bytes);

    // Copies `from` to `to` atomically as above, streaming (copy_file_range where the file
    // system allows it). When `expectedSha256` is not empty, the copied bytes are hashed
    // on the way and a mismatch fails the copy (the source changed after it was hashed).
    // The copy is private to the user.
    virtual void copyFileAtomically(const std::string& from, const std::string& to,
                                    const std::string& expectedSha256 = {});

    // Many copies as one batch, each as copyFileAtomically makes it, but flushed together: every
    // temporary file is written first, the file systems are synced once, then each file is
    // renamed into place and each folder synced once. Hundreds of small files then cost two
    // flushes rather than two each. A failure leaves every file not yet renamed untouched under
    // its final name and removes the temporary files.
    struct FileCopy {
        std::string from;
        std::string to;
        std::string expectedSha256;  // empty: not checked
    };
    // With `extra`, the batch's contents also fill its names; see ExtraCopies.
    virtual void copyFilesAtomically(const std::vector<FileCopy>& copies,
                                     Permissions permissions = Permissions::privateToUser,
                                     ExtraCopies* extra = nullptr);

    // The folder `name` directly inside `directory`, for files handed over to a host: the
    // directory (with its missing parents) and the folder are created when missing, following
    // the umask. The folder must be a real folder: a symbolic link in its place is refused, not
    // followed, and so is a file, each with a sentence saying so. When no other process is
    // writing into the folder, the temporary files an interrupted write left there are removed
    // (only those, recognised by kTemporaryFilePrefix); the folder stays locked against other
    // writers' clean-up while the result lives.
    virtual OpenFolder openSubfolder(const std::string& directory, const std::string& name);

    // Copies into `folder` as copyFilesAtomically does, every temporary file and rename
    // relative to the folder's descriptor; `FileCopy::to` is the name in the folder. The files
    // follow the umask.
    virtual void copyFilesInto(const OpenFolder& folder, const std::vector<FileCopy>& copies);
    // copyFilesInto in two steps, for a caller that can write its files before it knows which
    // of them it will need. First every copy is written under a temporary name and flushed to
    // disk.
    PreparedCopies prepareCopiesInto(const OpenFolder& folder, const std::vector<FileCopy>& copies);
    // Then each of `copies` that was prepared under the same name takes its final name, and the
    // folder is flushed; returns the copies that were not prepared, in their order, for the
    // caller to write. The prepared copy must hold what `from` holds: only names are compared.
    std::vector<FileCopy> placePreparedCopies(const OpenFolder& folder, PreparedCopies& prepared,
                                              const std::vector<FileCopy>& copies);
    // Places some of them early, on disk already but before what they belong to is settled
    // (a save's commit): each of `copies` prepared under a name that no file has yet takes that
    // name, and the folder is flushed. Never fails: what it does not place, placePreparedCopies
    // places later, replacing; what it placed, that skips.
    void placePreparedCopiesAhead(const OpenFolder& folder, PreparedCopies& prepared,
                                  const std::vector<FileCopy>& copies) noexcept;
    // Takes back what placePreparedCopiesAhead placed, when what they belong to failed: each
    // file it put in place goes, unless another file has taken its name since. Never fails.
    void withdrawCopiesPlacedAhead(const OpenFolder& folder, PreparedCopies& prepared) noexcept;
    // The final step of such a copy: `from` replaces `to`, both names in `folder`.
    virtual void renameInFolder(const OpenFolder& folder, const std::string& from,
                                const std::string& to);
    // The same unless `to` exists: then nothing is moved and it returns false.
    virtual bool renameInFolderUnlessTaken(const OpenFolder& folder, const std::string& from,
                                           const std::string& to);

    virtual void rename(const std::string& from, const std::string& to);
    // Removes a file or a folder with its content; a missing path is not an error.
    virtual void removeAll(const std::string& path);
    virtual uint64_t fileSize(const std::string& path);
};

// A folder of the user's own that an earlier version created readable by others is made
// private (0700). Only a real folder owned by the user, never through a link; a failure is
// ignored, since the folder works either way.
void makeOwnFolderPrivate(const std::string& path);

}  // namespace tavro::platform
