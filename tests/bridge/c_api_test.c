/* SPDX-License-Identifier: MIT */
/* A plain C client of the public header, linked with the library. Run by ctest with an
 * entitlements file granting the App Group, the iCloud container and CloudKit, and a data
 * home inside the build tree. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "tavro/AppleBridge.h"

static int failures = 0;

static void check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

static int ends_with(const char* text, const char* suffix) {
    size_t text_length = strlen(text);
    size_t suffix_length = strlen(suffix);
    return text_length >= suffix_length && strcmp(text + text_length - suffix_length, suffix) == 0;
}

int main(void) {
    const char* data_home = getenv("XDG_DATA_HOME");
    check(data_home != NULL, "the test runs with XDG_DATA_HOME set");

    char* path = tavro_apple_group_path();
    check(path != NULL, "an entitled process gets a group path");
    if (path != NULL && data_home != NULL) {
        check(strncmp(path, data_home, strlen(data_home)) == 0, "the path is in the data home");
        check(ends_with(path, "/group-containers/" EXPECTED_APP_GROUP),
              "the path ends with the App Group's container");
    }
    tavro_apple_free(path);
    tavro_apple_free(NULL);

    int32_t available = tavro_apple_cloud_available();
    check(available == 1, "a fully entitled process may use iCloud");

    /* The answers are not cached: a second call agrees with the first. */
    char* again = tavro_apple_group_path();
    check(again != NULL, "a second call answers as well");
    tavro_apple_free(again);
    check(tavro_apple_cloud_available() == available, "a second call gives the same answer");

    if (failures == 0) {
        printf("c_api_test: all checks passed\n");
    }
    return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
