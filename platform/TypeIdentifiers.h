// SPDX-License-Identifier: MIT
#pragma once
// Uniform type identifiers: the well-known system types people share (images, movies, audio,
// text, links, documents, archives), their parents, file-name extensions, MIME types and
// display names, with conformance that follows parents transitively (a type conforms to
// itself and to every ancestor).
//
// The table is fixed at build time and immutable; every function may run on any thread.
// Identifiers, extensions and MIME types are matched ignoring ASCII case, as the platform does.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tavro::platform {

class UniformType {
  public:
    struct Entry;

    // The type of a known identifier, or nothing.
    static std::optional<UniformType> fromIdentifier(std::string_view identifier);
    // The first type whose extensions include `extension` (without the dot) and that conforms
    // to `conformingTo`; nothing for an unknown or empty extension.
    static std::optional<UniformType> fromFilenameExtension(std::string_view extension);
    static std::optional<UniformType> fromFilenameExtension(std::string_view extension,
                                                            const UniformType& conformingTo);
    // By MIME type: an exact match (parameters included, e.g. "text/plain;charset=utf-8")
    // first, then the type without its parameters. Constrained to data like the extension.
    static std::optional<UniformType> fromMimeType(std::string_view mimeType);

    const std::string& identifier() const;
    std::optional<std::string> preferredFilenameExtension() const;
    std::optional<std::string> preferredMimeType() const;
    const std::vector<std::string>& filenameExtensions() const;
    const std::vector<std::string>& mimeTypes() const;
    // A short English display name ("PNG image"); nothing for the abstract roots.
    std::optional<std::string> localizedDescription() const;
    // The direct parents, in table order.
    std::vector<UniformType> supertypes() const;

    bool conforms(const UniformType& other) const;

    bool operator==(const UniformType& other) const { return entry_ == other.entry_; }

    // The types the share side and the classification rules name directly.
    static UniformType item();
    static UniformType content();
    static UniformType data();
    static UniformType directory();
    static UniformType folder();
    static UniformType image();
    static UniformType png();
    static UniformType jpeg();
    static UniformType audiovisualContent();
    static UniformType movie();
    static UniformType video();
    static UniformType audio();
    static UniformType text();
    static UniformType plainText();
    static UniformType utf8PlainText();
    static UniformType url();
    static UniformType fileURL();
    static UniformType pdf();

  private:
    explicit UniformType(const Entry* entry) : entry_(entry) {}
    static UniformType named(std::string_view identifier);

    const Entry* entry_;
};

// Whether the type named `identifier` conforms to the type named `to`; false when either is
// unknown.
bool conforms(std::string_view identifier, std::string_view to);

// The content type of a file on disk, as the platform's resource value gives it: "folder" for
// a directory; otherwise the type of its extension (conforming to data); otherwise plain data.
// Nothing when the path does not exist.
std::optional<UniformType> contentTypeOfFile(const std::string& path);

}  // namespace tavro::platform
