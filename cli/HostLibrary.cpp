#include "cli/HostLibrary.h"

#include <dlfcn.h>

#include <cstdlib>
#include <stdexcept>

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
    return named && *named ? named : TAVRO_LIBRARY_DEFAULT_NAME;
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
