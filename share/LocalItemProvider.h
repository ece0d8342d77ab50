// SPDX-License-Identifier: MIT
#pragma once
// A provider of content this process already holds: the share entry's command-line arguments
// and standard input, and the share sheet's drops and pastes. Completions run at once, on the
// caller's thread.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "share/ItemProvider.h"

namespace tavro::share {

class LocalItemProvider : public ItemProvider {
  public:
    explicit LocalItemProvider(std::optional<std::string> suggestedName = std::nullopt);

    // A local file: offered as a file URL and as the file's own type.
    static std::shared_ptr<LocalItemProvider> forFile(const std::string& path);
    // A link: offered as a URL.
    static std::shared_ptr<LocalItemProvider> forUrl(const Url& url);
    // Text: offered as UTF-8 plain text.
    static std::shared_ptr<LocalItemProvider> forText(std::string text);
    // Bytes of the given type (plain data when unsure), e.g. standard input or a dropped image.
    static std::shared_ptr<LocalItemProvider> forData(std::shared_ptr<const std::string> bytes,
                                                      const std::string& typeIdentifier);

    // Offers `typeIdentifier`; loading it delivers `item`.
    void registerItem(const std::string& typeIdentifier, LoadedItem item);
    // Content that could not be read (standard input over its limit): offered as plain data,
    // and every load of it fails with `reason`, which the loader reports under `name`.
    static std::shared_ptr<LocalItemProvider> forUnreadable(std::string name, std::string reason);

    // Offers `typeIdentifier` as bytes: loading delivers them, and a file representation is a
    // temporary file of them (named by the suggested name or after the type) that is removed
    // once the completion returns.
    void registerData(const std::string& typeIdentifier, std::shared_ptr<const std::string> bytes);
    // Offers `typeIdentifier` as an existing file: a file representation is the file itself,
    // and loading delivers its file URL.
    void registerFile(const std::string& typeIdentifier, const std::string& path);

    std::vector<std::string> registeredTypeIdentifiers() const override;
    void loadItem(const std::string& typeIdentifier, ItemCompletion completion) override;
    void loadFileRepresentation(const std::string& typeIdentifier,
                                FileCompletion completion) override;
    std::optional<std::string> suggestedName() const override { return suggestedName_; }

  private:
    struct Representation {
        std::string typeIdentifier;
        LoadedItem item;
        std::shared_ptr<const std::string> bytes;  // for data
        std::optional<std::string> path;           // for files
    };

    // The exact identifier first, else the first representation conforming to it.
    const Representation* find(const std::string& typeIdentifier) const;
    void deliverTemporaryFile(const Representation& representation, FileCompletion& completion);

    std::optional<std::string> suggestedName_;
    std::vector<Representation> representations_;
    std::optional<std::string> failure_;
};

}  // namespace tavro::share
