// SPDX-License-Identifier: MIT
#include "exchange/ExchangeRequest.h"

#include "platform/BridgeError.h"

namespace tavro::exchange {

namespace json = platform::json;

namespace {

[[noreturn]] void invalidRequest() {
    throw platform::BridgeError(platform::message::kInvalidBridgeRequest);
}

std::unordered_map<std::string_view, std::string_view> readKnownFingerprints(
    const json::Fields& top) {
    std::unordered_map<std::string_view, std::string_view> known;
    auto object = json::asObject(top.get("knownFingerprints"));
    if (!object) {
        return known;
    }
    known.reserve(object->size());
    for (auto field : *object) {
        auto text = json::asString(field.value);
        if (!text) {
            return {};  // one value that is not text voids the whole map
        }
        // Of duplicate keys the last wins, as everywhere in the request.
        known.insert_or_assign(field.key, *text);
    }
    return known;
}

}  // namespace

ExchangeRequest ExchangeRequest::parse(json::Parser& parser, std::string_view text) {
    return parse(parser, json::PaddedText::copyOf(text));
}

ExchangeRequest ExchangeRequest::parse(json::Parser& parser, json::PaddedText text) {
    json::Element root = parser.parse(text);
    auto object = json::asObject(root);
    if (!object) {
        invalidRequest();
    }
    json::Fields top(*object);
    if (json::asInteger(top.get("version")) != int64_t{1}) {
        invalidRequest();
    }
    auto storePath = json::asString(top.get("storePath"));
    auto directory = json::asString(top.get("directory"));
    auto records = json::asArray(top.get("records"));
    if (!storePath || !directory || !records) {
        invalidRequest();
    }

    ExchangeRequest request;
    request.parser_ = &parser;
    request.storePath_ = *storePath;
    request.directory_ = *directory;
    request.records_.reserve(records->size());
    for (json::Element element : *records) {
        auto record = json::asObject(element);
        if (!record) {
            invalidRequest();
        }
        request.records_.push_back(*record);
    }
    request.knownFingerprints_ = readKnownFingerprints(top);
    request.text_ = std::move(text);  // the document holds copies of the texts it needs
    return request;
}

void ExchangeRequest::releaseText() {
    text_.release();
    if (parser_ != nullptr) {
        parser_->releaseLargeInput();
    }
}

void ExchangeRequest::finishReadingRecords() {
    if (parser_ == nullptr) {
        return;  // done before
    }
    size_t bytes = 0;
    for (const auto& [key, value] : knownFingerprints_) {
        bytes += key.size() + value.size();
    }
    knownBytes_.reserve(bytes);  // never reallocated below: the views stay where they were put
    std::unordered_map<std::string_view, std::string_view> known;
    known.reserve(knownFingerprints_.size());
    for (const auto& [key, value] : knownFingerprints_) {
        const char* at = knownBytes_.data() + knownBytes_.size();
        knownBytes_.insert(knownBytes_.end(), key.begin(), key.end());
        knownBytes_.insert(knownBytes_.end(), value.begin(), value.end());
        known.emplace(std::string_view(at, key.size()),
                      std::string_view(at + key.size(), value.size()));
    }
    knownFingerprints_ = std::move(known);
    std::vector<json::ObjectView>().swap(records_);
    parser_->releaseLargeDocument();
    parser_ = nullptr;
}

}  // namespace tavro::exchange
