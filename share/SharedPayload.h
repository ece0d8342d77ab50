// SPDX-License-Identifier: MIT
#pragma once
// One thing the user shared, for the life of one share sheet: a link, a piece of text, or a
// file (images arrive as files). Immutable; copies share the file's bytes or open file.

#include <memory>
#include <string>
#include <variant>

#include "platform/FileSystem.h"
#include "platform/Uuid.h"
#include "share/Url.h"

namespace tavro::share {

class SharedPayload {
  public:
    // The three cases, named after the content they carry.
    struct Url {
        share::Url url;  // never a local file URL: the loader turns those into files
    };
    struct Text {
        std::string text;
    };
    struct File {
        // Bytes a provider handed over in memory (a pasted picture, standard input), or none.
        std::shared_ptr<const std::string> data;
        std::string name;            // the file name to store it under
        std::string typeIdentifier;  // the uniform type of the bytes
        // A shared file is not read into memory: it stays open here (a regular file, opened
        // without blocking) and is streamed into the inbox when saved. Being open, it stays
        // readable after a provider removes its temporary file.
        std::shared_ptr<const platform::ReadableFile> source;

        // The number of bytes, of `data` or of the open file as it is now.
        uint64_t byteCount() const;
        // The whole content, read now (for small files and checks only).
        std::string contents() const;
    };
    using Content = std::variant<Url, Text, File>;

    // Every payload gets a fresh random identity; it becomes the inbox entry's id.
    explicit SharedPayload(Content content);

    const platform::Uuid& id() const { return id_; }
    const Content& content() const { return content_; }

    // One line for the form: the URL text; the first 140 user-perceived characters of the
    // text; or the file name, " \u00b7 " and its size ("photo.png \u00b7 2 KB").
    std::string summary() const;
    // The symbol beside the summary: "link", "text.alignleft", or for files "photo" (images),
    // "play.rectangle" (movies and other audio-visual content) or "doc".
    std::string systemImage() const;

  private:
    platform::Uuid id_;
    Content content_;
};

}  // namespace tavro::share
