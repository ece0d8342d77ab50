/* SPDX-License-Identifier: MIT */
/* Loads libTavroApple the way a host does and prints what the two synchronous exports answer
 * in this process's environment:
 *     group_path=<path or (null)>
 *     cloud_available=<0 or 1>
 * Usage: tavro-bridge-probe [library path]. Exit status 2 when the library cannot be used. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

#include "tavro/AppleBridge.h"

typedef char* (*group_path_fn)(void);
typedef int32_t (*cloud_available_fn)(void);
typedef void (*free_fn)(char*);

int main(int argc, char** argv) {
    const char* library = argc > 1 ? argv[1] : TAVRO_LIBRARY_PATH;
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (handle == NULL) {
        fprintf(stderr, "cannot load %s: %s\n", library, dlerror());
        return 2;
    }
    group_path_fn group_path = (group_path_fn)dlsym(handle, "tavro_apple_group_path");
    cloud_available_fn cloud_available =
        (cloud_available_fn)dlsym(handle, "tavro_apple_cloud_available");
    free_fn release = (free_fn)dlsym(handle, "tavro_apple_free");
    if (group_path == NULL || cloud_available == NULL || release == NULL) {
        fprintf(stderr, "%s lacks an export\n", library);
        return 2;
    }
    char* path = group_path();
    printf("group_path=%s\n", path != NULL ? path : "(null)");
    printf("cloud_available=%d\n", (int)cloud_available());
    release(path);
    release(NULL);
    return 0;
}
