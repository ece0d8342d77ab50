// SPDX-License-Identifier: MIT
#include "share/SharedPayload.h"

#include "platform/ByteCountFormatter.h"
#include "platform/Text.h"
#include "platform/TypeIdentifiers.h"

namespace tavro::share {

namespace {

constexpr size_t kSummaryCharacters = 140;

template <class... Cases>
struct Overloaded : Cases... {
    using Cases::operator()...;
};
template <class... Cases>
Overloaded(Cases...) -> Overloaded<Cases...>;

std::string fileSymbol(const std::string& typeIdentifier) {
    using platform::UniformType;
    // An identifier the table does not know is plain data, which is none of the media types.
    UniformType type = UniformType::fromIdentifier(typeIdentifier).value_or(UniformType::data());
    if (type.conforms(UniformType::image()))
        return "photo";
    if (type.conforms(UniformType::movie()) || type.conforms(UniformType::audiovisualContent())) {
        return "play.rectangle";
    }
    return "doc";
}

}  // namespace

uint64_t SharedPayload::File::byteCount() const {
    if (data)
        return data->size();
    if (!source)
        return 0;
    try {
        return uint64_t(source->status().st_size);
    } catch (const std::exception&) {
        return 0;
    }
}

std::string SharedPayload::File::contents() const {
    if (data)
        return *data;
    std::string bytes;
    if (source)
        source->readChunks([&](std::string_view chunk) { bytes.append(chunk); });
    return bytes;
}

SharedPayload::SharedPayload(Content content)
    : id_(platform::Uuid::random()), content_(std::move(content)) {}

std::string SharedPayload::summary() const {
    return std::visit(Overloaded{
                          [](const Url& link) { return link.url.absoluteString(); },
                          [](const Text& text) {
                              return platform::text::prefixGraphemes(text.text, kSummaryCharacters);
                          },
                          [](const File& file) {
                              return file.name + " \u00b7 " +
                                     platform::formatFileSize(file.byteCount());
                          },
                      },
                      content_);
}

std::string SharedPayload::systemImage() const {
    return std::visit(Overloaded{
                          [](const Url&) { return std::string("link"); },
                          [](const Text&) { return std::string("text.alignleft"); },
                          [](const File& file) { return fileSymbol(file.typeIdentifier); },
                      },
                      content_);
}

}  // namespace tavro::share
