// SPDX-License-Identifier: MIT
#include "bridge/ErrorEnvelope.h"

#include <sqlite3.h>

#include <new>

#include "platform/CloudErrorDescription.h"
#include "platform/Json.h"
#include "platform/Text.h"
#include "store/Sqlite.h"

namespace tavro::bridge {

namespace {

constexpr int64_t kEnvelopeVersion = 1;

// SQLite reports a failed allocation as its own error ("out of memory"); the user is told the
// same as for any other allocation that failed.
bool isOutOfMemory(const platform::ErrorValue& error) {
    return error.domain == store::sqlite::kErrorDomain &&
           (error.code == SQLITE_NOMEM || error.code == SQLITE_IOERR_NOMEM);
}

std::string envelopeWithDescription(std::string description) {
    platform::json::Object envelope{
        {"version", platform::json::Value(kEnvelopeVersion)},
        {"error", platform::json::Value(std::move(description))},
    };
    return platform::json::write(platform::json::Value(std::move(envelope)));
}

}  // namespace

std::string errorEnvelope(const platform::ErrorRef& error) {
    if (error && isOutOfMemory(*error)) {
        return kOutOfMemoryEnvelope;
    }
    // The description may quote bytes from a file or a request; the writer needs UTF-8.
    return envelopeWithDescription(
        platform::text::replaceIllFormedUtf8(platform::cloudErrorDescription(error)));
}

std::string errorEnvelope(const std::exception& exception) {
    // Before anything else: describing the what() of a std::bad_alloc would say
    // "std::bad_alloc", which tells the user nothing.
    if (dynamic_cast<const std::bad_alloc*>(&exception) != nullptr) {
        return kOutOfMemoryEnvelope;
    }
    if (const auto* error = dynamic_cast<const platform::Error*>(&exception)) {
        return errorEnvelope(error->value());
    }
    return errorEnvelope(platform::errorFromException(exception));
}

}  // namespace tavro::bridge
