// SPDX-License-Identifier: MIT
#include "share/ui/ProgramArguments.h"

#include <algorithm>
#include <string_view>

namespace tavro::share::ui {

namespace {

// The program's options that take a value (written "--name VALUE" or "--name=VALUE").
constexpr std::string_view kOwnWithValue[] = {"title", "tags", "note", "text", "render-states"};
constexpr std::string_view kOwnFlags[] = {"no-gui", "help", "h", "version"};

// Qt's command-line options (QGuiApplication, QApplication and the X11 platform), written with
// one dash or two. Those that take a value may also be written "-name=value".
constexpr std::string_view kQtWithValue[] = {"platform",
                                             "platformpluginpath",
                                             "platformtheme",
                                             "plugin",
                                             "qwindowgeometry",
                                             "qwindowicon",
                                             "qwindowtitle",
                                             "session",
                                             "style",
                                             "stylesheet",
                                             "display",
                                             "geometry",
                                             "title",
                                             "name",
                                             "visual",
                                             "ncols",
                                             "cmap",
                                             "qmljsdebugger",
                                             "fontengine",
                                             "dialogs"};
constexpr std::string_view kQtFlags[] = {"reverse", "widgetcount", "testability",
                                         "nograb",  "dograb",      "sync"};

template <size_t N>
bool contains(const std::string_view (&names)[N], std::string_view name) {
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// "-name", "--name" or "--name=value" as "name"; empty for anything else.
std::string_view optionName(std::string_view argument) {
    if (argument.size() < 2 || argument[0] != '-')
        return {};
    argument.remove_prefix(argument.starts_with("--") ? 2 : 1);
    return argument.substr(0, argument.find('='));
}

bool isOwn(std::string_view name) {
    return contains(kOwnWithValue, name) || contains(kOwnFlags, name);
}

}  // namespace

ProgramArguments splitProgramArguments(const std::vector<std::string>& args) {
    ProgramArguments split;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (argument == "--") {
            split.program.insert(split.program.end(), args.begin() + long(i), args.end());
            break;
        }
        const std::string_view name = optionName(argument);
        const bool hasInlineValue = argument.find('=') != std::string::npos;
        if (argument.starts_with("--") && isOwn(name)) {
            split.program.push_back(argument);
            if (contains(kOwnWithValue, name) && !hasInlineValue && i + 1 < args.size())
                split.program.push_back(args[++i]);
        } else if (!isOwn(name) && (contains(kQtWithValue, name) || contains(kQtFlags, name))) {
            split.qt.push_back(argument);
            if (contains(kQtWithValue, name) && !hasInlineValue && i + 1 < args.size())
                split.qt.push_back(args[++i]);
        } else {
            split.program.push_back(argument);
        }
    }
    return split;
}

}  // namespace tavro::share::ui
