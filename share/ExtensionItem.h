// SPDX-License-Identifier: MIT
#pragma once
// One item of a share request: optional content text (for instance the text selected when a
// page was shared) and its attachments, in order. A missing attachment list and an empty one
// both mean "no attachments".

#include <memory>
#include <optional>
#include <vector>

#include "share/ItemProvider.h"

namespace tavro::share {

struct ExtensionItem {
    std::optional<StyledText> attributedContentText;
    std::optional<std::vector<std::shared_ptr<ItemProvider>>> attachments;
};

}  // namespace tavro::share
