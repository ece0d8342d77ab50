// SPDX-License-Identifier: MIT
// Loads libTavroApple the way a host does and starts exchanges while the process lacks the
// resources to serve them, lowering its own address-space limit and raising it again:
//   1. the executor's thread cannot be started (no room for its stack): the exchange waits;
//   2. the request cannot even be copied: the exchange is answered from room kept in advance;
//   3. with the limit raised, a further exchange starts the thread, and all three are answered;
//   4. the request is copied but the parser cannot get room for it: said as lack of memory;
//   5. a last exchange, answered after anything that could still arrive for the others.
// Prints one line per callback, "<context> <response>", in the order they arrive.
// Usage: tavro-exchange-resources-probe [library path]. Exit status 2 when the library cannot
// be used, 3 when an answer does not come.

#include <dlfcn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <string>

#include "tavro/AppleBridge.h"

namespace {

using ExchangeFunction = void (*)(const char*, intptr_t, tavro_apple_exchange_callback);

std::mutex lock;
std::condition_variable answered;
int answers = 0;

void record(intptr_t context, const char* response) {
    std::lock_guard guard(lock);
    std::printf("%ld %s\n", static_cast<long>(context), response);
    std::fflush(stdout);
    ++answers;
    answered.notify_all();
}

bool waitForAnswers(int count) {
    std::unique_lock guard(lock);
    return answered.wait_for(guard, std::chrono::seconds(60), [&] { return answers >= count; });
}

// The address space this process uses now.
rlim_t addressSpace() {
    std::ifstream statm("/proc/self/statm");
    unsigned long pages = 0;
    statm >> pages;
    return static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
}

void limitAddressSpace(rlim_t bytes) {
    struct rlimit limit;
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_AS, &limit);
}

}  // namespace

int main(int argc, char** argv) {
    const char* library = argc > 1 ? argv[1] : TAVRO_LIBRARY_PATH;
    void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
    auto exchange = handle != nullptr
                        ? reinterpret_cast<ExchangeFunction>(dlsym(handle, "tavro_apple_exchange"))
                        : nullptr;
    if (exchange == nullptr) {
        std::fprintf(stderr, "cannot use %s: %s\n", library, dlerror());
        return 2;
    }
    // Valid JSON, large enough that no limit set below leaves room for another copy of it.
    constexpr size_t kLarge = 48u << 20;
    const std::string large = "{\"version\":1,\"padding\":\"" + std::string(kLarge, 'x') + "\"}";
    struct rlimit original;
    getrlimit(RLIMIT_AS, &original);

    limitAddressSpace(addressSpace() + (1u << 20));
    exchange("[]", 1, record);
    exchange(large.c_str(), 2, record);
    limitAddressSpace(original.rlim_cur);
    exchange("[]", 3, record);
    if (!waitForAnswers(3)) {
        return 3;
    }

    // Room for the copy the export makes and the parser's own copy, not for its buffers.
    limitAddressSpace(addressSpace() + 2 * large.size() + (16u << 20));
    exchange(large.c_str(), 4, record);
    if (!waitForAnswers(4)) {
        return 3;
    }
    limitAddressSpace(original.rlim_cur);

    exchange("[]", 5, record);
    return waitForAnswers(5) ? 0 : 3;
}
