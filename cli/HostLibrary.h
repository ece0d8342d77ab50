// SPDX-License-Identifier: MIT
#pragma once
// libTavroApple loaded the way a host loads it: dlopen, then the four exports bound by name.

#include <cstdint>
#include <string>

namespace tavro::cli {

class HostLibrary {
  public:
    using ExchangeCallback = void (*)(intptr_t context, const char* response);

    // Loads `path` (a file path, or a library name searched as dlopen does). Throws
    // std::runtime_error "PATH: reason" when the library or an export is missing.
    explicit HostLibrary(const std::string& path);
    ~HostLibrary();
    HostLibrary(const HostLibrary&) = delete;
    HostLibrary& operator=(const HostLibrary&) = delete;

    // The library to load when none is named: $TAVRO_LIBRARY, else the one installed beside
    // this program (<prefix>/lib), else the first found in the folders the loader searches
    // (in a build tree the program's run path names the build's library), else the library's
    // name for the loader to search.
    static std::string defaultPath();

    char* (*groupPath)() = nullptr;
    int32_t (*cloudAvailable)() = nullptr;
    void (*exchange)(const char* request, intptr_t context, ExchangeCallback callback) = nullptr;
    void (*free)(char* string) = nullptr;

  private:
    void* handle_ = nullptr;
};

}  // namespace tavro::cli
