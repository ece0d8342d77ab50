// SPDX-License-Identifier: MIT
// The child of the crash test: saves generation after generation until it is killed,
// reopening the store now and then so that kills also land while it opens. Given an exchange
// directory as well, it runs exchanges instead, each writing every file into "received".

#include <unistd.h>

#include <cstdio>

#include "CrashWorkload.h"

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s STORE [EXCHANGE-DIRECTORY]\n", argv[0]);
        return 2;
    }
    try {
        while (argc == 3) {
            auto store = tavro::store::Store::open(argv[1]);
            for (int i = 0; i < 3; ++i) {
                tavro::test::crash::exchangeEveryFile(*store, argv[1], argv[2]);
                (void)!write(STDOUT_FILENO, "s", 1);
            }
        }
        for (;;) {
            auto store = tavro::store::Store::open(argv[1]);
            for (int i = 0; i < 3; ++i) {
                tavro::store::UnitOfWork work(*store);
                tavro::test::crash::saveNextGeneration(work);
                // Tells the test that a save has completed (its pipe; ignored otherwise).
                (void)!write(STDOUT_FILENO, "s", 1);
            }
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
