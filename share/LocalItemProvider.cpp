// SPDX-License-Identifier: MIT
#include "share/LocalItemProvider.h"

#include <stdlib.h>

#include <filesystem>

#include "platform/Error.h"
#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/TypeIdentifiers.h"

namespace tavro::share {

namespace paths = platform::paths;
using platform::UniformType;

namespace {

// A private folder for one temporary file, removed with it.
class TemporaryFolder {
  public:
    TemporaryFolder() {
        std::error_code error;
        std::string pattern =
            (std::filesystem::temp_directory_path(error) / "tavro-share-XXXXXX").string();
        if (!error && mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TemporaryFolder() {
        if (!path_)
            return;
        std::error_code ignored;  // a leftover in the temporary folder harms nobody
        std::filesystem::remove_all(*path_, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::optional<std::string>& path() const { return path_; }

  private:
    std::optional<std::string> path_;
};

// The suggested name (or "shared"), given the type's extension when it has none, so that
// the file's own type reads back from its name.
std::string temporaryFileName(const std::optional<std::string>& suggested,
                              const std::string& typeIdentifier) {
    std::string name = suggested ? paths::lastComponent(*suggested) : std::string();
    if (name.empty() || name == "." || name == "..")
        name = "shared";
    auto type = UniformType::fromIdentifier(typeIdentifier);
    auto extension = type ? type->preferredFilenameExtension() : std::nullopt;
    if (paths::extension(name).empty() && extension)
        name += "." + *extension;
    return name;
}

}  // namespace

LocalItemProvider::LocalItemProvider(std::optional<std::string> suggestedName)
    : suggestedName_(std::move(suggestedName)) {}

std::shared_ptr<LocalItemProvider> LocalItemProvider::forFile(const std::string& path) {
    std::string absolute = paths::absolute(path);
    auto provider = std::make_shared<LocalItemProvider>(paths::lastComponent(absolute));
    provider->registerFile(UniformType::fileURL().identifier(), absolute);
    if (auto type = platform::contentTypeOfFile(absolute)) {
        provider->registerFile(type->identifier(), absolute);
    }
    return provider;
}

std::shared_ptr<LocalItemProvider> LocalItemProvider::forUrl(const Url& url) {
    auto provider = std::make_shared<LocalItemProvider>();
    provider->registerItem(UniformType::url().identifier(), url);
    return provider;
}

std::shared_ptr<LocalItemProvider> LocalItemProvider::forText(std::string text) {
    auto provider = std::make_shared<LocalItemProvider>();
    provider->registerItem(UniformType::utf8PlainText().identifier(), std::move(text));
    return provider;
}

std::shared_ptr<LocalItemProvider> LocalItemProvider::forData(
    std::shared_ptr<const std::string> bytes, const std::string& typeIdentifier) {
    auto provider = std::make_shared<LocalItemProvider>();
    provider->registerData(typeIdentifier, std::move(bytes));
    return provider;
}

std::shared_ptr<LocalItemProvider> LocalItemProvider::forUnreadable(std::string name,
                                                                    std::string reason) {
    auto provider = std::make_shared<LocalItemProvider>(std::move(name));
    provider->registerItem(UniformType::data().identifier(), LoadedItem{});
    provider->failure_ = std::move(reason);
    return provider;
}

void LocalItemProvider::registerItem(const std::string& typeIdentifier, LoadedItem item) {
    representations_.push_back({typeIdentifier, std::move(item), nullptr, std::nullopt});
}

void LocalItemProvider::registerData(const std::string& typeIdentifier,
                                     std::shared_ptr<const std::string> bytes) {
    representations_.push_back({typeIdentifier, Bytes{bytes}, bytes, std::nullopt});
}

void LocalItemProvider::registerFile(const std::string& typeIdentifier, const std::string& path) {
    representations_.push_back({typeIdentifier, Url::fromFilePath(path), nullptr, path});
}

std::vector<std::string> LocalItemProvider::registeredTypeIdentifiers() const {
    std::vector<std::string> identifiers;
    for (const Representation& r : representations_)
        identifiers.push_back(r.typeIdentifier);
    return identifiers;
}

const LocalItemProvider::Representation* LocalItemProvider::find(
    const std::string& typeIdentifier) const {
    for (const Representation& r : representations_) {
        if (r.typeIdentifier == typeIdentifier)
            return &r;
    }
    for (const Representation& r : representations_) {
        if (platform::conforms(r.typeIdentifier, typeIdentifier))
            return &r;
    }
    return nullptr;
}

void LocalItemProvider::loadItem(const std::string& typeIdentifier, ItemCompletion completion) {
    if (failure_)
        platform::throwError(platform::kCocoaErrorDomain, 256, *failure_);
    const Representation* representation = find(typeIdentifier);
    completion(representation ? representation->item : LoadedItem{});
}

void LocalItemProvider::loadFileRepresentation(const std::string& typeIdentifier,
                                               FileCompletion completion) {
    if (failure_)
        platform::throwError(platform::kCocoaErrorDomain, 256, *failure_);
    const Representation* representation = find(typeIdentifier);
    if (representation && representation->path) {
        completion(representation->path);
    } else if (representation && representation->bytes) {
        deliverTemporaryFile(*representation, completion);
    } else {
        completion(std::nullopt);
    }
}

void LocalItemProvider::deliverTemporaryFile(const Representation& representation,
                                             FileCompletion& completion) {
    TemporaryFolder folder;
    if (!folder.path()) {
        completion(std::nullopt);
        return;
    }
    std::string file = paths::join(
        *folder.path(), temporaryFileName(suggestedName_, representation.typeIdentifier));
    try {
        platform::FileSystem::real().writeFileAtomically(file, *representation.bytes);
    } catch (const std::exception&) {
        completion(std::nullopt);
        return;
    }
    completion(file);
}

}  // namespace tavro::share
