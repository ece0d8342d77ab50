// SPDX-License-Identifier: MIT
// Asset files read ahead on a thread of their own give the exchange exactly what reading each
// on the spot would: the same contents, the same first error in applying order, and no error
// from a file the exchange never asks for.

#include <gtest/gtest.h>

#include "exchange/Asset.h"
#include "exchange/AssetLookahead.h"
#include "platform/Sha256.h"
#include "support/ExchangeFixture.h"

namespace tavro::test {
namespace {

namespace json = platform::json;

std::string uuidOf(int index) {
    char text[37];
    std::snprintf(text, sizeof text, "40000000-0000-0000-0000-%012d", index);
    return text;
}

class AssetLookaheadTest : public ExchangeFixture {};

TEST_F(AssetLookaheadTest, ContentsAreThoseOfTheFilesAndUnaskedFilesFailNothing) {
    const std::string stored = uuidOf(0);
    exchange({thing(stored, {{"updatedAt", 2000}, {"data", writeAsset("kept", "kept")}})});
    json::Array records;
    // Older than the store: skipped after its "data" is read, so its thumbnail never is.
    records.push_back(thing(stored, {{"updatedAt", 1000},
                                     {"data", writeAsset("kept", "kept")},
                                     {"thumbnail", "/etc/hostname"}}));
    json::Object gone = deleted("Thing", uuidOf(1));
    gone.push_back({"data", "/etc/hostname"});
    records.push_back(std::move(gone));
    for (int i = 2; i < 40; ++i) {
        const std::string name = std::to_string(i);
        records.push_back(thing(uuidOf(i), {{"data", writeAsset("d" + name, name)},
                                            {"thumbnail", writeAsset("t" + name, "t" + name)}}));
    }
    auto response = exchange(std::move(records));
    for (int i = 2; i < 40; ++i) {
        auto record = response->record(uuidOf(i));
        ASSERT_TRUE(record);
        EXPECT_EQ(fileSystem_->readFile(textOf(*record, "data")), std::to_string(i));
        EXPECT_EQ(fileSystem_->readFile(textOf(*record, "thumbnail")), "t" + std::to_string(i));
    }
}

TEST_F(AssetLookaheadTest, TheFirstBadFileInApplyingOrderIsTheOneReported) {
    const std::string missing = directory_ + "/missing.png";
    const std::string missingError = exchangeError({thing(uuidOf(1), {{"thumbnail", missing}})});
    ASSERT_NE(missingError, "Invalid asset path.");
    auto request = [&](bool missingFirst) {
        json::Array records;
        for (int i = 0; i < 30; ++i) {
            records.push_back(thing(uuidOf(10 + i), {{"data", writeAsset("f", "f")}}));
        }
        records.push_back(thing(uuidOf(1), {{"thumbnail", missing}}));
        records.push_back(thing(uuidOf(2), {{"data", "/etc/hostname"}}));
        if (!missingFirst) {
            std::swap(records[30], records[31]);
        }
        return records;
    };
    EXPECT_EQ(exchangeError(request(true)), missingError);
    EXPECT_EQ(exchangeError(request(false)), "Invalid asset path.");
}

TEST_F(AssetLookaheadTest, AValueTheThreadPassedByIsReadOnTheSpot) {
    json::Parser parser;
    const std::string text = json::write(
        json::Array{json::Object{{"recordType", "Thing"}, {"data", writeAsset("a", "first")}},
                    json::Object{{"recordType", "Other"}, {"data", writeAsset("b", "second")}}});
    std::vector<json::ObjectView> records;
    const json::ArrayView array = *json::asArray(parser.parse(text));
    for (json::Element element : array) {
        records.push_back(*json::asObject(element));
    }
    exchange::AssetReader reader(*fileSystem_, directory_);
    exchange::AssetLookahead lookahead(reader, records, [](const json::Fields& record) {
        return json::asString(record.get("recordType")) == "Thing";
    });
    // Asked out of the thread's order: the first is let go, the second was never read ahead.
    auto second = reader.read(json::Fields(records[1]), "data");
    auto first = reader.read(json::Fields(records[0]), "data");
    ASSERT_TRUE(second && first);
    EXPECT_EQ(second->sha256, platform::sha256Hex("second"));
    EXPECT_EQ(first->sha256, platform::sha256Hex("first"));
}

}  // namespace
}  // namespace tavro::test
