// SPDX-License-Identifier: MIT
#pragma once
// Helpers for the share sheet's tests: payloads and attachments of each kind, an attachment
// that holds loading until released, waiting for the form to apply a load, and reading the
// inbox back.

#include <QCoreApplication>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "platform/TypeIdentifiers.h"
#include "share/ExtensionItem.h"
#include "share/LocalItemProvider.h"
#include "share/SharedInbox.h"
#include "share/SharedPayload.h"
#include "share/ui/ShareView.h"

namespace tavro::testing {

inline share::SharedPayload urlPayload(const std::string& url) {
    return share::SharedPayload(share::SharedPayload::Url{*share::Url::parse(url)});
}

inline share::SharedPayload textPayload(const std::string& text) {
    return share::SharedPayload(share::SharedPayload::Text{text});
}

inline share::SharedPayload filePayload(const std::string& name, const std::string& bytes,
                                        const std::string& type = "public.png") {
    return share::SharedPayload(
        share::SharedPayload::File{std::make_shared<const std::string>(bytes), name, type, {}});
}

inline share::ExtensionItem itemWith(std::shared_ptr<share::ItemProvider> provider) {
    share::ExtensionItem item;
    item.attachments = std::vector<std::shared_ptr<share::ItemProvider>>{std::move(provider)};
    return item;
}

inline share::ExtensionItem textItem(const std::string& text) {
    return itemWith(share::LocalItemProvider::forText(text));
}

// Text that is delivered only once the test releases it: the form stays in its Loading state
// for as long as the test needs.
class GatedProvider : public share::LocalItemProvider {
  public:
    explicit GatedProvider(std::string text) {
        registerItem(platform::UniformType::utf8PlainText().identifier(), std::move(text));
    }
    ~GatedProvider() override { release(); }

    void release() {
        if (!released_) {
            released_ = true;
            gate_.set_value();
        }
    }
    void loadItem(const std::string& type, ItemCompletion completion) override {
        opened_.wait();
        LocalItemProvider::loadItem(type, std::move(completion));
    }

  private:
    std::promise<void> gate_;
    std::shared_future<void> opened_ = gate_.get_future().share();
    bool released_ = false;
};

// Processes events until the form has applied every load; no time limit (the test runner
// has one).
inline void waitForLoading(const share::ui::ShareView& view) {
    while (view.isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

// The complete entries in the inbox `env` provisions, by upper-case id.
inline std::map<std::string, share::SharedInboxEntry> inboxEntries(const platform::Env& env) {
    std::map<std::string, share::SharedInboxEntry> entries;
    for (auto& pending : share::SharedInbox::pendingEntries(env))
        entries.emplace(pending.entry.id.uppercase(), pending.entry);
    return entries;
}

inline size_t entryFolderCount(const std::string& inbox) {
    if (!std::filesystem::exists(inbox))
        return 0;
    size_t count = 0;
    for ([[maybe_unused]] const auto& child : std::filesystem::directory_iterator(inbox))
        ++count;
    return count;
}

}  // namespace tavro::testing
