// SPDX-License-Identifier: MIT
#pragma once
// tavro-share's command line split between the program and Qt. Qt takes its own options out
// of what it is given, and under X11 some of its names are ours as well ("-title" and
// "--title" set the window's title there), so Qt is handed only the options it owns that are
// not ours, each with its value; everything else is the program's, in order.

#include <string>
#include <vector>

namespace tavro::share::ui {

struct ProgramArguments {
    std::vector<std::string> program;  // the program's own options and the shared items
    std::vector<std::string> qt;       // Qt's options (without the program name)
};

// `args` exclude the program name. Nothing after "--" goes to Qt, and neither does the value
// of one of the program's options, whatever it looks like ("--text -style").
ProgramArguments splitProgramArguments(const std::vector<std::string>& args);

}  // namespace tavro::share::ui
