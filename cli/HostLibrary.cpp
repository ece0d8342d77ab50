#include "cli/HostLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace tavro::cli {

namespace {

template <typename Function>
void bind(void* handle, const char* name, Function& function) {
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        throw std::runtime_error(std::string("The library has no export ") + name + ".");
    }
    function = reinterpret_cast<Function>(symbol);
}

}  // namespace

std::string HostLibrary::defaultPath() {
    const char* named = std::getenv("TAVRO_LIBRARY");
    if (named && *named) {
        return named;
    }
    // The library is looked up by path rather than left to the loader's search: a process run
    // under a sanitizer loads through an interceptor, for which the program's run path does
    // not count. Installed, the library lies in the lib folder beside bin; in a build tree, where
    // the build put it.
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    std::vector<std::filesystem::path> candidates;
    if (!error) {
        candidates.push_back(program.parent_path().parent_path() / TAVRO_INSTALL_LIBDIR /
                             TAVRO_LIBRARY_DEFAULT_NAME);
    }
    candidates.emplace_back(TAVRO_BUILD_LIBRARY_PATH);
    for (const auto& candidate : candidates) {
        if (std::filesystem::is_regular_file(candidate, error)) {
            return candidate.string();
        }
    }
    return TAVRO_LIBRARY_DEFAULT_NAME;
}

HostLibrary::HostLibrary(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        const char* reason = dlerror();
        throw std::runtime_error("Couldn\u2019t load " + path + ": " +
                                 (reason ? reason : "unknown"));
    }
    bind(handle_, "tavro_apple_group_path", groupPath);
    bind(handle_, "tavro_apple_cloud_available", cloudAvailable);
    bind(handle_, "tavro_apple_exchange", exchange);
    bind(handle_, "tavro_apple_free", free);
}

HostLibrary::~HostLibrary() {
    // The library's executor thread lives for the rest of the process: never unload it.
}

}  // namespace tavro::cli
