// SPDX-License-Identifier: MIT
#include "share/ui/SymbolIcons.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStyle>

namespace tavro::share::ui {

namespace {

struct SymbolIcon {
    std::string_view symbol;
    const char* themeName;
    QStyle::StandardPixmap fallback;
};

constexpr SymbolIcon kSymbolIcons[] = {
    {"link", "insert-link", QStyle::SP_DriveNetIcon},
    {"text.alignleft", "format-justify-left", QStyle::SP_FileIcon},
    {"photo", "image-x-generic", QStyle::SP_FileIcon},
    {"play.rectangle", "video-x-generic", QStyle::SP_MediaPlay},
    {"doc", "x-office-document", QStyle::SP_FileIcon},
    {"exclamationmark.triangle", "dialog-warning", QStyle::SP_MessageBoxWarning},
};

const SymbolIcon* find(std::string_view symbol) {
    for (const SymbolIcon& icon : kSymbolIcons) {
        if (icon.symbol == symbol)
            return &icon;
    }
    return nullptr;
}

bool themeInstalled(const QString& name) {
    const QStringList roots = QIcon::themeSearchPaths();
    for (const QString& root : roots) {
        if (QFileInfo::exists(QDir(root).filePath(name + "/index.theme")))
            return true;
    }
    return false;
}

}  // namespace

const char* themeIconName(std::string_view symbol) {
    const SymbolIcon* icon = find(symbol);
    return icon ? icon->themeName : "text-x-generic";
}

QIcon iconForSymbol(std::string_view symbol) {
    const SymbolIcon* icon = find(symbol);
    QStyle::StandardPixmap fallback = icon ? icon->fallback : QStyle::SP_FileIcon;
    QIcon themed = QIcon::fromTheme(QString::fromLatin1(themeIconName(symbol)));
    if (!themed.isNull())
        return themed;
    return QApplication::style()->standardIcon(fallback);
}

void ensureIconTheme() {
    // Without a desktop platform theme Qt searches only its own resources.
    QStringList paths = QIcon::themeSearchPaths();
    const QStringList dataFolders =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString& data : dataFolders) {
        QString icons = QDir(data).filePath(QStringLiteral("icons"));
        if (!paths.contains(icons) && QFileInfo(icons).isDir())
            paths << icons;
    }
    QIcon::setThemeSearchPaths(paths);
    if (!QIcon::themeName().isEmpty() && QIcon::themeName() != QLatin1String("hicolor"))
        return;
    for (const char* name : {"Adwaita", "breeze", "gnome", "oxygen", "Tango"}) {
        if (themeInstalled(QString::fromLatin1(name))) {
            QIcon::setThemeName(QString::fromLatin1(name));
            return;
        }
    }
}

}  // namespace tavro::share::ui
