// SPDX-License-Identifier: MIT
#pragma once
// An attachment of a share request: one shared thing offered in one or more representations,
// each named by a uniform type identifier. The share entry builds providers from the command
// line, standard input, drops and pastes; the loader asks them for content.
//
// Loading is asynchronous: a provider calls each completion exactly once, on any thread, now
// or later. A completion that is dropped without being called counts as "nothing".

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "share/Url.h"

namespace tavro::share {

// Styled text; only its plain string is used.
struct StyledText {
    std::string string;
};

// Raw bytes of some representation.
struct Bytes {
    std::shared_ptr<const std::string> data;
};

// A decoded picture (for instance a pasted image). Conversion may run on any thread.
class ImageObject {
  public:
    virtual ~ImageObject() = default;
    // The picture encoded as PNG without extra properties, or nothing when it cannot be.
    virtual std::optional<std::string> pngRepresentation() const = 0;
};

// What loading an item delivers: nothing, a URL, a string, styled text, bytes or an image.
using LoadedItem = std::variant<std::monostate, Url, std::string, StyledText, Bytes,
                                std::shared_ptr<const ImageObject>>;

class ItemProvider {
  public:
    using ItemCompletion = std::function<void(LoadedItem item)>;
    // The path of a temporary file, valid only while the completion runs, or nothing.
    using FileCompletion = std::function<void(const std::optional<std::string>& path)>;

    virtual ~ItemProvider() = default;

    // The identifiers offered, in the provider's order of preference.
    virtual std::vector<std::string> registeredTypeIdentifiers() const = 0;

    // Whether any offered representation conforms to `typeIdentifier`. By default: an offered
    // identifier equal to it or whose type conforms to it.
    virtual bool hasItemConformingToTypeIdentifier(const std::string& typeIdentifier) const;

    virtual void loadItem(const std::string& typeIdentifier, ItemCompletion completion) = 0;
    virtual void loadFileRepresentation(const std::string& typeIdentifier,
                                        FileCompletion completion) = 0;

    // The file name proposed by the sharing program, if any.
    virtual std::optional<std::string> suggestedName() const = 0;
};

}  // namespace tavro::share
