// SPDX-License-Identifier: MIT
#pragma once
// A fresh, empty folder for one test, removed with everything in it when the test ends.

#include <string>
#include <string_view>

namespace tavro::test {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The folder's absolute path, with symbolic links resolved (so that paths the library
    // resolves compare equal to paths built from it).
    const std::string& path() const { return path_; }
    // `path()` joined with a relative name; nothing is created.
    std::string file(std::string_view name) const;
    // Writes `content` to file(name) and answers its path.
    std::string write(std::string_view name, std::string_view content) const;

  private:
    std::string path_;
};

}  // namespace tavro::test
