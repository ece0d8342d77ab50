// SPDX-License-Identifier: MIT
#pragma once
// A fresh store and exchange directory per test, and the exchange body run directly on them:
// requests are built as JSON values, responses parsed back for assertions.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "exchange/ExchangeResponse.h"
#include "exchange/RecordMemo.h"
#include "platform/FileSystem.h"
#include "platform/Json.h"
#include "store/Store.h"
#include "support/TempDir.h"

namespace tavro::test {

// A parsed response (or any JSON text) that keeps its document alive.
class Parsed {
  public:
    explicit Parsed(std::string text);
    const std::string& text() const { return text_; }
    platform::json::Element root() const { return root_; }
    // The top-level object.
    platform::json::ObjectView top() const;

    // The records of one type, in response order.
    std::vector<platform::json::ObjectView> records(std::string_view type) const;
    // The record with this identifier (any case), or nothing.
    std::optional<platform::json::ObjectView> record(std::string_view uuid) const;

  private:
    std::string text_;
    platform::json::Parser parser_;
    platform::json::Element root_;
};

// Member access on a parsed object with readable failures; each reads only its own JSON type.
std::string textOf(platform::json::ObjectView object, std::string_view key);
int64_t integerOf(platform::json::ObjectView object, std::string_view key);
double numberOf(platform::json::ObjectView object, std::string_view key);
bool booleanOf(platform::json::ObjectView object, std::string_view key);
platform::json::ArrayView arrayOf(platform::json::ObjectView object, std::string_view key);
bool has(platform::json::ObjectView object, std::string_view key);

class ExchangeFixture : public ::testing::Test {
  protected:
    void SetUp() override;

    // Runs the exchange body with these records and, when given, known fingerprints.
    std::unique_ptr<Parsed> exchange(platform::json::Array records,
                                     std::optional<platform::json::Object> known = std::nullopt);
    // Runs it expecting a failure; answers the user's description of it.
    std::string exchangeError(platform::json::Array records);

    // A file in the exchange directory (or under `relative` of it).
    std::string writeAsset(const std::string& relative, const std::string& bytes);

    // Every "Thing:<id>" -> "fingerprint" of a response, as a host sends them back.
    static platform::json::Object knownFingerprints(const Parsed& response);

    std::string requestText(platform::json::Array records,
                            std::optional<platform::json::Object> known) const;

    TempDir temp_;
    std::string lastRequest_;  // the text of the latest exchange(), for the wire-format check
    std::string storePath_;
    std::string directory_;
    std::unique_ptr<store::Store> store_;
    platform::FileSystem* fileSystem_ = &platform::FileSystem::real();
    exchange::SyncStatus sync_{"iCloud enabled \u2014 waiting for sync", std::nullopt};
    // Kept from exchange to exchange, as the store owner keeps it.
    exchange::RecordMemo memo_;
};

// Record builders for requests.
platform::json::Object project(const std::string& uuid, platform::json::Object fields = {});
platform::json::Object tag(const std::string& uuid, platform::json::Object fields = {});
platform::json::Object thing(const std::string& uuid, platform::json::Object fields = {});
platform::json::Object deleted(const std::string& type, const std::string& uuid);

}  // namespace tavro::test
