// SPDX-License-Identifier: MIT
#pragma once
// The share entry's command line as a share request:
//   tavro-share [--text TEXT] [URL-or-path ...]
// Each argument becomes one extension item with one attachment, in order: a local path or a
// file: URL offers the file (as a file URL and as its own type); any other URL offers a link;
// --text TEXT (or --text=TEXT) offers plain text; "-" reads standard input as one attachment,
// plain text when it is UTF-8 and data otherwise, up to kStandardInputLimit bytes (more is
// an attachment that cannot be read, and says why). "--" ends the options.

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "share/ExtensionItem.h"

namespace tavro::share {

// The most standard input may bring: 16 MiB.
inline constexpr size_t kStandardInputLimit = 16 * 1024 * 1024;

// A command line the share entry cannot use; what() is a sentence for the user.
class ShareArgumentsError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

std::vector<ExtensionItem> extensionItemsFromArguments(const std::vector<std::string>& args,
                                                       std::istream& standardInput);

}  // namespace tavro::share
