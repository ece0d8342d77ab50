#include "support/ExchangeFixture.h"

#include "bridge/ErrorEnvelope.h"
#include "platform/BridgeError.h"
#include "platform/CloudErrorDescription.h"
#include "platform/Paths.h"
#include "exchange/ExchangeBody.h"
#include "exchange/ExchangeRequest.h"
#include "support/WireCapture.h"

namespace tavro::test {

namespace json = platform::json;

Parsed::Parsed(std::string text) : text_(std::move(text)) {
    root_ = parser_.parse(text_);
}

std::vector<simdjson::dom::object> Parsed::records(std::string_view type) const {
    std::vector<simdjson::dom::object> result;
    for (simdjson::dom::element element : root_["records"].get_array()) {
        simdjson::dom::object record = element.get_object();
        if (std::string_view(record["recordType"]) == type) {
            result.push_back(record);
        }
    }
    return result;
}

std::optional<simdjson::dom::object> Parsed::record(std::string_view uuid) const {
    std::string lower(uuid);
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (simdjson::dom::element element : root_["records"].get_array()) {
        simdjson::dom::object record = element.get_object();
        if (std::string_view(record["uuid"]) == lower) {
            return record;
        }
    }
    return std::nullopt;
}

std::string textOf(simdjson::dom::object object, std::string_view key) {
    auto value = object[key];
    if (value.error() || !value.is_string()) {
        ADD_FAILURE() << "no text under " << key;
        return {};
    }
    return std::string(std::string_view(value));
}

int64_t integerOf(simdjson::dom::object object, std::string_view key) {
    auto value = object[key];
    if (value.error() || !value.is_int64()) {
        ADD_FAILURE() << "no integer under " << key;
        return 0;
    }
    return int64_t(value);
}

bool has(simdjson::dom::object object, std::string_view key) {
    return !object[key].error();
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
    std::string response = exchange::runExchangeBody(*store_, request, *fileSystem_, sync_);
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
