// SPDX-License-Identifier: MIT
// Feeds arbitrary bytes through everything a request meets before the store: UTF-8 repair,
// parsing, validation and the readers of every record key. Nothing may crash or leak; errors
// are the expected answer to most inputs.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "exchange/ExchangeRequest.h"
#include "exchange/RecordReaders.h"
#include "model/ProjectFields.h"
#include "model/TagFields.h"
#include "model/ThingFields.h"
#include "platform/Error.h"
#include "platform/Json.h"
#include "platform/Text.h"

namespace {

// Reads every key of every record type's field table with the reader its type calls for,
// so a new field is fuzzed as soon as it is described.
template <typename Table>
void readTableKeys(const tavro::platform::json::Fields& record, const Table& table) {
    namespace json = tavro::platform::json;
    namespace fields = tavro::model::fields;
    using tavro::exchange::date;
    using tavro::exchange::optionalDate;
    using tavro::exchange::optionalUUID;
    using tavro::exchange::string;
    fields::forEach(table, [&](const auto& entry) {
        if constexpr (!fields::kIsInverse<decltype(entry)>) {
            switch (entry.storage) {
                case fields::Storage::Text:
                case fields::Storage::Bytes:
                    (void)string(record, entry.key);
                    break;
                case fields::Storage::Integer:
                    (void)json::asInteger(record.get(entry.key));
                    break;
                case fields::Storage::Real:
                    (void)json::asDouble(record.get(entry.key));
                    break;
                case fields::Storage::Boolean:
                    (void)json::asBoolean(record.get(entry.key));
                    break;
                case fields::Storage::Time:
                case fields::Storage::OptionalTime:
                    (void)date(record, entry.key);
                    (void)optionalDate(record, entry.key);
                    break;
                case fields::Storage::Uuid:
                case fields::Storage::ToOne:
                    (void)optionalUUID(record.get(entry.key));
                    break;
                case fields::Storage::ToMany:
                    if (auto items = json::asArray(record.get(entry.key))) {
                        for (auto element : *items) {
                            (void)optionalUUID(element);
                        }
                    }
                    break;
            }
        }
    });
}

void readEveryKey(const tavro::platform::json::Fields& record) {
    using namespace tavro::exchange;
    for (const char* key : {"recordType", "baseFileFingerprint"}) {
        (void)string(record, key);
    }
    readTableKeys(record, tavro::model::fields::kThingFields);
    readTableKeys(record, tavro::model::fields::kTagFields);
    readTableKeys(record, tavro::model::fields::kProjectFields);
    (void)isDeleted(record);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tavro::platform::json::Parser parser;
    // As the bridge hands a request over: repaired, padded and parsed where it lies.
    auto text = tavro::platform::json::PaddedText::copyOf(
        std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        auto request = tavro::exchange::ExchangeRequest::parse(parser, std::move(text));
        tavro::platform::json::Fields record;
        for (auto object : request.records()) {
            record.assign(object);
            readEveryKey(record);
        }
        (void)request.knownFingerprints().size();
    } catch (const tavro::platform::Error&) {
    }
    return 0;
}
