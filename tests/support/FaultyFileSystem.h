// SPDX-License-Identifier: MIT
#pragma once
// A file system that behaves like the real one until told to fail: the Nth call of a chosen
// operation throws the file error of a chosen errno, as the real one would, without touching
// the disk. Tests use it to prove that a failed write, rename, copy or read leaves the library's
// files as they were.
//
// Renames that the atomic write and copy make internally go through rename() (renameInFolder()
// for copies into an open folder) and so count as rename calls: failing the first rename after
// a write fails that write's final step.

#include <map>
#include <mutex>

#include "platform/FileSystem.h"

namespace tavro::test {

class FaultyFileSystem : public platform::FileSystem {
  public:
    enum class Operation { Write, Rename, Copy, CreateDirectories, Read };

    // The `nth` call (1 = the next one) of `operation` from now on fails with `errnoValue`.
    // Several faults may be armed at once, one per operation.
    void failNth(Operation operation, int nth, int errnoValue);
    // The `nth` call and every one after it fail: a fault that a second try meets again.
    void failFrom(Operation operation, int nth, int errnoValue);
    // Every following call of `operation` fails.
    void failAlways(Operation operation, int errnoValue);
    void clearFaults();
    // Calls of `operation` so far, failed ones included.
    int calls(Operation operation) const;

    void createDirectories(
        const std::string& path,
        platform::Permissions permissions = platform::Permissions::privateToUser) override;
    std::string readFile(const std::string& path) override;
    void readChunks(const std::string& path,
                    const std::function<void(std::string_view)>& sink) override;
    void writeFileAtomically(const std::string& path, std::string_view bytes) override;
    void copyFileAtomically(const std::string& from, const std::string& to,
                            const std::string& expectedSha256 = {}) override;
    void copyFilesAtomically(
        const std::vector<FileCopy>& copies,
        platform::Permissions permissions = platform::Permissions::privateToUser,
        platform::ExtraCopies* extra = nullptr) override;
    void copyFilesInto(const platform::OpenFolder& folder,
                       const std::vector<FileCopy>& copies) override;
    void rename(const std::string& from, const std::string& to) override;
    void renameInFolder(const platform::OpenFolder& folder, const std::string& from,
                        const std::string& to) override;
    bool renameInFolderUnlessTaken(const platform::OpenFolder& folder, const std::string& from,
                                   const std::string& to) override;

  private:
    struct Fault {
        int remaining = 0;  // calls until the failing one; 0 with `always` set fails every call
        bool always = false;
        int errnoValue = 0;
        bool staysOnceHit = false;  // failFrom: `always` from the failing call on
    };

    // Counts the call and throws when it is the armed one.
    void enter(Operation operation, const std::string& path, const char* verb);

    mutable std::mutex mutex_;
    std::map<Operation, int> calls_;
    std::map<Operation, Fault> faults_;
};

}  // namespace tavro::test
