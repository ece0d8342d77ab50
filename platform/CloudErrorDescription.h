// SPDX-License-Identifier: MIT
#pragma once
// Turns any error into the one text shown to the user: the useful leaves of the error's tree
// (per-item errors before the underlying error, at most twelve levels deep, each error once),
// CloudKit's batch wrapper dropped unless nothing else is left, " (CloudKit N)" after CloudKit
// texts, repeats removed, sorted by code point, the first three joined with "; ".
// It lives with the platform's error model because both the bridge and the store owner (for
// sync events) describe errors with it.

#include <string>

#include "platform/Error.h"

namespace tavro::platform {

std::string cloudErrorDescription(const ErrorRef& error);

}  // namespace tavro::platform
