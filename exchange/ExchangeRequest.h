// SPDX-License-Identifier: MIT
#pragma once
// The request of one exchange, parsed and validated: a JSON object with "version" 1, the
// "storePath" and "directory" texts and a "records" array of objects. Everything else in it
// ("knownFingerprints", the records' own keys) is read later, by the steps that use it, through
// the readers in RecordReaders.h.
//
// The records point into the parser's document: they are valid until the parser parses the
// next one, or until finishReadingRecords(). Used on the executor thread only.

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/Json.h"

namespace tavro::exchange {

class ExchangeRequest {
  public:
    // Parses `text` where it lies, holds it until releaseText(), and validates the top level.
    // Throws the JSON parser's error for text that is not JSON, and "Invalid bridge request."
    // for a request of the wrong shape.
    static ExchangeRequest parse(platform::json::Parser& parser, platform::json::PaddedText text);
    // The same for a text given as a view, copied first.
    static ExchangeRequest parse(platform::json::Parser& parser, std::string_view text);

    std::string_view storePath() const { return storePath_; }
    std::string_view directory() const { return directory_; }
    // The records in request order; a step reads one through a json::Fields it indexes it in.
    const std::vector<platform::json::ObjectView>& records() const { return records_; }

    // Ends the records (and the parser's document, when large) once they have been applied:
    // the response that follows is as large again, and a large request's document need not
    // be held beside it. The known fingerprints are kept, in a copy of their own.
    void finishReadingRecords();
    // Lets go of the request text, and of the parser's copy of it, which it otherwise keeps for
    // the next request: for an exchange that will hold more than the next one would save (a
    // first import). The records stay valid.
    void releaseText();

    // "knownFingerprints": "Thing:<lower-case id>" -> fingerprint. Empty when the member is
    // absent, not an object, or any of its values is not text.
    const std::unordered_map<std::string_view, std::string_view>& knownFingerprints() const {
        return knownFingerprints_;
    }

  private:
    platform::json::Parser* parser_ = nullptr;
    platform::json::PaddedText text_;
    std::string storePath_;
    std::string directory_;
    std::vector<platform::json::ObjectView> records_;
    std::unordered_map<std::string_view, std::string_view> knownFingerprints_;
    // What knownFingerprints_ points into once the records are done (a vector: moving it
    // keeps its bytes where they are).
    std::vector<char> knownBytes_;
};

}  // namespace tavro::exchange
