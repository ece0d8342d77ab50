// SPDX-License-Identifier: MIT
#include "share/ui/ShareSaving.h"

#include <exception>
#include <variant>

#include "platform/Error.h"
#include "platform/Text.h"
#include "share/SharedInbox.h"

namespace tavro::share::ui {

std::vector<std::string> parseTags(std::string_view tags) {
    std::vector<std::string> result;
    size_t start = 0;
    while (start <= tags.size()) {
        size_t comma = tags.find(',', start);
        size_t end = comma == std::string_view::npos ? tags.size() : comma;
        std::string piece = platform::text::trimWhiteSpace(tags.substr(start, end - start));
        if (!piece.empty())
            result.push_back(std::move(piece));
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return result;
}

std::string trimmedTitle(std::string_view title) {
    return platform::text::trimWhiteSpace(title);
}

namespace {

void applyContent(const SharedPayload::Content& content, SharedInboxEntry& entry) {
    if (const auto* url = std::get_if<SharedPayload::Url>(&content)) {
        entry.url = url->url.absoluteString();
    } else if (const auto* text = std::get_if<SharedPayload::Text>(&content)) {
        entry.text = text->text;
    } else if (const auto* file = std::get_if<SharedPayload::File>(&content)) {
        entry.fileName = file->name;
        entry.typeIdentifier = file->typeIdentifier;
    }
}

// Only files carry bytes; links and text live in the record alone.
std::optional<std::string_view> payloadBytes(const SharedPayload::Content& content) {
    const auto* file = std::get_if<SharedPayload::File>(&content);
    if (!file)
        return std::nullopt;
    return file->data ? std::string_view(*file->data) : std::string_view();
}

std::string describe(const std::exception& error) {
    if (const auto* platformError = dynamic_cast<const platform::Error*>(&error))
        return platformError->value()->description();
    return platform::errorFromException(error)->description();
}

}  // namespace

std::string unreadDescription(const SharePayloadLoader::Unread& item) {
    return "Not shared: \u201c" + platform::text::replaceIllFormedUtf8(item.name) +
           "\u201d: " + item.reason;
}

SharedInboxEntry entryFor(const SharedPayload& payload, size_t position, const std::string& title,
                          const std::string& note, const std::vector<std::string>& tags) {
    SharedInboxEntry entry;
    entry.id = payload.id();
    if (position == 0 && !title.empty())
        entry.title = title;
    entry.note = note;
    entry.tags = tags;
    applyContent(payload.content(), entry);
    return entry;
}

std::optional<std::string> saveToInbox(const std::vector<SharedPayload>& payloads,
                                       const ShareForm& form, const platform::Env& env,
                                       platform::FileSystem& fileSystem) {
    std::vector<std::string> tags = parseTags(form.tags);
    std::string title = trimmedTitle(form.title);
    for (size_t position = 0; position < payloads.size(); ++position) {
        const SharedPayload& payload = payloads[position];
        SharedInboxEntry entry = entryFor(payload, position, title, form.note, tags);
        try {
            const auto* file = std::get_if<SharedPayload::File>(&payload.content());
            if (file && file->source) {
                // Streamed from the open file, never read whole. Opening the descriptor's
                // entry in /proc reads the very file that was opened, also when its name is
                // gone, from its start.
                SharedInbox::writeCopying(
                    entry, "/proc/self/fd/" + std::to_string(file->source->descriptor()), env,
                    fileSystem);
            } else {
                SharedInbox::write(entry, payloadBytes(payload.content()), env, fileSystem);
            }
        } catch (const std::exception& error) {
            return "Couldn't save: " + describe(error);
        }
    }
    return std::nullopt;
}

}  // namespace tavro::share::ui
