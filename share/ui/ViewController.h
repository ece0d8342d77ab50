// SPDX-License-Identifier: MIT
#pragma once
// The desktop's view controller: owns one view, knows the request it serves and the size it
// would like to be shown at. Subclasses build the view in loadView() and finish it in
// viewDidLoad(); view() calls both, once, the first time the view is asked for.

#include <QObject>
#include <QPointer>
#include <QSize>
#include <QWidget>
#include <memory>

#include "share/ui/ExtensionContext.h"

namespace tavro::share::ui {

class ViewController : public QObject {
    Q_OBJECT

  public:
    explicit ViewController(std::shared_ptr<ExtensionContext> extensionContext = nullptr,
                            QObject* parent = nullptr);
    ~ViewController() override;

    // The view, loaded on first use.
    QWidget* view();
    bool isViewLoaded() const { return view_ != nullptr; }

    // May be absent: a controller shown outside a share request.
    ExtensionContext* extensionContext() const { return extensionContext_.get(); }

    QSize preferredContentSize() const { return preferredContentSize_; }
    void setPreferredContentSize(QSize size) { preferredContentSize_ = size; }

  protected:
    virtual void loadView();
    virtual void viewDidLoad() {}
    // Hands the controller a view it built; the controller owns it from now on.
    void setView(QWidget* view);

  private:
    std::shared_ptr<ExtensionContext> extensionContext_;
    QPointer<QWidget> view_;
    QSize preferredContentSize_;
};

}  // namespace tavro::share::ui
