// Feeds arbitrary bytes through everything a request meets before the store: UTF-8 repair,
// parsing, validation and the readers of every record key. Nothing may crash or leak; errors
// are the expected answer to most inputs.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/Error.h"
#include "platform/Json.h"
#include "platform/Text.h"
#include "exchange/ExchangeRequest.h"
#include "exchange/RecordReaders.h"

namespace {

void readEveryKey(const tavro::platform::json::Fields& record) {
    namespace json = tavro::platform::json;
    using namespace tavro::store;
    for (const char* key :
         {"kind", "title", "subtitle", "content", "note", "urlString", "fileName", "typeIdentifier",
          "metadataJson", "name", "linkedFolderOwner", "recordType", "baseFileFingerprint"}) {
        (void)string(record, key);
    }
    for (const char* key : {"createdAt", "updatedAt", "trashedAt"}) {
        (void)date(record, key);
        (void)optionalDate(record, key);
    }
    for (const char* key : {"uuid", "parent", "project"}) {
        (void)optionalUUID(record.get(key));
    }
    (void)json::asInteger(record.get("fileSize"));
    (void)json::asInteger(record.get("sortOrder"));
    (void)json::asDouble(record.get("aspectRatio"));
    (void)json::asBoolean(record.get("isStarred"));
    (void)isDeleted(record);
    if (auto tags = json::asArray(record.get("tags"))) {
        for (auto element : *tags) {
            (void)optionalUUID(element);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static tavro::platform::json::Parser parser;
    std::string text = tavro::platform::text::replaceIllFormedUtf8(
        std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        auto request = tavro::exchange::ExchangeRequest::parse(parser, text);
        for (const auto& record : request.records()) {
            readEveryKey(record);
        }
        (void)request.knownFingerprints().size();
    } catch (const tavro::platform::Error&) {
    }
    return 0;
}
