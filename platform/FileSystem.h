#pragma once
// The file operations the library needs, behind one small interface so that tests can fail a
// write, a rename or a read at a chosen moment (see tests/support/FaultyFileSystem.h).
// Every failure throws platform::Error made by makeFileError (the file system's error).
//
// Thread safety: the real file system may be used from any thread; it keeps no state.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::platform {

class FileSystem {
  public:
    virtual ~FileSystem() = default;

    // The process-wide real file system.
    static FileSystem& real();

    // Creates `path` and every missing parent. An existing folder is fine.
    virtual void createDirectories(const std::string& path);
    virtual bool exists(const std::string& path);
    virtual bool isDirectory(const std::string& path);

    // Reads a whole (small) file: markers, manifests, entitlements.
    virtual std::string readFile(const std::string& path);

    // Streams a file in chunks to `sink`. A folder is an error, not empty content.
    virtual void readChunks(const std::string& path,
                            const std::function<void(std::string_view)>& sink);

    // Writes through a temporary file in the same folder: write, fsync, rename over `path`,
    // fsync the folder. A failure leaves no file under the final name and removes the
    // temporary one.
    virtual void writeFileAtomically(const std::string& path, std::string_view bytes);

    // Copies `from` to `to` atomically as above, streaming (copy_file_range where the file
    // system allows it). When `expectedSha256` is not empty, the copied bytes are hashed
    // on the way and a mismatch fails the copy (the source changed after it was hashed).
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
    virtual void copyFilesAtomically(const std::vector<FileCopy>& copies);

    virtual void rename(const std::string& from, const std::string& to);
    // Removes a file or a folder with its content; a missing path is not an error.
    virtual void removeAll(const std::string& path);
    virtual uint64_t fileSize(const std::string& path);
};

}  // namespace tavro::platform
