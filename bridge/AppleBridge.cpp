// SPDX-License-Identifier: MIT
// The C exports: thin wrappers that turn every C++ failure into the C answer for "no".
// Nothing may throw across this boundary: the synchronous exports run their bodies through
// guarded(), and the exchange turns every failure into an answer through its callback.

#include "tavro/AppleBridge.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>
#include <utility>

#include "bridge/ErrorEnvelope.h"
#include "bridge/StoreMirroring.h"
#include "exchange/AppleStore.h"
#include "platform/Availability.h"
#include "platform/Json.h"
#include "platform/MainExecutor.h"

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

// The process's store owner, with the library's mirroring installed before its first exchange
// (on the executor's thread, like every use of the owner).
exchange::AppleStore& storeOwner() {
    static exchange::AppleStore& owner = []() -> exchange::AppleStore& {
        exchange::AppleStore& shared = exchange::AppleStore::shared();
        shared.setMirroring(bridge::makeStoreMirroring());
        return shared;
    }();
    return owner;
}

// The answer to one request: the store owner's response, or the envelope for whatever went
// wrong on the way, expected or not. Throws only when the envelope itself cannot be built.
std::string exchangeResponse(platform::json::PaddedText request) {
    try {
        return storeOwner().exchange(std::move(request));
    } catch (const std::exception& exception) {
        return bridge::errorEnvelope(exception);
    } catch (...) {
        return bridge::kUnknownFailureEnvelope;
    }
}

// Calls back exactly once: with the answer, or, when not even an envelope could be built, with
// one written in advance. An exception from the callback itself is the host's, and is left to
// the executor; the callback is never called a second time.
void answer(platform::json::PaddedText request, intptr_t context,
            tavro_apple_exchange_callback callback) {
    std::string response;
    const char* text = nullptr;
    try {
        response = exchangeResponse(std::move(request));
        text = response.c_str();
    } catch (const std::bad_alloc&) {
        text = bridge::kOutOfMemoryEnvelope;
    } catch (...) {
        text = bridge::kUnknownFailureEnvelope;
    }
    callback(context, text);
    try {
        storeOwner().answered(std::move(response));
    } catch (...) {
        // The store owner could not even be made: there is no store to look after.
    }
}

// The answer for an exchange whose task could not be made or queued (the request could not be
// copied): that can only be for lack of memory, and saying so needs none.
void answerOutOfMemory(intptr_t callback, intptr_t context) {
    reinterpret_cast<tavro_apple_exchange_callback>(callback)(context,
                                                              bridge::kOutOfMemoryEnvelope);
}

}  // namespace

extern "C" {

char* tavro_apple_group_path(void) {
    return guarded([]() -> char* {
        auto path = platform::groupPath(platform::Env::real());
        return path ? copyForCaller(*path) : nullptr;
    });
}

int32_t tavro_apple_cloud_available(void) {
    return guarded(
        []() -> int32_t { return platform::cloudAvailable(platform::Env::real()) ? 1 : 0; });
}

void tavro_apple_exchange(const char* request, intptr_t context,
                          tavro_apple_exchange_callback callback) {
    if (callback == nullptr) {
        return;  // nobody to answer
    }
    auto& executor = platform::MainExecutor::shared();
    try {
        // Copied and repaired now: the host may free its buffer as soon as this returns. The
        // copy is the one parsed, where it lies.
        auto text = platform::json::PaddedText::copyOf(request ? request : "");
        executor.submit([text = std::move(text), context, callback]() mutable {
            answer(std::move(text), context, callback);
        });
    } catch (...) {
        // Nothing was queued, so nothing else will answer. The callback may not run here, on
        // the caller's thread; the executor keeps room for this answer in advance. Only when
        // that room is full as well (dozens of exchanges failing at once for lack of memory)
        // does the request go unanswered.
        executor.submitPlain(&answerOutOfMemory, reinterpret_cast<intptr_t>(callback), context);
    }
}

void tavro_apple_free(char* string) {
    std::free(string);
}

}  // extern "C"
