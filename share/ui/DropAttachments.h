// SPDX-License-Identifier: MIT
#pragma once
// Drops and pastes as share-request attachments. A list of links or files ("text/uri-list")
// becomes one attachment per entry: a local file offers the file, anything else offers a link.
// Any other drop is one attachment offering each of its formats under the type identifier of
// its MIME type, in the order the source gave them: "text/plain" as UTF-8 plain text,
// "image/png" as PNG, and so on. A picture the source only hands over decoded is offered as
// PNG.

#include <QMimeData>
#include <vector>

#include "share/ExtensionItem.h"

namespace tavro::share::ui {

// One extension item per attachment; none when the drop holds nothing to share.
std::vector<ExtensionItem> attachmentsFromMimeData(const QMimeData& mime);

}  // namespace tavro::share::ui
