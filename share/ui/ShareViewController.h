#pragma once
// The share target's entry point: takes the share request, shows the form in a 440 × 480
// view, and ends the request when the user saves (completed) or cancels (user-cancelled
// error). The form's two callbacks hold the controller only weakly: a form that outlives its
// controller ends nothing.

#include <vector>

#include "share/ExtensionItem.h"
#include "share/ui/ViewController.h"

namespace tavro::share::ui {

class ShareView;

class ShareViewController : public ViewController {
    Q_OBJECT

  public:
    static constexpr int kWidth = 440;
    static constexpr int kHeight = 480;

    using ViewController::ViewController;

    // The form inside the view (loads the view when needed).
    ShareView* shareView();

  protected:
    void loadView() override;
    void viewDidLoad() override;

  private:
    std::vector<ExtensionItem> requestItems() const;
};

}  // namespace tavro::share::ui
