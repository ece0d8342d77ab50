// SPDX-License-Identifier: MIT
#pragma once
// Turns a share request (extension items with their attachments) into payloads. Each
// attachment is asked for its content in a fixed order of preference: a file URL, media (image,
// movie, audio-visual), a link, text, then any data. Loading never fails as a whole: a
// representation that cannot be read yields nothing and the order decides what is tried next.
//
// The loader keeps no state. It blocks while providers deliver, one provider at a time, so it
// belongs on a worker thread (loadAsync starts one); the share sheet applies the result on
// its own thread.

#include <future>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/TypeIdentifiers.h"
#include "share/ExtensionItem.h"
#include "share/SharedPayload.h"

namespace tavro::share {

class SharePayloadLoader {
  public:
    // An attachment that gave nothing because it could not be read: what it is called (its
    // file name, when it has one) and why, as a sentence for the user.
    struct Unread {
        std::string name;
        std::string reason;
    };

    // The payloads of all items, in order. When nothing was loaded by the time an item's
    // attachments are done, the item's non-empty content text becomes a text payload as is.
    // Loading still never fails; the attachments that could not be read are added to
    // `unread` when it is given (those that merely held nothing to save, such as blank text,
    // are not).
    static std::vector<SharedPayload> load(const std::vector<ExtensionItem>& items,
                                           std::vector<Unread>* unread = nullptr);
    static std::future<std::vector<SharedPayload>> loadAsync(std::vector<ExtensionItem> items);

    // One attachment: the first step of the order of preference that applies decides.
    static std::optional<SharedPayload> load(ItemProvider& provider);

    // The item of the type (nothing on any failure).
    static LoadedItem loadItem(ItemProvider& provider, const platform::UniformType& type);
    // The item of the type read as a URL: a URL, bytes or a string holding one.
    static std::optional<Url> loadURL(ItemProvider& provider, const platform::UniformType& type);
    // A file representation of the type, opened while its temporary file exists (the open
    // file outlives the name) and streamed when saved.
    static std::optional<SharedPayload> loadFile(ItemProvider& provider,
                                                 const platform::UniformType& type);

    // A file the sharing program handed over by URL.
    static std::optional<SharedPayload> file(const Url& url);
    // An object delivered for a media type: a file URL, bytes or an image.
    static std::optional<SharedPayload> payload(const LoadedItem& loaded,
                                                const platform::UniformType& type,
                                                const ItemProvider& provider);
    // Loaded text: nothing when blank; a link when it is one http(s) URL without white space;
    // otherwise the trimmed text.
    static std::optional<SharedPayload> text(std::string_view loaded);
};

}  // namespace tavro::share
