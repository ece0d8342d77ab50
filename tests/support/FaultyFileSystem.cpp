// SPDX-License-Identifier: MIT
#include "support/FaultyFileSystem.h"

#include "platform/Error.h"

namespace tavro::test {

void FaultyFileSystem::failNth(Operation operation, int nth, int errnoValue) {
    std::lock_guard lock(mutex_);
    faults_[operation] = Fault{nth, false, errnoValue};
}

void FaultyFileSystem::failFrom(Operation operation, int nth, int errnoValue) {
    std::lock_guard lock(mutex_);
    faults_[operation] = Fault{nth, false, errnoValue, true};
}

void FaultyFileSystem::failAlways(Operation operation, int errnoValue) {
    std::lock_guard lock(mutex_);
    faults_[operation] = Fault{0, true, errnoValue};
}

void FaultyFileSystem::clearFaults() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

int FaultyFileSystem::calls(Operation operation) const {
    std::lock_guard lock(mutex_);
    const auto it = calls_.find(operation);
    return it == calls_.end() ? 0 : it->second;
}

void FaultyFileSystem::enter(Operation operation, const std::string& path, const char* verb) {
    int errnoValue = 0;
    {
        std::lock_guard lock(mutex_);
        ++calls_[operation];
        const auto it = faults_.find(operation);
        if (it == faults_.end()) {
            return;
        }
        Fault& fault = it->second;
        if (fault.always) {
            errnoValue = fault.errnoValue;
        } else if (--fault.remaining == 0) {
            errnoValue = fault.errnoValue;
            if (fault.staysOnceHit) {
                fault.always = true;
            } else {
                faults_.erase(it);
            }
        } else {
            return;
        }
    }
    platform::throwFileError(errnoValue, path, verb);
}

void FaultyFileSystem::createDirectories(const std::string& path,
                                         platform::Permissions permissions) {
    enter(Operation::CreateDirectories, path, "created");
    FileSystem::createDirectories(path, permissions);
}

// Reads go to the real file system directly: its readFile is built on readChunks, and one
// read must count once.
std::string FaultyFileSystem::readFile(const std::string& path) {
    enter(Operation::Read, path, "opened");
    return FileSystem::real().readFile(path);
}

void FaultyFileSystem::readChunks(const std::string& path,
                                  const std::function<void(std::string_view)>& sink) {
    enter(Operation::Read, path, "opened");
    FileSystem::real().readChunks(path, sink);
}

// Writes and copies run the real steps on this object, so that their final rename can fail.
void FaultyFileSystem::writeFileAtomically(const std::string& path, std::string_view bytes) {
    enter(Operation::Write, path, "saved");
    FileSystem::writeFileAtomically(path, bytes);
}

void FaultyFileSystem::copyFileAtomically(const std::string& from, const std::string& to,
                                          const std::string& expectedSha256) {
    enter(Operation::Copy, to, "copied");
    FileSystem::copyFileAtomically(from, to, expectedSha256);
}

void FaultyFileSystem::copyFilesAtomically(const std::vector<FileCopy>& copies,
                                           platform::Permissions permissions,
                                           platform::ExtraCopies* extra) {
    // Each copy of the batch counts as one copy call, checked before any file is written, as
    // if the failing copy's source could not be read.
    for (const FileCopy& copy : copies) {
        enter(Operation::Copy, copy.to, "copied");
    }
    // So does each extra copy; one that fails ends them all, as a real failure would, and
    // leaves the batch alone.
    for (size_t i = 0; extra != nullptr && extra->folder != nullptr && i < copies.size(); ++i) {
        const auto names = extra->namesByDigest.find(copies[i].expectedSha256);
        if (names == extra->namesByDigest.end()) {
            continue;
        }
        try {
            for (const std::string& name : names->second) {
                enter(Operation::Copy, extra->folder->path() + "/" + name, "copied");
            }
        } catch (const std::exception&) {
            extra = nullptr;
        }
    }
    FileSystem::copyFilesAtomically(copies, permissions, extra);
}

void FaultyFileSystem::copyFilesInto(const platform::OpenFolder& folder,
                                     const std::vector<FileCopy>& copies) {
    for (const FileCopy& copy : copies) {
        enter(Operation::Copy, folder.path() + "/" + copy.to, "copied");
    }
    FileSystem::copyFilesInto(folder, copies);
}

void FaultyFileSystem::rename(const std::string& from, const std::string& to) {
    enter(Operation::Rename, to, "moved");
    FileSystem::rename(from, to);
}

void FaultyFileSystem::renameInFolder(const platform::OpenFolder& folder, const std::string& from,
                                      const std::string& to) {
    enter(Operation::Rename, folder.path() + "/" + to, "moved");
    FileSystem::renameInFolder(folder, from, to);
}

bool FaultyFileSystem::renameInFolderUnlessTaken(const platform::OpenFolder& folder,
                                                 const std::string& from, const std::string& to) {
    enter(Operation::Rename, folder.path() + "/" + to, "moved");
    return FileSystem::renameInFolderUnlessTaken(folder, from, to);
}

}  // namespace tavro::test
