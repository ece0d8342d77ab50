// SPDX-License-Identifier: MIT
#include "share/ui/DropAttachments.h"

#include <QBuffer>
#include <QImage>
#include <QUrl>

#include "platform/Text.h"
#include "platform/TypeIdentifiers.h"
#include "share/LocalItemProvider.h"

namespace tavro::share::ui {

namespace {

using platform::UniformType;

// A decoded picture from the clipboard or a drop, encoded on demand on the loader's thread.
class QtImageObject : public ImageObject {
  public:
    explicit QtImageObject(QImage image) : image_(std::move(image)) {}

    std::optional<std::string> pngRepresentation() const override {
        QByteArray bytes;
        QBuffer buffer(&bytes);
        if (image_.isNull() || !buffer.open(QIODevice::WriteOnly) || !image_.save(&buffer, "PNG"))
            return std::nullopt;
        return bytes.toStdString();
    }

  private:
    QImage image_;
};

ExtensionItem itemWith(std::shared_ptr<ItemProvider> provider) {
    ExtensionItem item;
    item.attachments = std::vector<std::shared_ptr<ItemProvider>>{std::move(provider)};
    return item;
}

std::vector<ExtensionItem> itemsFromUrls(const QList<QUrl>& urls) {
    std::vector<ExtensionItem> items;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            items.push_back(itemWith(LocalItemProvider::forFile(url.toLocalFile().toStdString())));
        } else if (auto parsed = Url::parse(url.toString(QUrl::FullyEncoded).toStdString())) {
            items.push_back(itemWith(LocalItemProvider::forUrl(*parsed)));
        }
    }
    return items;
}

bool isPlainText(const QString& format) {
    return format == QLatin1String("text/plain") || format.startsWith(QLatin1String("text/plain;"));
}

// Registers one MIME format of the drop; false when it has no known type.
bool registerFormat(LocalItemProvider& provider, const QMimeData& mime, const QString& format) {
    QByteArray bytes = mime.data(format);
    if (isPlainText(format)) {
        std::string text = bytes.toStdString();
        if (!platform::text::isWellFormedUtf8(text))
            return false;
        provider.registerItem(UniformType::utf8PlainText().identifier(), std::move(text));
        return true;
    }
    auto type = UniformType::fromMimeType(format.toStdString());
    if (!type)
        return false;
    provider.registerData(type->identifier(),
                          std::make_shared<const std::string>(bytes.toStdString()));
    return true;
}

}  // namespace

std::vector<ExtensionItem> attachmentsFromMimeData(const QMimeData& mime) {
    if (mime.hasUrls()) {
        std::vector<ExtensionItem> items = itemsFromUrls(mime.urls());
        if (!items.empty())
            return items;
    }
    auto provider = std::make_shared<LocalItemProvider>();
    bool offered = false;
    const QStringList formats = mime.formats();
    for (const QString& format : formats) {
        if (format == QLatin1String("text/uri-list"))
            continue;
        offered = registerFormat(*provider, mime, format) || offered;
    }
    if (!offered && mime.hasImage()) {
        auto image = std::make_shared<const QtImageObject>(qvariant_cast<QImage>(mime.imageData()));
        provider->registerItem(UniformType::png().identifier(),
                               std::shared_ptr<const ImageObject>(image));
        offered = true;
    }
    if (!offered)
        return {};
    return {itemWith(provider)};
}

}  // namespace tavro::share::ui
