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

SharedPayload::SharedPayload(Content content)
    : id_(platform::Uuid::random()), content_(std::move(content)) {}

std::string SharedPayload::summary() const {
    return std::visit(Overloaded{
                          [](const Url& link) { return link.url.absoluteString(); },
                          [](const Text& text) {
                              return platform::text::prefixGraphemes(text.text, kSummaryCharacters);
                          },
                          [](const File& file) {
                              uint64_t size = file.data ? file.data->size() : 0;
                              return file.name + " \u00b7 " + platform::formatFileSize(size);
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
