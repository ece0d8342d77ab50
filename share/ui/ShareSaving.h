// SPDX-License-Identifier: MIT
#pragma once
// What Save does with the form's text: the tag list, the title, and one inbox entry per
// payload. Shared by the sheet and the program's scriptable mode so that both write exactly
// the same entries.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Env.h"
#include "platform/FileSystem.h"
#include "share/SharePayloadLoader.h"
#include "share/SharedInboxEntry.h"
#include "share/SharedPayload.h"

namespace tavro::share::ui {

// The tags text split at every ",", each piece trimmed of horizontal white space (spaces and
// tabs, not line breaks); empty pieces are dropped. Order, duplicates and case are kept.
std::vector<std::string> parseTags(std::string_view tags);

// The title with horizontal white space trimmed from both ends.
std::string trimmedTitle(std::string_view title);

// The entry for the payload at `position`: the payload's id, the title on the first entry
// only (when not empty), the note as typed, the tags, and the payload's content.
SharedInboxEntry entryFor(const SharedPayload& payload, size_t position, const std::string& title,
                          const std::string& note, const std::vector<std::string>& tags);

// The line that tells the user about an attachment that could not be read.
std::string unreadDescription(const SharePayloadLoader::Unread& item);

// The form's input, as typed.
struct ShareForm {
    std::string title;
    std::string tags;
    std::string note;
};

// Writes one entry per payload, in order, and stops at the first failure. Returns nothing when
// every entry was written, else the text the sheet shows: "Couldn't save: " and the error's
// description. Entries written before the failure stay; writing again reuses the same ids and
// so overwrites them in place. The inbox is the one `env` provisions (the running process's
// own when none is given).
std::optional<std::string> saveToInbox(
    const std::vector<SharedPayload>& payloads, const ShareForm& form, const platform::Env& env,
    platform::FileSystem& fileSystem = platform::FileSystem::real());
inline std::optional<std::string> saveToInbox(
    const std::vector<SharedPayload>& payloads, const ShareForm& form,
    platform::FileSystem& fileSystem = platform::FileSystem::real()) {
    return saveToInbox(payloads, form, platform::Env::real(), fileSystem);
}

}  // namespace tavro::share::ui
