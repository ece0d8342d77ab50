// SPDX-License-Identifier: MIT
// tavro-share: saves what another program shares into Tavro's shared inbox.
//
// With a desktop it shows the share form for the shared items; --no-gui saves them straight
// away from a terminal or a script. Either way each item becomes one entry of the inbox in
// the App Group container, which the Tavro app takes over later.

#include <stdlib.h>
#include <sys/resource.h>

#include <QApplication>
#include <QLineEdit>
#include <QStringList>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "share/ShareArguments.h"
#include "share/SharePayloadLoader.h"
#include "share/ui/NoteEdit.h"
#include "share/ui/ProcessExtensionContext.h"
#include "share/ui/ProgramArguments.h"
#include "share/ui/ShareSaving.h"
#include "share/ui/ShareView.h"
#include "share/ui/ShareViewController.h"
#include "share/ui/StateRendering.h"

namespace {

using namespace tavro::share;

constexpr const char* kUsage =
    "Usage: tavro-share [OPTIONS] [--text TEXT] [URL-or-path ...] [-]\n"
    "\n"
    "Saves links, text and files into Tavro's shared inbox, where the Tavro app picks them\n"
    "up. Each argument is one shared item: a local path or file: URL shares the file, any\n"
    "other URL shares the link, --text TEXT shares a piece of text, and \"-\" shares standard\n"
    "input (as text when it is UTF-8, else as a file), at most 16 MiB of it. Only regular\n"
    "files are shared: a named pipe or a device is refused. Items that cannot be read are\n"
    "named on standard error with the reason, and the others are still saved. \"--\" ends\n"
    "the options.\n"
    "\n"
    "Without --no-gui the share form opens: it lists the items, takes a title, tags and a\n"
    "note, and saves with \"Save to Tavro\" (Return) or cancels with \"Cancel\" (Escape).\n"
    "Links, text, images and files dropped or pasted onto the form are shared as well.\n"
    "Saving ends the program with status 0; cancelling reports the cancellation on standard\n"
    "error and ends it with status 1.\n"
    "\n"
    "Options:\n"
    "  --no-gui             save without showing the form and print the id of every entry\n"
    "                       written, one per line. Status 1 when nothing could be read\n"
    "                       (\"Nothing tavro can save was shared.\") or a write failed\n"
    "                       (\"Couldn't save: ...\"), with the message on standard error.\n"
    "  --title TITLE        the title (stored on the first entry only)\n"
    "  --tags TAGS          tags, comma separated (\"a, b\")\n"
    "  --note NOTE          the note\n"
    "  --render-states DIR  render the form in each of its states to PNG files in DIR\n"
    "  -h, --help           show this help\n"
    "      --version        show the version\n";

struct Options {
    bool help = false;
    bool noGui = false;
    std::optional<std::string> renderDirectory;
    ui::ShareForm form;
    std::vector<std::string> shareArguments;  // what the share request is made of
};

class UsageError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Takes this program's own options out; everything else describes the shared items.
Options parseOptions(const std::vector<std::string>& args) {
    Options options;
    auto valueOf = [&](size_t& i, const std::string& name) {
        if (i + 1 == args.size())
            throw UsageError("The option " + name + " needs a value.");
        return args[++i];
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            options.shareArguments.insert(options.shareArguments.end(), args.begin() + long(i),
                                          args.end());
            break;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "--no-gui") {
            options.noGui = true;
        } else if (arg == "--title" || arg == "--tags" || arg == "--note" ||
                   arg == "--render-states") {
            std::string value = valueOf(i, arg);
            if (arg == "--title") {
                options.form.title = value;
            } else if (arg == "--tags") {
                options.form.tags = value;
            } else if (arg == "--note") {
                options.form.note = value;
            } else {
                options.renderDirectory = value;
            }
        } else if (arg == "--text") {
            // The text may itself look like an option; it is the share arguments' to read.
            options.shareArguments.push_back(arg);
            options.shareArguments.push_back(valueOf(i, arg));
        } else {
            options.shareArguments.push_back(arg);
        }
    }
    return options;
}

std::vector<std::string> argumentsOf(int argc, char** argv) {
    return {argv + std::min(argc, 1), argv + argc};
}

int saveWithoutForm(const Options& options) {
    std::vector<ExtensionItem> items =
        extensionItemsFromArguments(options.shareArguments, std::cin);
    std::vector<SharePayloadLoader::Unread> unread;
    std::vector<SharedPayload> payloads = SharePayloadLoader::load(items, &unread);
    for (const SharePayloadLoader::Unread& item : unread)
        std::cerr << ui::unreadDescription(item) << std::endl;
    if (payloads.empty()) {
        std::cerr << "Nothing tavro can save was shared." << std::endl;
        return 1;
    }
    if (auto failure = ui::saveToInbox(payloads, options.form)) {
        std::cerr << *failure << std::endl;
        return 1;
    }
    for (const SharedPayload& payload : payloads)
        std::cout << payload.id().uppercase() << '\n';
    return 0;
}

// Every shared file stays open from loading to saving (it is streamed, not held in memory),
// so sharing a few thousand files at once needs more descriptors than the usual soft limit.
void allowEveryOpenFile() {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

bool hasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = getenv(name);
        if (value && *value)
            return true;
    }
    return false;
}

void prefill(ui::ShareView& form, const ui::ShareForm& values) {
    form.titleField()->setText(QString::fromStdString(values.title));
    form.tagsField()->setText(QString::fromStdString(values.tags));
    form.noteField()->setPlainText(QString::fromStdString(values.note));
}

// Qt's command line: the program's name and Qt's own options, never the program's, which Qt
// would otherwise take for its own (under X11 "--title" is the window's title). The strings
// and the count live as long as the application that keeps pointing at them.
struct QtCommandLine {
    QtCommandLine(const char* programName, const std::vector<std::string>& qtOptions)
        : strings(qtOptions) {
        strings.insert(strings.begin(), programName ? programName : "tavro-share");
        for (std::string& string : strings)
            pointers.push_back(string.data());
        count = int(strings.size());
        pointers.push_back(nullptr);
    }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
    int count = 0;
};

int showForm(QtCommandLine& commandLine, const Options& options) {
    QApplication app(commandLine.count, commandLine.pointers.data());
    QApplication::setApplicationName(QStringLiteral("tavro-share"));
    QApplication::setApplicationDisplayName(QStringLiteral("Tavro"));
    QApplication::setDesktopFileName(QStringLiteral("tavro-share"));

    auto context = std::make_shared<ui::ProcessExtensionContext>(
        extensionItemsFromArguments(options.shareArguments, std::cin), std::cerr);
    ui::ShareViewController controller(context);
    prefill(*controller.shareView(), options.form);
    // What could not be read is named on standard error as well as under the form's list, as
    // --no-gui names it; later loads (drops, pastes) add to the same list.
    size_t reported = 0;
    QObject::connect(controller.shareView(), &ui::ShareView::loadingFinished, &app, [&] {
        const auto& unread = controller.shareView()->unread();
        for (; reported < unread.size(); ++reported)
            std::cerr << ui::unreadDescription(unread[reported]) << std::endl;
    });
    // Closing the window is cancelling, as Escape is; the request decides the exit status.
    app.setQuitOnLastWindowClosed(false);
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app,
                     [&] { context->cancelRequest(ui::userCancelledError()); });
    controller.view()->show();
    int status = app.exec();
    // A provider may still be reading (a large file shared and then cancelled); its worker
    // must not race the process's static destructors. Nothing is left to clean up that the
    // system does not: end here.
    std::cout.flush();
    std::cerr.flush();
    std::_Exit(status);
}

int renderStates(QtCommandLine& commandLine, const std::string& directory) {
    if (!getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(commandLine.count, commandLine.pointers.data());
    return ui::renderFormStates(QString::fromStdString(directory), std::cerr);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "tavro-share " << TAVRO_VERSION << "\n";
        return 0;
    }
    try {
        allowEveryOpenFile();
        ui::ProgramArguments split = ui::splitProgramArguments(argumentsOf(argc, argv));
        Options options = parseOptions(split.program);
        QtCommandLine qtCommandLine(argc > 0 ? argv[0] : nullptr, split.qt);
        if (options.help) {
            std::cout << kUsage;
            return 0;
        }
        if (options.renderDirectory)
            return renderStates(qtCommandLine, *options.renderDirectory);
        if (options.noGui)
            return saveWithoutForm(options);
        if (!hasDisplay()) {
            std::cerr << "No display to show the share form on; use --no-gui to save from a "
                         "terminal."
                      << std::endl;
            return 1;
        }
        return showForm(qtCommandLine, options);
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
        return 2;
    }
}
