// SPDX-License-Identifier: MIT
#pragma once
// The share target's entry point: takes the share request, shows the form in a 440 × 480
// view, and ends the request when the user saves (completed) or cancels (user-cancelled
// error). The form's two callbacks hold the controller only weakly: a form that outlives its
// controller ends nothing.

#include <vector>

#include "platform/Env.h"
#include "share/ExtensionItem.h"
#include "share/ui/ViewController.h"

namespace tavro::share::ui {

class ShareView;

class ShareViewController : public ViewController {
    Q_OBJECT

  public:
    static constexpr int kWidth = 440;
    static constexpr int kHeight = 480;

    // The form saves into the inbox `env` provisions; `env` must outlive the controller's view.
    explicit ShareViewController(std::shared_ptr<ExtensionContext> extensionContext = nullptr,
                                 const platform::Env& env = platform::Env::real(),
                                 QObject* parent = nullptr);

    // The form inside the view (loads the view when needed).
    ShareView* shareView();

  protected:
    void loadView() override;
    void viewDidLoad() override;

  private:
    std::vector<ExtensionItem> requestItems() const;

    const platform::Env& env_;
};

}  // namespace tavro::share::ui
