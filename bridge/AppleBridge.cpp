// The C exports: thin wrappers that turn every C++ failure into the C answer for "no".
// Nothing may throw across this boundary, so each export runs its body through guarded().

#include "tavro/AppleBridge.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>

#include "bridge/ErrorEnvelope.h"
#include "platform/Availability.h"
#include "platform/MainExecutor.h"
#include "platform/Text.h"
#include "store/AppleStore.h"

namespace {

using namespace tavro;

// Runs `body`; an exception of any kind becomes the value-initialised result (NULL, 0, or
// nothing at all). The one place where exceptions stop at the boundary.
template <typename Body>
auto guarded(Body&& body) noexcept {
    using Result = std::invoke_result_t<Body&>;
    try {
        return body();
    } catch (...) {
        if constexpr (!std::is_void_v<Result>) {
            return Result{};
        }
    }
}

char* copyForCaller(const std::string& text) {
    // The caller releases it with tavro_apple_free(), that is with free().
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy != nullptr) {
        std::memcpy(copy, text.c_str(), text.size() + 1);
    }
    return copy;
}

// The answer to one request: the store owner's response, or the envelope for whatever went
// wrong on the way, expected or not.
std::string exchangeResponse(const std::string& request) {
    try {
        return store::AppleStore::shared().exchange(request);
    } catch (const std::exception& exception) {
        return bridge::errorEnvelope(exception);
    } catch (...) {
        return bridge::errorEnvelope(platform::makeError(
            platform::kCocoaErrorDomain, 256, "The operation couldn\u2019t be completed."));
    }
}

}  // namespace

extern "C" {

char* tavro_apple_group_path(void) {
    return guarded([]() -> char* {
        auto path = platform::groupPath();
        return path ? copyForCaller(*path) : nullptr;
    });
}

int32_t tavro_apple_cloud_available(void) {
    return guarded([]() -> int32_t { return platform::cloudAvailable() ? 1 : 0; });
}

void tavro_apple_exchange(const char* request, intptr_t context,
                          tavro_apple_exchange_callback callback) {
    guarded([&] {
        if (callback == nullptr) {
            return;  // nobody to answer
        }
        // Copied and repaired now: the host may free its buffer as soon as this returns.
        std::string text = platform::text::replaceIllFormedUtf8(request ? request : "");
        platform::MainExecutor::shared().submit([text = std::move(text), context, callback] {
            std::string response = exchangeResponse(text);
            callback(context, response.c_str());
        });
    });
}

void tavro_apple_free(char* string) {
    std::free(string);
}

}  // extern "C"
