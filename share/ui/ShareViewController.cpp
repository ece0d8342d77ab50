// SPDX-License-Identifier: MIT
#include "share/ui/ShareViewController.h"

#include <QVBoxLayout>

#include "share/ui/ShareView.h"

namespace tavro::share::ui {

ShareViewController::ShareViewController(std::shared_ptr<ExtensionContext> extensionContext,
                                         const platform::Env& env, QObject* parent)
    : ViewController(std::move(extensionContext), parent), env_(env) {}

void ShareViewController::loadView() {
    auto* view = new QWidget;
    view->setGeometry(0, 0, kWidth, kHeight);
    setView(view);
}

void ShareViewController::viewDidLoad() {
    ViewController::viewDidLoad();
    setPreferredContentSize(QSize(kWidth, kHeight));

    QPointer<ShareViewController> weak(this);
    auto onComplete = [weak] {
        if (weak && weak->extensionContext())
            weak->extensionContext()->completeRequest();
    };
    auto onCancel = [weak] {
        if (weak && weak->extensionContext())
            weak->extensionContext()->cancelRequest(userCancelledError());
    };
    auto* form = new ShareView(requestItems(), onComplete, onCancel, env_);

    // The form fills the view edge to edge and follows its size.
    auto* layout = new QVBoxLayout(view());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(form);
    // Focus given to the window lands in the form, and so in its title field.
    view()->setFocusProxy(form);
    view()->setWindowTitle(form->windowTitle());
    view()->resize(preferredContentSize());
}

// The request's items, taken whole or not at all: one item of an unexpected kind means the
// request is not understood, and the form shows that nothing can be saved.
std::vector<ExtensionItem> ShareViewController::requestItems() const {
    std::vector<ExtensionItem> items;
    if (!extensionContext())
        return items;
    for (const std::any& element : extensionContext()->inputItems()) {
        const auto* item = std::any_cast<ExtensionItem>(&element);
        if (!item)
            return {};
        items.push_back(*item);
    }
    return items;
}

ShareView* ShareViewController::shareView() {
    return view()->findChild<ShareView*>();
}

}  // namespace tavro::share::ui
