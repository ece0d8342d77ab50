// SPDX-License-Identifier: MIT
#pragma once
// A URL as shared content carries it: parsed by RFC 3986, kept as its absolute text. Characters
// a URL may not hold (spaces, quotes, angle brackets, non-ASCII, a "%" that starts no escape)
// are percent-encoded as UTF-8 rather than refused, as the platform's parser does; a malformed
// authority or an empty text does not parse.

#include <optional>
#include <string>
#include <string_view>

namespace tavro::share {

class Url {
  public:
    // A URL or relative reference; nothing when the text does not parse.
    static std::optional<Url> parse(std::string_view text);
    // The file URL of an absolute path ("file:///a%20b" for "/a b").
    static Url fromFilePath(std::string_view absolutePath);

    const std::string& absoluteString() const { return text_; }
    // The scheme as written ("HTTPS" stays upper case); nothing for a relative reference.
    const std::optional<std::string>& scheme() const { return scheme_; }
    bool isFileURL() const;
    // The percent-decoded path of a file URL ("/a b"); empty for other URLs.
    std::string filePath() const;

    bool operator==(const Url& other) const { return text_ == other.text_; }

  private:
    Url(std::string text, std::optional<std::string> scheme)
        : text_(std::move(text)), scheme_(std::move(scheme)) {}

    std::string text_;
    std::optional<std::string> scheme_;
};

}  // namespace tavro::share
