// SPDX-License-Identifier: MIT
#include "support/TempDir.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "platform/Paths.h"

namespace tavro::test {

namespace {

std::string baseFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp != nullptr && tmp[0] == '/') ? tmp : "/tmp";
}

// Tests take permissions away to provoke errors; give them back so removal succeeds.
void restorePermissions(const std::string& root) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, error);
    for (fs::recursive_directory_iterator it(root, error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_directory(error) && !it->is_symlink(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
    }
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = platform::paths::join(baseFolder(), "tavro-test-XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed for " + pattern);
    }
    path_ = platform::paths::resolveSymlinks(buffer.data());
}

TempDir::~TempDir() {
    restorePermissions(path_);
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::string TempDir::file(std::string_view name) const {
    return platform::paths::join(path_, name);
}

std::string TempDir::write(std::string_view name, std::string_view content) const {
    std::string path = file(name);
    std::ofstream(path, std::ios::binary).write(content.data(), content.size());
    return path;
}

}  // namespace tavro::test
