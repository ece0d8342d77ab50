// SPDX-License-Identifier: MIT
#pragma once
// What presentation shows for each kind: fixed English labels, the name of the symbol that
// stands for it, and whether its substance is a file or a link. Labels are not raw values:
// "Image" names no kind.

#include <string_view>

#include "model/ThingKind.h"

namespace tavro::model {

std::string_view title(ThingKind kind);
// The title with "s", except "Repositories".
std::string_view pluralTitle(ThingKind kind);
// A symbol name of the platform's system symbol set, one per kind.
std::string_view systemImage(ThingKind kind);
bool isFileBacked(ThingKind kind);
bool isLinkBacked(ThingKind kind);

}  // namespace tavro::model
