#include "share/Url.h"

#include <uriparser/Uri.h>

#include <memory>
#include <vector>

namespace tavro::share {

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool mustBeEncoded(unsigned char c) {
    static constexpr std::string_view kDisallowed = " \"<>\\^`{|}";
    return c < 0x20 || c >= 0x7f || kDisallowed.find(static_cast<char>(c)) != std::string::npos;
}

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

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        if (x != b[i])
            return false;
    }
    return true;
}

}  // namespace

std::optional<Url> Url::parse(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    std::string encoded = encodeDisallowed(text);
    UriUriA uri;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriA(&uri, encoded.c_str(), &errorPosition) != URI_SUCCESS) {
        return std::nullopt;
    }
    std::optional<std::string> scheme;
    if (uri.scheme.first != nullptr)
        scheme.emplace(uri.scheme.first, uri.scheme.afterLast);
    uriFreeUriMembersA(&uri);
    return Url(std::move(encoded), std::move(scheme));
}

Url Url::fromFilePath(std::string_view absolutePath) {
    std::string path(absolutePath);
    std::vector<char> buffer(path.size() * 3 + 8);
    if (uriUnixFilenameToUriStringA(path.c_str(), buffer.data()) != URI_SUCCESS) {
        return Url("file://" + encodeDisallowed(path), std::string("file"));
    }
    return Url(buffer.data(), std::string("file"));
}

bool Url::isFileURL() const {
    return scheme_ && equalsIgnoringAsciiCase(*scheme_, "file");
}

std::string Url::filePath() const {
    if (!isFileURL())
        return {};
    UriUriA uri;
    const char* errorPosition = nullptr;
    if (uriParseSingleUriA(&uri, text_.c_str(), &errorPosition) != URI_SUCCESS)
        return {};
    // Each segment is decoded on its own, so an escaped "/" or "?" stays inside its segment.
    std::string path;
    for (UriPathSegmentA* segment = uri.pathHead; segment != nullptr; segment = segment->next) {
        std::string part(segment->text.first, segment->text.afterLast);
        part.resize(static_cast<size_t>(uriUnescapeInPlaceA(part.data()) - part.data()));
        path += "/" + part;
    }
    uriFreeUriMembersA(&uri);
    return path.empty() ? "/" : path;
}

}  // namespace tavro::share
