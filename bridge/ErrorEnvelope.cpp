#include "bridge/ErrorEnvelope.h"

#include "platform/CloudErrorDescription.h"
#include "platform/Json.h"
#include "platform/Text.h"

namespace tavro::bridge {

namespace {

constexpr int64_t kEnvelopeVersion = 1;

}  // namespace

std::string errorEnvelope(const platform::ErrorRef& error) {
    // The description may quote bytes from a file or a request; the writer needs UTF-8.
    std::string description =
        platform::text::replaceIllFormedUtf8(platform::cloudErrorDescription(error));
    platform::json::Object envelope{
        {"version", platform::json::Value(kEnvelopeVersion)},
        {"error", platform::json::Value(std::move(description))},
    };
    return platform::json::write(platform::json::Value(std::move(envelope)));
}

std::string errorEnvelope(const std::exception& exception) {
    if (const auto* error = dynamic_cast<const platform::Error*>(&exception)) {
        return errorEnvelope(error->value());
    }
    return errorEnvelope(platform::errorFromException(exception));
}

}  // namespace tavro::bridge
