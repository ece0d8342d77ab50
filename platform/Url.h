// SPDX-License-Identifier: MIT
#pragma once
// A web address parsed by RFC 3986 (uriparser), for code below the share side that reads an
// address's parts. Characters an address may not hold (space, quotes, angle brackets,
// non-ASCII, a "%" that starts no escape) are percent-encoded as UTF-8 rather than refused, as
// the platform's parser does; an empty text or a malformed authority does not parse.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::platform {

class Url {
  public:
    // Nothing when the text does not parse.
    static std::optional<Url> parse(std::string_view text);

    // The input as given, with disallowed characters percent-encoded.
    const std::string& absoluteString() const { return text_; }
    // The scheme as written; nothing for a relative reference.
    const std::optional<std::string>& scheme() const { return scheme_; }
    // The host as written (case kept, percent-decoded), without user or port; nothing for an
    // address without authority ("mailto:a@b.c") or with an empty one ("file:///srv/x").
    const std::optional<std::string>& host() const { return host_; }
    // "/" first for an absolute path, then the non-empty segments, percent-decoded, "." and
    // ".." kept: "/owner/repo/" -> {"/", "owner", "repo"}; an empty path gives none.
    const std::vector<std::string>& pathComponents() const { return pathComponents_; }

    bool operator==(const Url& other) const { return text_ == other.text_; }

  private:
    Url() = default;

    std::string text_;
    std::optional<std::string> scheme_;
    std::optional<std::string> host_;
    std::vector<std::string> pathComponents_;
};

}  // namespace tavro::platform
