// SPDX-License-Identifier: MIT
#pragma once
// The value of a byte field (`data`, `thumbnailData`, `iconData`): its SHA-256 digest and size,
// and where the bytes are. Stored content lives in the store's blob folder under its digest;
// new content is pending until a save copies it there, either from a file the caller has
// already hashed while streaming it, or from bytes held in memory (small values and tests).
//
// Two contents are equal when digest and size are equal: the bytes are the same whatever
// holds them, so setting a field to equal content changes nothing.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace tavro::model {

struct Content {
    std::string sha256;  // 64 lower-case hexadecimal digits
    uint64_t size = 0;

    // Where pending bytes come from; shared so that copying a Content never copies bytes.
    struct Pending {
        std::string path;   // a file to copy (when not empty)
        std::string bytes;  // else these bytes
    };
    std::shared_ptr<const Pending> pending;  // none: the bytes are a stored blob

    static Content fromFile(std::string path, std::string sha256, uint64_t size);
    static Content fromBytes(std::string bytes);
    static Content stored(std::string sha256, uint64_t size);

    bool isStored() const { return pending == nullptr; }
    bool isPendingFile() const { return pending && !pending->path.empty(); }

    bool operator==(const Content& other) const {
        return size == other.size && sha256 == other.sha256;
    }
};

// A byte field's value as a thing holds it: no content, or one. Most things carry none, and a
// thing has three byte fields, so the value is kept behind a pointer: 8 bytes for an empty field
// instead of the 64 of a std::optional<Content>, which counts when an exchange holds every thing
// of a large library in memory. It copies as a value, and answers std::optional's members
// (has_value, value, reset, *, ->) so that it reads like one.
class OptionalContent {
  public:
    OptionalContent() = default;
    OptionalContent(std::nullopt_t) {}
    OptionalContent(Content content) : content_(std::make_unique<Content>(std::move(content))) {}
    OptionalContent(std::optional<Content> content) {
        if (content) {
            content_ = std::make_unique<Content>(std::move(*content));
        }
    }
    OptionalContent(const OptionalContent& other)
        : content_(other.content_ ? std::make_unique<Content>(*other.content_) : nullptr) {}
    OptionalContent(OptionalContent&&) noexcept = default;
    OptionalContent& operator=(const OptionalContent& other) {
        if (this != &other) {
            content_ = other.content_ ? std::make_unique<Content>(*other.content_) : nullptr;
        }
        return *this;
    }
    OptionalContent& operator=(OptionalContent&&) noexcept = default;
    ~OptionalContent() = default;

    bool has_value() const noexcept { return content_ != nullptr; }
    explicit operator bool() const noexcept { return has_value(); }
    const Content& operator*() const { return *content_; }
    Content& operator*() { return *content_; }
    const Content* operator->() const { return content_.get(); }
    Content* operator->() { return content_.get(); }
    const Content& value() const {
        if (!content_) {
            throw std::bad_optional_access();
        }
        return *content_;
    }
    void reset() noexcept { content_.reset(); }
    std::optional<Content> toOptional() const {
        return content_ ? std::optional<Content>(*content_) : std::nullopt;
    }

    friend bool operator==(const OptionalContent& a, const OptionalContent& b) {
        return a.content_ && b.content_ ? *a.content_ == *b.content_ : !a.content_ && !b.content_;
    }
    friend bool operator==(const OptionalContent& a, std::nullopt_t) { return !a.content_; }

  private:
    std::unique_ptr<Content> content_;
};

}  // namespace tavro::model
