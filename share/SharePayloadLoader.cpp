// SPDX-License-Identifier: MIT
#include "share/SharePayloadLoader.h"

#include <unicode/utf8.h>

#include <cstdint>

#include "platform/FileSystem.h"
#include "platform/Paths.h"
#include "platform/Text.h"
#include "share/OneShot.h"

namespace tavro::share {

namespace paths = platform::paths;
using platform::UniformType;

namespace {

// The provider's offered types that the type table knows, in the provider's order.
std::vector<UniformType> knownTypes(const ItemProvider& provider) {
    std::vector<UniformType> types;
    for (const std::string& identifier : provider.registeredTypeIdentifiers()) {
        if (auto type = UniformType::fromIdentifier(identifier))
            types.push_back(*type);
    }
    return types;
}

std::optional<UniformType> firstConforming(const std::vector<UniformType>& types,
                                           const std::vector<UniformType>& targets) {
    for (const UniformType& type : types) {
        for (const UniformType& target : targets) {
            if (type.conforms(target))
                return type;
        }
    }
    return std::nullopt;
}

// A file opened for streaming, or nothing: only a regular file, opened without blocking (a
// named pipe or a device would block or never end), and never read into memory here. A path
// holding a NUL character would name another file to the operating system than the one asked
// for.
// Where the failures of the attachment being loaded on this thread are noted, if anywhere.
// Completions that may run on another thread take the sink with them when they are made.
thread_local std::shared_ptr<std::string> currentFailure;

void noteFailure(std::string* sink, const std::exception& error) {
    if (sink && sink->empty())
        *sink = error.what();
}

std::shared_ptr<const platform::ReadableFile> openSource(const std::string& path,
                                                         std::string* failure) {
    if (path.empty() || path.find('\0') != std::string::npos)
        return nullptr;
    try {
        return std::make_shared<const platform::ReadableFile>(path);
    } catch (const std::exception& error) {
        noteFailure(failure, error);
        return nullptr;
    }
}

bool containsWhiteSpace(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(utf8.data());
    const auto length = static_cast<int32_t>(utf8.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c;
        U8_NEXT(bytes, i, length, c);
        if (c >= 0 && (platform::text::isWhiteSpace(static_cast<char32_t>(c)) ||
                       platform::text::isLineBreak(static_cast<char32_t>(c)))) {
            return true;
        }
    }
    return false;
}

std::string baseName(const ItemProvider& provider, const UniformType& type) {
    auto suggested = provider.suggestedName();
    if (suggested && !suggested->empty())
        return *suggested;
    return "Shared " + type.localizedDescription().value_or("file");
}

SharedPayload filePayload(std::shared_ptr<const std::string> data, std::string name,
                          std::string typeIdentifier) {
    return SharedPayload(
        SharedPayload::File{std::move(data), std::move(name), std::move(typeIdentifier), {}});
}

SharedPayload filePayload(std::shared_ptr<const platform::ReadableFile> source, std::string name,
                          std::string typeIdentifier) {
    return SharedPayload(SharedPayload::File{nullptr, std::move(name), std::move(typeIdentifier),
                                             std::move(source)});
}

// Step 5 of one provider: text in any of its forms. Nothing means "go on".
std::optional<std::string> loadedText(const LoadedItem& item) {
    if (const auto* string = std::get_if<std::string>(&item))
        return *string;
    if (const auto* styled = std::get_if<StyledText>(&item))
        return styled->string;
    if (const auto* bytes = std::get_if<Bytes>(&item)) {
        if (bytes->data && platform::text::isWellFormedUtf8(*bytes->data))
            return *bytes->data;
    }
    return std::nullopt;
}

}  // namespace

std::vector<SharedPayload> SharePayloadLoader::load(const std::vector<ExtensionItem>& items,
                                                    std::vector<Unread>* unread) {
    std::vector<SharedPayload> payloads;
    size_t position = 0;
    for (const ExtensionItem& item : items) {
        if (item.attachments) {
            for (const std::shared_ptr<ItemProvider>& provider : *item.attachments) {
                ++position;
                if (!provider)
                    continue;
                auto failure = std::make_shared<std::string>();
                currentFailure = failure;
                // Nothing a provider does may fail the request: it just yields nothing.
                try {
                    if (auto payload = load(*provider))
                        payloads.push_back(std::move(*payload));
                    else if (unread && !failure->empty())
                        unread->push_back(
                            {provider->suggestedName().value_or("Item " + std::to_string(position)),
                             *failure});
                } catch (...) {
                }
                currentFailure = nullptr;
            }
        }
        if (payloads.empty() && item.attributedContentText &&
            !item.attributedContentText->string.empty()) {
            payloads.emplace_back(SharedPayload::Text{item.attributedContentText->string});
        }
    }
    return payloads;
}

std::future<std::vector<SharedPayload>> SharePayloadLoader::loadAsync(
    std::vector<ExtensionItem> items) {
    return std::async(std::launch::async, [items = std::move(items)] { return load(items); });
}

std::optional<SharedPayload> SharePayloadLoader::load(ItemProvider& provider) {
    const std::vector<UniformType> types = knownTypes(provider);

    if (provider.hasItemConformingToTypeIdentifier(UniformType::fileURL().identifier())) {
        if (auto url = loadURL(provider, UniformType::fileURL()))
            return file(*url);
    }

    if (auto media = firstConforming(types, {UniformType::image(), UniformType::movie(),
                                             UniformType::audiovisualContent()})) {
        if (auto payload = loadFile(provider, *media))
            return payload;
        LoadedItem item = loadItem(provider, *media);
        if (!std::holds_alternative<std::monostate>(item)) {
            if (auto loaded = payload(item, *media, provider))
                return loaded;
        }
    }

    if (provider.hasItemConformingToTypeIdentifier(UniformType::url().identifier())) {
        if (auto url = loadURL(provider, UniformType::url())) {
            if (url->isFileURL())
                return file(*url);
            return SharedPayload(SharedPayload::Url{*url});
        }
    }

    if (auto textType = firstConforming(types, {UniformType::text()})) {
        if (auto loaded = loadedText(loadItem(provider, *textType)))
            return text(*loaded);
    }

    if (auto dataType = firstConforming(types, {UniformType::data(), UniformType::content()})) {
        return loadFile(provider, *dataType);
    }
    return std::nullopt;
}

LoadedItem SharePayloadLoader::loadItem(ItemProvider& provider, const UniformType& type) {
    OneShot<LoadedItem> shot{LoadedItem{}};
    try {
        provider.loadItem(type.identifier(), shot.callback());
    } catch (const std::exception& error) {
        // A provider that fails outright delivered nothing; its completion, if kept, is moot.
        noteFailure(currentFailure.get(), error);
    } catch (...) {
    }
    return shot.wait();
}

std::optional<Url> SharePayloadLoader::loadURL(ItemProvider& provider, const UniformType& type) {
    LoadedItem item = loadItem(provider, type);
    if (const auto* url = std::get_if<Url>(&item))
        return *url;
    if (const auto* bytes = std::get_if<Bytes>(&item)) {
        return bytes->data ? Url::parse(*bytes->data) : std::nullopt;
    }
    if (const auto* string = std::get_if<std::string>(&item))
        return Url::parse(*string);
    return std::nullopt;
}

std::optional<SharedPayload> SharePayloadLoader::loadFile(ItemProvider& provider,
                                                          const UniformType& type) {
    const std::optional<std::string> suggested = provider.suggestedName();
    OneShot<std::optional<SharedPayload>> shot{std::nullopt};
    auto deliver = shot.callback();
    // The temporary file exists only while this runs, so it is read here.
    auto readTemporaryFile = [deliver, suggested, type,
                              failure = currentFailure](const std::optional<std::string>& path) {
        if (!path)
            return deliver(std::nullopt);
        auto source = openSource(*path, failure.get());
        if (!source)
            return deliver(std::nullopt);
        std::string extension = paths::extension(*path);
        std::string name;
        if (!suggested || suggested->empty()) {
            name = paths::lastComponent(*path);
        } else if (!paths::extension(*suggested).empty() || extension.empty()) {
            name = *suggested;
        } else {
            name = *suggested + "." + extension;
        }
        auto contentType = platform::contentTypeOfFile(*path);
        deliver(filePayload(std::move(source), std::move(name),
                            contentType ? contentType->identifier() : type.identifier()));
    };
    try {
        provider.loadFileRepresentation(type.identifier(), std::move(readTemporaryFile));
    } catch (const std::exception& error) {
        // As for loadItem: nothing was delivered.
        noteFailure(currentFailure.get(), error);
    } catch (...) {
    }
    deliver = nullptr;
    return shot.wait();
}

std::optional<SharedPayload> SharePayloadLoader::file(const Url& url) {
    // Files handed over by URL need no security-scoped access on Linux: the share entry reads
    // with the user's own rights.
    if (!url.isFileURL())
        return std::nullopt;
    std::string path = url.filePath();
    auto source = openSource(path, currentFailure.get());
    if (!source)
        return std::nullopt;
    UniformType type = platform::contentTypeOfFile(path).value_or(
        UniformType::fromFilenameExtension(paths::extension(path)).value_or(UniformType::data()));
    return filePayload(std::move(source), paths::lastComponent(path), type.identifier());
}

std::optional<SharedPayload> SharePayloadLoader::payload(const LoadedItem& loaded,
                                                         const UniformType& type,
                                                         const ItemProvider& provider) {
    std::string base = baseName(provider, type);
    if (const auto* url = std::get_if<Url>(&loaded))
        return file(*url);
    if (const auto* bytes = std::get_if<Bytes>(&loaded)) {
        if (!bytes->data)
            return std::nullopt;
        std::string name = base;
        if (paths::extension(base).empty()) {
            name += "." + type.preferredFilenameExtension().value_or("bin");
        }
        return filePayload(bytes->data, std::move(name), type.identifier());
    }
    if (const auto* image = std::get_if<std::shared_ptr<const ImageObject>>(&loaded)) {
        if (!*image)
            return std::nullopt;
        auto png = (*image)->pngRepresentation();
        if (!png)
            return std::nullopt;
        return filePayload(std::make_shared<const std::string>(std::move(*png)), base + ".png",
                           UniformType::png().identifier());
    }
    return std::nullopt;
}

std::optional<SharedPayload> SharePayloadLoader::text(std::string_view loaded) {
    std::string trimmed = platform::text::trimWhiteSpaceAndNewlines(loaded);
    if (trimmed.empty())
        return std::nullopt;
    if (!containsWhiteSpace(trimmed)) {
        auto url = Url::parse(trimmed);
        if (url && url->scheme() && (*url->scheme() == "http" || *url->scheme() == "https")) {
            return SharedPayload(SharedPayload::Url{*url});
        }
    }
    return SharedPayload(SharedPayload::Text{std::move(trimmed)});
}

}  // namespace tavro::share
