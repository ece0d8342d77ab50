#pragma once
// The share entry's command line as a share request:
//   tavro-share [--text TEXT] [URL-or-path ...]
// Each argument becomes one extension item with one attachment, in order: a local path or a
// file: URL offers the file (as a file URL and as its own type); any other URL offers a link;
// --text TEXT (or --text=TEXT) offers plain text; "-" reads standard input as one attachment,
// plain text when it is UTF-8 and data otherwise. "--" ends the options.

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "share/ExtensionItem.h"

namespace tavro::share {

// A command line the share entry cannot use; what() is a sentence for the user.
class ShareArgumentsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::vector<ExtensionItem> extensionItemsFromArguments(const std::vector<std::string>& args,
                                                       std::istream& standardInput);

}  // namespace tavro::share
