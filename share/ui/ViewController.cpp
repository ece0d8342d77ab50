// SPDX-License-Identifier: MIT
#include "share/ui/ViewController.h"

namespace tavro::share::ui {

platform::ErrorRef userCancelledError() {
    // The sharing program may tell a cancellation by its domain and code; the person who
    // cancelled reads the description, so it says what happened in plain words.
    return platform::makeError(platform::kCocoaErrorDomain, 3072, "Sharing was cancelled.",
                               "Cocoa error 3072: the user cancelled");
}

ViewController::ViewController(std::shared_ptr<ExtensionContext> extensionContext, QObject* parent)
    : QObject(parent), extensionContext_(std::move(extensionContext)) {}

ViewController::~ViewController() {
    // A top-level view has no Qt parent; the controller owns it.
    delete view_.data();
}

QWidget* ViewController::view() {
    if (!view_) {
        loadView();
        if (!view_)
            setView(new QWidget);
        viewDidLoad();
    }
    return view_;
}

void ViewController::loadView() {
    setView(new QWidget);
}

void ViewController::setView(QWidget* view) {
    if (view_ && view_ != view)
        delete view_.data();
    view_ = view;
}

}  // namespace tavro::share::ui
