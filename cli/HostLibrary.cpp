// SPDX-License-Identifier: MIT
#include "cli/HostLibrary.h"

#include <dlfcn.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace tavro::cli {

namespace {

template <typename Function>
void bind(void* handle, const std::string& path, const char* name, Function& function) {
    void* symbol = dlsym(handle, name);
    if (!symbol) {
        throw std::runtime_error(path + ": the library has no export " + name);
    }
    function = reinterpret_cast<Function>(symbol);
}

// The folders the system's loader would search for a library this program loads, in its order:
// LD_LIBRARY_PATH, the program's own run path ($ORIGIN expanded) and the system's folders.
// Empty when the loader cannot tell.
std::vector<std::string> loaderSearchPath() {
    std::vector<std::string> folders;
    void* program = dlopen(nullptr, RTLD_NOW);
    if (!program) {
        return folders;
    }
    Dl_serinfo size{};
    if (dlinfo(program, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
        std::vector<std::max_align_t> storage(size.dls_size / sizeof(std::max_align_t) + 1);
        auto* info = reinterpret_cast<Dl_serinfo*>(storage.data());
        *info = size;
        if (dlinfo(program, RTLD_DI_SERINFO, info) == 0) {
            for (unsigned i = 0; i < info->dls_cnt; ++i) {
                folders.emplace_back(info->dls_serpath[i].dls_name);
            }
        }
    }
    dlclose(program);
    return folders;
}

}  // namespace

std::string HostLibrary::defaultPath() {
    const char* named = std::getenv("TAVRO_LIBRARY");
    if (named && *named) {
        return named;
    }
    // The library is looked up by path rather than left to dlopen: a process run under a
    // sanitizer loads through an interceptor, for which the program's run path does not count.
    // Installed, the library lies in the lib folder beside bin. Otherwise the folders of the
    // loader's own search are tried in its order; in a build tree the program's run path names
    // the folder the build put the library in, and installing replaces that run path, so an
    // installed program never reaches back into a build tree.
    std::error_code error;
    std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    std::vector<std::filesystem::path> candidates;
    if (!error) {
        candidates.push_back(program.parent_path().parent_path() / TAVRO_INSTALL_LIBDIR /
                             TAVRO_LIBRARY_DEFAULT_NAME);
    }
    for (const std::string& folder : loaderSearchPath()) {
        candidates.push_back(std::filesystem::path(folder) / TAVRO_LIBRARY_DEFAULT_NAME);
    }
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
        std::string message = reason ? reason : path + ": the library could not be loaded";
        // The loader's message starts with the file it could not open; say so when it does not.
        if (!message.starts_with(path)) {
            message = path + ": " + message;
        }
        if (path.find('/') == std::string::npos) {
            message += " (name the library with --library PATH or TAVRO_LIBRARY)";
        }
        throw std::runtime_error(message);
    }
    bind(handle_, path, "tavro_apple_group_path", groupPath);
    bind(handle_, path, "tavro_apple_cloud_available", cloudAvailable);
    bind(handle_, path, "tavro_apple_exchange", exchange);
    bind(handle_, path, "tavro_apple_free", free);
}

HostLibrary::~HostLibrary() {
    // The library's executor thread lives for the rest of the process: never unload it.
}

}  // namespace tavro::cli
