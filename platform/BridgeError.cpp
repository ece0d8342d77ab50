// SPDX-License-Identifier: MIT
#include "platform/BridgeError.h"

namespace tavro::platform {

namespace {

// The message is both the error's own description and its user-info description, so that
// every reader of the error model (the cloud error description above all) sees it.
ErrorRef makeBridgeErrorValue(std::string message) {
    ErrorRef value = makeError(kBridgeErrorDomain, 1, message);
    value->userInfoLocalizedDescription = std::move(message);
    return value;
}

}  // namespace

BridgeError::BridgeError(std::string message) : Error(makeBridgeErrorValue(std::move(message))) {}

}  // namespace tavro::platform
