// SPDX-License-Identifier: MIT
#include "share/ui/StateRendering.h"

#include <stdlib.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPixmap>
#include <future>
#include <optional>

#include "platform/TypeIdentifiers.h"
#include "share/LocalItemProvider.h"
#include "share/ui/NoteEdit.h"
#include "share/ui/ShareView.h"
#include "share/ui/ShareViewController.h"

namespace tavro::share::ui {

namespace {

// A request handed over directly; ending it does nothing while rendering.
class FixedContext : public ExtensionContext {
  public:
    explicit FixedContext(std::vector<ExtensionItem> items) : items_(std::move(items)) {}
    std::vector<std::any> inputItems() const override {
        return std::vector<std::any>(items_.begin(), items_.end());
    }
    void completeRequest() override {}
    void cancelRequest(const platform::ErrorRef&) override {}

  private:
    std::vector<ExtensionItem> items_;
};

// An attachment that answers only once released, to hold the form in its Loading state.
class HeldProvider : public LocalItemProvider {
  public:
    explicit HeldProvider(std::shared_future<void> release) : release_(std::move(release)) {
        registerItem(platform::UniformType::utf8PlainText().identifier(), std::string());
    }
    void loadItem(const std::string& type, ItemCompletion completion) override {
        release_.wait();
        LocalItemProvider::loadItem(type, std::move(completion));
    }

  private:
    std::shared_future<void> release_;
};

// Environment changed for one scope, restored afterwards.
class ScopedVariable {
  public:
    ScopedVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name))
            old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedVariable() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

ExtensionItem itemWith(std::shared_ptr<ItemProvider> provider) {
    ExtensionItem item;
    item.attachments = std::vector<std::shared_ptr<ItemProvider>>{std::move(provider)};
    return item;
}

std::string samplePicture() {
    QImage image(320, 200, QImage::Format_RGB32);
    image.fill(QColor(0x3b, 0x82, 0xc4));
    QPainter painter(&image);
    painter.setBrush(QColor(0xf2, 0xc1, 0x4e));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPoint(240, 60), 30, 30);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

std::vector<ExtensionItem> sampleItems() {
    auto picture = std::make_shared<LocalItemProvider>(std::string("Harbour at dusk.png"));
    picture->registerData(platform::UniformType::png().identifier(),
                          std::make_shared<const std::string>(samplePicture()));
    return {
        itemWith(LocalItemProvider::forUrl(
            *Url::parse("https://example.org/articles/keeping-a-personal-library"))),
        itemWith(LocalItemProvider::forText(
            "Collect things while you read, file them later: a quiet inbox beats a noisy "
            "bookmark bar, and the notes you add today are what you search for next year.")),
        itemWith(picture),
    };
}

void waitUntilLoaded(ShareView& form) {
    while (form.isLoading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::processEvents();
}

void fillIn(ShareView& form) {
    form.titleField()->setText(QStringLiteral("Reading list"));
    form.tagsField()->setText(QStringLiteral("reading, ideas, later"));
    form.noteField()->setPlainText(QStringLiteral("For the weekend."));
}

bool grabInto(ShareViewController& controller, const QDir& directory, const QString& state,
              std::ostream& errors) {
    QCoreApplication::processEvents();
    QString path = directory.filePath(QStringLiteral("share-sheet-%1.png").arg(state));
    if (controller.view()->grab().save(path))
        return true;
    errors << "Could not write " << path.toStdString() << "." << std::endl;
    return false;
}

// Shows the controller's view without putting it on a screen, which starts loading.
void present(ShareViewController& controller) {
    controller.view()->setAttribute(Qt::WA_DontShowOnScreen);
    controller.view()->show();
}

}  // namespace

int renderFormStates(const QString& directoryPath, std::ostream& errors) {
    QDir directory(directoryPath);
    if (!directory.mkpath(QStringLiteral("."))) {
        errors << "Could not create " << directoryPath.toStdString() << "." << std::endl;
        return 1;
    }
    bool ok = true;
    {
        std::promise<void> release;
        ShareViewController loading(std::make_shared<FixedContext>(std::vector<ExtensionItem>{
            itemWith(std::make_shared<HeldProvider>(release.get_future().share()))}));
        present(loading);
        ok = grabInto(loading, directory, QStringLiteral("loading"), errors) && ok;
        release.set_value();
        waitUntilLoaded(*loading.shareView());
    }
    {
        ShareViewController empty(std::make_shared<FixedContext>(std::vector<ExtensionItem>{}));
        present(empty);
        waitUntilLoaded(*empty.shareView());
        ok = grabInto(empty, directory, QStringLiteral("empty"), errors) && ok;
    }
    {
        ShareViewController ready(std::make_shared<FixedContext>(sampleItems()));
        present(ready);
        waitUntilLoaded(*ready.shareView());
        fillIn(*ready.shareView());
        ok = grabInto(ready, directory, QStringLiteral("ready"), errors) && ok;

        // Without its entitlements the program has no App Group: the save fails before
        // anything is written.
        ScopedVariable noEntitlements("TAVRO_ENTITLEMENTS",
                                      "/nonexistent/tavro-share.entitlements");
        ready.shareView()->save();
        ok = grabInto(ready, directory, QStringLiteral("error"), errors) && ok;
    }
    return ok ? 0 : 1;
}

}  // namespace tavro::share::ui
