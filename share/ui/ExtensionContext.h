// SPDX-License-Identifier: MIT
#pragma once
// The share request as the sheet's controller sees it: the items the sharing program handed
// over, and the two ways the request ends. The items are untyped, as the platform hands them
// over; the controller takes them only when every one is an ExtensionItem.

#include <any>
#include <vector>

#include "platform/Error.h"

namespace tavro::share::ui {

class ExtensionContext {
  public:
    virtual ~ExtensionContext() = default;

    virtual std::vector<std::any> inputItems() const = 0;
    // Ends the request successfully, returning no items.
    virtual void completeRequest() = 0;
    // Ends the request with `error` reported to the sharing program.
    virtual void cancelRequest(const platform::ErrorRef& error) = 0;
};

// The user-cancelled error (Cocoa domain, code 3072) without user info, described to the user
// as "Sharing was cancelled.".
platform::ErrorRef userCancelledError();

}  // namespace tavro::share::ui
