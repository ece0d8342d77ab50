// SPDX-License-Identifier: MIT
#include "share/ui/ProcessExtensionContext.h"

#include <QCoreApplication>

namespace tavro::share::ui {

ProcessExtensionContext::ProcessExtensionContext(std::vector<ExtensionItem> items,
                                                 std::ostream& errors)
    : items_(std::move(items)), errors_(errors) {}

std::vector<std::any> ProcessExtensionContext::inputItems() const {
    return std::vector<std::any>(items_.begin(), items_.end());
}

void ProcessExtensionContext::completeRequest() {
    if (ended_)
        return;
    ended_ = true;
    QCoreApplication::exit(0);
}

void ProcessExtensionContext::cancelRequest(const platform::ErrorRef& error) {
    if (ended_)
        return;
    ended_ = true;
    errors_ << (error ? error->description() : std::string("Cancelled.")) << std::endl;
    QCoreApplication::exit(1);
}

}  // namespace tavro::share::ui
