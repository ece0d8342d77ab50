// SPDX-License-Identifier: MIT
#pragma once
// The share request of a `tavro-share` process: its items come from the command line, and
// ending the request ends the program: completed with status 0, cancelled with status 1 and
// the cancellation's description on standard error. Only the first ending counts.

#include <ostream>
#include <vector>

#include "share/ExtensionItem.h"
#include "share/ui/ExtensionContext.h"

namespace tavro::share::ui {

class ProcessExtensionContext : public ExtensionContext {
  public:
    ProcessExtensionContext(std::vector<ExtensionItem> items, std::ostream& errors);

    std::vector<std::any> inputItems() const override;
    void completeRequest() override;
    void cancelRequest(const platform::ErrorRef& error) override;

    bool hasEnded() const { return ended_; }

  private:
    std::vector<ExtensionItem> items_;
    std::ostream& errors_;
    bool ended_ = false;
};

}  // namespace tavro::share::ui
