// SPDX-License-Identifier: MIT
#pragma once
// A provider whose every answer the test sets: items and file representations per type, how
// completions are delivered (at once, from another thread, dropped, twice, or by throwing),
// and a record of what the loader asked for.

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "share/ItemProvider.h"

namespace tavro::testing {

class ScriptedItemProvider : public share::ItemProvider {
  public:
    enum class Delivery { Immediately, FromAnotherThread, Dropped, Twice, Throws };

    explicit ScriptedItemProvider(std::vector<std::string> types,
                                  std::optional<std::string> suggested = std::nullopt)
        : types_(std::move(types)), suggested_(std::move(suggested)) {}

    ScriptedItemProvider& item(const std::string& type, share::LoadedItem value) {
        items_[type] = std::move(value);
        return *this;
    }
    // A file representation: a temporary file `fileName` holding `bytes`, removed afterwards.
    ScriptedItemProvider& file(const std::string& type, const std::string& fileName,
                               const std::string& bytes) {
        files_[type] = {fileName, bytes};
        return *this;
    }
    ScriptedItemProvider& delivery(Delivery how) {
        delivery_ = how;
        return *this;
    }

    std::vector<std::string> registeredTypeIdentifiers() const override { return types_; }
    std::optional<std::string> suggestedName() const override { return suggested_; }

    void loadItem(const std::string& type, ItemCompletion completion) override {
        itemRequests.push_back(type);
        auto it = items_.find(type);
        deliver(std::move(completion), it == items_.end() ? share::LoadedItem{} : it->second);
    }

    void loadFileRepresentation(const std::string& type, FileCompletion completion) override {
        fileRequests.push_back(type);
        auto it = files_.find(type);
        if (it == files_.end())
            return deliver(std::move(completion), std::optional<std::string>());
        auto folder = std::filesystem::temp_directory_path() /
                      ("scripted-" + std::to_string(reinterpret_cast<uintptr_t>(this)));
        std::filesystem::create_directories(folder);
        std::string path = (folder / it->second.first).string();
        std::ofstream(path, std::ios::binary) << it->second.second;
        deliver(std::move(completion), std::optional<std::string>(path));
        std::filesystem::remove_all(folder);  // valid only during the callback
    }

    std::vector<std::string> itemRequests;
    std::vector<std::string> fileRequests;

  private:
    template <typename Completion, typename Value>
    void deliver(Completion completion, Value value) {
        switch (delivery_) {
            case Delivery::Immediately:
                return completion(value);
            case Delivery::FromAnotherThread:
                // Joined before returning so that a temporary file outlives the callback.
                return std::thread([&] { completion(value); }).join();
            case Delivery::Dropped:
                return;
            case Delivery::Twice:
                completion(value);
                return completion(Value{});
            case Delivery::Throws:
                throw std::runtime_error("provider failed");
        }
    }

    std::vector<std::string> types_;
    std::optional<std::string> suggested_;
    std::map<std::string, share::LoadedItem> items_;
    std::map<std::string, std::pair<std::string, std::string>> files_;
    Delivery delivery_ = Delivery::Immediately;
};

}  // namespace tavro::testing
