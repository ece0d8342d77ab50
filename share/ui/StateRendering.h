// SPDX-License-Identifier: MIT
#pragma once
// Pictures of the form in each of its states, for review: Loading, Empty, Ready and Ready with
// an error, rendered at the sheet's size into "share-sheet-<state>.png" files. Needs a running
// QApplication (the offscreen platform is enough). Writes nothing into any inbox: the error
// state comes from a save without the App Group.

#include <QString>
#include <ostream>

namespace tavro::share::ui {

// Renders every state into `directory` (created when missing); 0 on success, else 1 with the
// reason on `errors`.
int renderFormStates(const QString& directory, std::ostream& errors);

}  // namespace tavro::share::ui
