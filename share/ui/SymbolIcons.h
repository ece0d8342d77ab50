// SPDX-License-Identifier: MIT
#pragma once
// Icons for the symbol names payloads and the form use ("link", "photo", ...). Each symbol has
// one fixed freedesktop icon name, looked up in the desktop's icon theme; where the theme has
// no such icon, the widget style's nearest standard icon stands in so a row never goes blank.

#include <QIcon>
#include <string_view>

namespace tavro::share::ui {

// The freedesktop icon name for a symbol; "text-x-generic" for a symbol not in the table.
const char* themeIconName(std::string_view symbol);

// The icon for a symbol from the current theme, with the style's fallback.
QIcon iconForSymbol(std::string_view symbol);

// Makes theme lookups work where the platform names no theme (offscreen, bare X sessions):
// the desktop's icon folders are searched, and
// the first installed freedesktop theme of a short list is used.
void ensureIconTheme();

}  // namespace tavro::share::ui
