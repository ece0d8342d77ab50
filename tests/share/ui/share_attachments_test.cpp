// SPDX-License-Identifier: MIT
// Drops and pastes onto the form: MIME formats become attachments, which are loaded and
// appended to what was shared.

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDropEvent>
#include <QImage>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include "SheetTestSupport.h"
#include "share/InboxTestEnvironment.h"
#include "share/SharePayloadLoader.h"
#include "share/ui/DropAttachments.h"
#include "share/ui/ShareView.h"

namespace tavro::share::ui {
namespace {

class ShareAttachmentsTest : public testing::InboxTestEnvironment {
  protected:
    std::string sharedFile(const std::string& name, const std::string& bytes) {
        std::string path = dataHome() + "/files/" + name;
        writeFile(path, bytes);
        return path;
    }

    static std::vector<SharedPayload> loaded(const QMimeData& mime) {
        return SharePayloadLoader::load(attachmentsFromMimeData(mime));
    }

    static void drop(ShareView& view, QMimeData& mime) {
        // Straight to the form: the application delivers drops only to the target of a drag
        // the window system started, which the offscreen platform never does.
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        static_cast<QObject&>(view).event(&enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        static_cast<QObject&>(view).event(&event);
        EXPECT_TRUE(event.isAccepted());
    }

    static std::string pngBytes() {
        QImage image(4, 3, QImage::Format_RGB32);
        image.fill(Qt::green);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes.toStdString();
    }
};

TEST_F(ShareAttachmentsTest, UriListGivesOneAttachmentPerEntry) {
    std::string path = sharedFile("report final.pdf", "%PDF-1.4");
    QMimeData mime;
    mime.setUrls(
        {QUrl::fromLocalFile(QString::fromStdString(path)), QUrl("https://example.org/a?b=c")});
    mime.setText("ignored when links are given");
    auto payloads = loaded(mime);
    ASSERT_EQ(payloads.size(), 2u);
    const auto* file = std::get_if<SharedPayload::File>(&payloads[0].content());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->name, "report final.pdf");
    EXPECT_EQ(file->contents(), "%PDF-1.4");
    EXPECT_EQ(file->typeIdentifier, "com.adobe.pdf");
    const auto* link = std::get_if<SharedPayload::Url>(&payloads[1].content());
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->url.absoluteString(), "https://example.org/a?b=c");
}

TEST_F(ShareAttachmentsTest, FormatsMapToTypeIdentifiers) {
    QMimeData text;
    text.setText("  dropped words ");
    auto fromText = loaded(text);
    ASSERT_EQ(fromText.size(), 1u);
    EXPECT_EQ(std::get<SharedPayload::Text>(fromText[0].content()).text, "dropped words");

    QMimeData png;
    png.setData("image/png", QByteArray::fromStdString(pngBytes()));
    auto fromPng = loaded(png);
    ASSERT_EQ(fromPng.size(), 1u);
    const auto& file = std::get<SharedPayload::File>(fromPng[0].content());
    EXPECT_EQ(file.typeIdentifier, "public.png");
    EXPECT_EQ(file.contents(), pngBytes());

    QMimeData decoded;  // only a decoded picture, as some programs copy images
    QImage image(2, 2, QImage::Format_ARGB32);
    image.fill(Qt::red);
    decoded.setImageData(image);
    auto fromImage = loaded(decoded);
    ASSERT_EQ(fromImage.size(), 1u);
    const auto& picture = std::get<SharedPayload::File>(fromImage[0].content());
    EXPECT_EQ(picture.typeIdentifier, "public.png");
    EXPECT_TRUE(picture.contents().starts_with("\x89PNG"));

    QMimeData unknown;
    unknown.setData("application/x-nothing-we-know", "??");
    EXPECT_TRUE(attachmentsFromMimeData(unknown).empty());

    QMimeData notUtf8;
    notUtf8.setData("text/plain", QByteArray("\xff\xfe", 2));
    EXPECT_TRUE(attachmentsFromMimeData(notUtf8).empty());
}

TEST_F(ShareAttachmentsTest, DroppingAFileAndALinkListAddsToWhatWasShared) {
    auto view = std::make_unique<ShareView>(std::vector<ExtensionItem>{testing::textItem("first")},
                                            nullptr, nullptr, env());
    view->show();
    testing::waitForLoading(*view);
    ASSERT_EQ(view->payloads().size(), 1u);

    QMimeData fileDrop;
    fileDrop.setUrls({QUrl::fromLocalFile(QString::fromStdString(sharedFile("a.txt", "abc")))});
    drop(*view, fileDrop);
    EXPECT_TRUE(view->isLoading());
    EXPECT_FALSE(view->saveButton()->isEnabled());
    testing::waitForLoading(*view);

    // Links dropped on a field are shared rather than typed into it.
    QMimeData links;
    links.setData("text/uri-list", "https://example.org/one\r\nhttps://example.org/two\r\n");
    QDropEvent onField(QPointF(5, 5), Qt::CopyAction, &links, Qt::LeftButton, Qt::NoModifier);
    EXPECT_TRUE(static_cast<QObject&>(*view).eventFilter(view->titleField(), &onField));
    testing::waitForLoading(*view);
    EXPECT_EQ(view->title(), "");

    ASSERT_EQ(view->payloads().size(), 4u);
    EXPECT_EQ(view->payloads()[0].summary(), "first");
    EXPECT_EQ(std::get<SharedPayload::File>(view->payloads()[1].content()).name, "a.txt");
    EXPECT_EQ(view->payloads()[2].summary(), "https://example.org/one");
    EXPECT_EQ(view->payloads()[3].summary(), "https://example.org/two");
    EXPECT_TRUE(view->saveButton()->isEnabled());
}

TEST_F(ShareAttachmentsTest, DropOnAnEmptyFormMakesItReady) {
    auto view = std::make_unique<ShareView>(std::vector<ExtensionItem>{}, nullptr, nullptr, env());
    view->show();
    testing::waitForLoading(*view);
    EXPECT_FALSE(view->saveButton()->isEnabled());
    QMimeData text;
    text.setText("https://example.org/dropped");
    drop(*view, text);
    testing::waitForLoading(*view);
    ASSERT_EQ(view->payloads().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<SharedPayload::Url>(view->payloads()[0].content()));
    EXPECT_TRUE(view->saveButton()->isEnabled());
}

TEST_F(ShareAttachmentsTest, PasteOutsideTheFieldsAddsTheClipboard) {
    auto view = std::make_unique<ShareView>(std::vector<ExtensionItem>{}, nullptr, nullptr, env());
    view->show();
    testing::waitForLoading(*view);
    QApplication::clipboard()->setText("pasted text");
    QTest::keyClick(view->titleField(), Qt::Key_V, Qt::ControlModifier);  // into the field
    EXPECT_EQ(view->title(), "pasted text");
    QTest::keyClick(view.get(), Qt::Key_V, Qt::ControlModifier);  // onto the form
    testing::waitForLoading(*view);
    ASSERT_EQ(view->payloads().size(), 1u);
    EXPECT_EQ(view->payloads()[0].summary(), "pasted text");
}

}  // namespace
}  // namespace tavro::share::ui
