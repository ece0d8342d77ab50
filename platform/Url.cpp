// SPDX-License-Identifier: MIT
#include "platform/Url.h"

#include <uriparser/Uri.h>

namespace tavro::platform {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool mustBeEncoded(unsigned char c) {
    static constexpr std::string_view kDisallowed = " \"<>\\^`{|}";
    return c < 0x20 || c >= 0x7f || kDisallowed.find(static_cast<char>(c)) != std::string::npos;
}

// Encodes what RFC 3986 does not allow anywhere, so that text people paste still parses.
std::string encodeDisallowed(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        bool strayPercent = c == '%' && !(i + 2 < text.size() && isHexDigit(text[i + 1]) &&
                                          isHexDigit(text[i + 2]));
        if (mustBeEncoded(c) || strayPercent) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

std::string decoded(const UriTextRangeA& range) {
    std::string part(range.first, range.afterLast);
    const char* end = uriUnescapeInPlaceExA(part.data(), URI_FALSE, URI_BR_DONT_TOUCH);
    part.resize(static_cast<size_t>(end - part.data()));
    return part;
}

bool hasText(const UriTextRangeA& range) {
    return range.first != nullptr && range.afterLast != range.first;
}

// Owns uriparser's members for the length of one parse.
struct ParsedUri {
    UriUriA uri{};
    bool ok = false;
    explicit ParsedUri(const std::string& text) {
        const char* errorPosition = nullptr;
        ok = uriParseSingleUriA(&uri, text.c_str(), &errorPosition) == URI_SUCCESS;
    }
    ~ParsedUri() {
        if (ok) {
            uriFreeUriMembersA(&uri);
        }
    }
    ParsedUri(const ParsedUri&) = delete;
    ParsedUri& operator=(const ParsedUri&) = delete;
};

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    Url url;
    url.text_ = encodeDisallowed(text);
    ParsedUri parsed(url.text_);
    if (!parsed.ok) {
        return std::nullopt;
    }
    const UriUriA& uri = parsed.uri;
    if (uri.scheme.first != nullptr) {
        url.scheme_.emplace(uri.scheme.first, uri.scheme.afterLast);
    }
    if (hasText(uri.hostText)) {
        url.host_ = decoded(uri.hostText);
    }
    // With an authority a non-empty path is always absolute; without one uriparser says so.
    const bool hasAuthority = uri.hostText.first != nullptr || uri.hostData.ip4 != nullptr ||
                              uri.hostData.ip6 != nullptr || uri.hostData.ipFuture.first != nullptr;
    if ((uri.pathHead != nullptr && hasAuthority) || uri.absolutePath == URI_TRUE) {
        url.pathComponents_.emplace_back("/");
    }
    for (const UriPathSegmentA* segment = uri.pathHead; segment != nullptr;
         segment = segment->next) {
        if (segment->text.first != segment->text.afterLast) {
            url.pathComponents_.push_back(decoded(segment->text));
        }
    }
    return url;
}

}  // namespace tavro::platform
