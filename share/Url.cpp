// SPDX-License-Identifier: MIT
#include "share/Url.h"

#include "platform/Url.h"

#include <uriparser/Uri.h>

#include <memory>
#include <vector>

namespace tavro::share {

namespace {

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
    // One parser for every address in the system; shared content keeps only its text and scheme.
    auto parsed = platform::Url::parse(text);
    if (!parsed)
        return std::nullopt;
    return Url(parsed->absoluteString(), parsed->scheme());
}

Url Url::fromFilePath(std::string_view absolutePath) {
    std::string path(absolutePath);
    std::vector<char> buffer(path.size() * 3 + 8);
    if (uriUnixFilenameToUriStringA(path.c_str(), buffer.data()) != URI_SUCCESS) {
        auto parsed = platform::Url::parse("file://" + path);
        return Url(parsed ? parsed->absoluteString() : "file://" + path, std::string("file"));
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
