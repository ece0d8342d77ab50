// SPDX-License-Identifier: MIT
#include "share/ShareArguments.h"

#include <iterator>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "platform/TypeIdentifiers.h"
#include "share/LocalItemProvider.h"

namespace tavro::share {

namespace {

ExtensionItem itemWith(std::shared_ptr<ItemProvider> provider) {
    ExtensionItem item;
    item.attachments = std::vector<std::shared_ptr<ItemProvider>>{std::move(provider)};
    return item;
}

std::shared_ptr<ItemProvider> standardInputProvider(std::istream& input) {
    // Standard input has no name to stream from later and may never end (/dev/zero), so it is
    // read into memory, up to a limit.
    std::string bytes;
    char buffer[64 * 1024];
    while (input.read(buffer, sizeof buffer) || input.gcount() > 0) {
        bytes.append(buffer, size_t(input.gcount()));
        if (bytes.size() > kStandardInputLimit) {
            return LocalItemProvider::forUnreadable(
                "Standard input",
                "It holds more than 16 MiB, the most tavro-share reads from standard input; "
                "share it as a file instead.");
        }
    }
    if (platform::text::isWellFormedUtf8(bytes))
        return LocalItemProvider::forText(std::move(bytes));
    return LocalItemProvider::forData(std::make_shared<const std::string>(std::move(bytes)),
                                      platform::UniformType::data().identifier());
}

// An existing file wins over a URL reading of the same text ("notes:2024.txt" may be a file);
// otherwise anything with a scheme is a URL, and the rest names a (possibly missing) file.
std::shared_ptr<ItemProvider> argumentProvider(const std::string& argument) {
    if (!argument.empty() && platform::FileSystem::real().exists(argument)) {
        return LocalItemProvider::forFile(argument);
    }
    if (auto url = Url::parse(argument); url && url->scheme()) {
        if (url->isFileURL())
            return LocalItemProvider::forFile(url->filePath());
        return LocalItemProvider::forUrl(*url);
    }
    return LocalItemProvider::forFile(argument);
}

}  // namespace

std::vector<ExtensionItem> extensionItemsFromArguments(const std::vector<std::string>& args,
                                                       std::istream& standardInput) {
    std::vector<ExtensionItem> items;
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& argument = args[i];
        if (options && argument == "--") {
            options = false;
        } else if (options && argument == "--text") {
            if (i + 1 == args.size())
                throw ShareArgumentsError("The option --text needs a text.");
            items.push_back(itemWith(LocalItemProvider::forText(args[++i])));
        } else if (options && argument.starts_with("--text=")) {
            items.push_back(itemWith(LocalItemProvider::forText(argument.substr(7))));
        } else if (argument == "-") {
            items.push_back(itemWith(standardInputProvider(standardInput)));
        } else if (options && argument.starts_with("-")) {
            throw ShareArgumentsError("Unknown option \u201c" + argument + "\u201d.");
        } else {
            items.push_back(itemWith(argumentProvider(argument)));
        }
    }
    return items;
}

}  // namespace tavro::share
