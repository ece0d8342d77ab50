// SPDX-License-Identifier: MIT
#include "support/ExchangeFixture.h"

#include <stdexcept>
#include <variant>

#include "bridge/ErrorEnvelope.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "platform/BridgeError.h"
#include "platform/CloudErrorDescription.h"
#include "platform/Paths.h"
#include "support/WireCapture.h"

namespace tavro::test {

namespace json = platform::json;

Parsed::Parsed(std::string text) : text_(std::move(text)) {
    root_ = parser_.parse(text_);
}

namespace {

// What a response must hold for the test to go on at all: failing here ends the test, as an
// exception does.
json::ObjectView objectOf(json::Element element) {
    auto object = json::asObject(element);
    if (!object) {
        throw std::runtime_error("not an object");
    }
    return *object;
}

}  // namespace

json::ObjectView Parsed::top() const {
    return objectOf(root_);
}

std::vector<json::ObjectView> Parsed::records(std::string_view type) const {
    std::vector<json::ObjectView> result;
    for (json::Element element : arrayOf(top(), "records")) {
        json::ObjectView record = objectOf(element);
        if (json::asString(json::member(record, "recordType")) == type) {
            result.push_back(record);
        }
    }
    return result;
}

std::optional<json::ObjectView> Parsed::record(std::string_view uuid) const {
    std::string lower(uuid);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (json::Element element : arrayOf(top(), "records")) {
        json::ObjectView record = objectOf(element);
        if (json::asString(json::member(record, "uuid")) == lower) {
            return record;
        }
    }
    return std::nullopt;
}

namespace {

// The member as a tree, when it is present and holds a `T`.
template <typename T>
std::optional<T> memberOf(json::ObjectView object, std::string_view key) {
    auto value = json::member(object, key);
    if (!value) {
        return std::nullopt;
    }
    json::Value tree = json::toValue(*value);
    if (auto* held = std::get_if<T>(&tree.storage())) {
        return std::move(*held);
    }
    return std::nullopt;
}

}  // namespace

std::string textOf(json::ObjectView object, std::string_view key) {
    auto value = memberOf<std::string>(object, key);
    if (!value) {
        ADD_FAILURE() << "no text under " << key;
        return {};
    }
    return *value;
}

int64_t integerOf(json::ObjectView object, std::string_view key) {
    auto value = memberOf<int64_t>(object, key);
    if (!value) {
        ADD_FAILURE() << "no integer under " << key;
        return 0;
    }
    return *value;
}

double numberOf(json::ObjectView object, std::string_view key) {
    auto value = json::asDouble(json::member(object, key));
    if (!value) {
        ADD_FAILURE() << "no number under " << key;
        return 0;
    }
    return *value;
}

bool booleanOf(json::ObjectView object, std::string_view key) {
    auto value = memberOf<bool>(object, key);
    if (!value) {
        ADD_FAILURE() << "no boolean under " << key;
        return false;
    }
    return *value;
}

json::ArrayView arrayOf(json::ObjectView object, std::string_view key) {
    auto value = json::asArray(json::member(object, key));
    if (!value) {
        throw std::runtime_error("no array under " + std::string(key));
    }
    return *value;
}

bool has(json::ObjectView object, std::string_view key) {
    return json::member(object, key).has_value();
}

void ExchangeFixture::SetUp() {
    storePath_ = platform::paths::join(temp_.path(), "container/Library/Tavro.store");
    directory_ = platform::paths::join(temp_.path(), "exchange");
    platform::FileSystem::real().createDirectories(platform::paths::parent(storePath_));
    platform::FileSystem::real().createDirectories(directory_);
    store_ = store::Store::open(storePath_);
}

std::string ExchangeFixture::requestText(json::Array records,
                                         std::optional<json::Object> known) const {
    json::Object request{{"version", 1},
                         {"storePath", storePath_},
                         {"directory", directory_},
                         {"records", std::move(records)}};
    if (known) {
        request.push_back({"knownFingerprints", std::move(*known)});
    }
    return json::write(request);
}

std::unique_ptr<Parsed> ExchangeFixture::exchange(json::Array records,
                                                  std::optional<json::Object> known) {
    json::Parser parser;
    lastRequest_ = requestText(std::move(records), std::move(known));
    auto request = exchange::ExchangeRequest::parse(parser, lastRequest_);
    std::string response =
        exchange::runExchangeBody(*store_, request, *fileSystem_, sync_, nullptr, &memo_);
    captureWireText(WireText::Request, lastRequest_);
    captureWireText(WireText::Response, response);
    return std::make_unique<Parsed>(std::move(response));
}

std::string ExchangeFixture::exchangeError(json::Array records) {
    try {
        exchange(std::move(records));
    } catch (const platform::Error& error) {
        // The envelope the bridge would answer with; a request refused for its shape must also
        // be refused by the request schema.
        captureWireText(WireText::Envelope, bridge::errorEnvelope(error));
        std::string description = platform::cloudErrorDescription(error.value());
        namespace message = platform::message;
        if (description == message::kInvalidBridgeRequest ||
            description == message::kInvalidRecordIdentifier ||
            description == message::kUnknownRecordType) {
            captureWireText(WireText::RefusedRequest, lastRequest_);
        }
        return description;
    }
    ADD_FAILURE() << "the exchange succeeded";
    return {};
}

std::string ExchangeFixture::writeAsset(const std::string& relative, const std::string& bytes) {
    std::string path = platform::paths::join(directory_, relative);
    platform::FileSystem::real().createDirectories(platform::paths::parent(path));
    platform::FileSystem::real().writeFileAtomically(path, bytes);
    return path;
}

json::Object ExchangeFixture::knownFingerprints(const Parsed& response) {
    json::Object known;
    for (auto record : response.records("Thing")) {
        known.push_back({"Thing:" + textOf(record, "uuid"), textOf(record, "fingerprint")});
    }
    return known;
}

namespace {

json::Object record(const char* type, const std::string& uuid, json::Object fields) {
    json::Object object{{"recordType", type}, {"uuid", uuid}};
    for (auto& field : fields) {
        object.push_back(std::move(field));
    }
    return object;
}

}  // namespace

json::Object project(const std::string& uuid, json::Object fields) {
    return record("Project", uuid, std::move(fields));
}
json::Object tag(const std::string& uuid, json::Object fields) {
    return record("Tag", uuid, std::move(fields));
}
json::Object thing(const std::string& uuid, json::Object fields) {
    return record("Thing", uuid, std::move(fields));
}
json::Object deleted(const std::string& type, const std::string& uuid) {
    return json::Object{{"recordType", type}, {"uuid", uuid}, {"deleted", true}};
}

}  // namespace tavro::test
