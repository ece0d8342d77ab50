// SPDX-License-Identifier: MIT
// The share form in each of its states: what is shown and enabled, what Escape and Return do,
// saving from the form, and its failure and retry.

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <thread>

#include "SheetTestSupport.h"
#include "share/InboxTestEnvironment.h"
#include "share/ui/NoteEdit.h"
#include "share/ui/PayloadLabel.h"
#include "share/ui/ShareView.h"
#include "share/ui/SymbolIcons.h"

namespace tavro::share::ui {
namespace {

using testing::itemWith;
using testing::textItem;

class ShareViewTest : public testing::InboxTestEnvironment {
  protected:
    // A form over `items` that counts its endings; shown, so loading has started.
    std::unique_ptr<ShareView> shownForm(std::vector<ExtensionItem> items) {
        auto view = std::make_unique<ShareView>(
            std::move(items), [this] { ++completions; }, [this] { ++cancellations; }, env());
        view->resize(440, 480);
        view->show();
        return view;
    }

    std::unique_ptr<ShareView> loadedForm(std::vector<ExtensionItem> items) {
        auto view = shownForm(std::move(items));
        testing::waitForLoading(*view);
        return view;
    }

    static QStringList labelTexts(const QWidget& within) {
        QStringList texts;
        for (const QLabel* label : within.findChildren<QLabel*>())
            texts << label->text();
        return texts;
    }

    // Escape and Return reach the form from its own surface and from every text field.
    static std::vector<QWidget*> keyTargets(ShareView& view) {
        return {&view, view.titleField(), view.tagsField(), view.noteField()};
    }

    int completions = 0;
    int cancellations = 0;
};

// Before it is first shown the form has loaded nothing and cannot save.
TEST_F(ShareViewTest, UnshownFormIsLoadingWithSaveDisabled) {
    ShareView view({textItem("not read yet")}, nullptr, nullptr, env());
    QCoreApplication::processEvents();
    EXPECT_TRUE(view.isLoading());
    EXPECT_TRUE(view.payloads().empty());
    EXPECT_FALSE(view.errorMessage());
    EXPECT_FALSE(view.saveButton()->isEnabled());
    EXPECT_TRUE(view.cancelButton()->isEnabled());
}

TEST_F(ShareViewTest, LoadingStateKeepsSaveOffAndTheFormResponsive) {
    auto gate = std::make_shared<testing::GatedProvider>("held back");
    auto view = shownForm({itemWith(gate)});
    QCoreApplication::processEvents();
    EXPECT_TRUE(view->isLoading());
    EXPECT_TRUE(labelTexts(*view->savingRows()).contains("Reading shared content\u2026"));
    EXPECT_FALSE(view->saveButton()->isEnabled());
    EXPECT_FALSE(view->errorSection()->isVisible());

    // The GUI thread is free while the provider blocks: typing works, Return does nothing.
    QTest::keyClicks(view->titleField(), "typed while loading");
    EXPECT_EQ(view->title(), "typed while loading");
    for (QWidget* target : keyTargets(*view)) {
        if (target != view->noteField())
            QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(testing::entryFolderCount(inboxPath()), 0u);
    QTest::keyClick(view->tagsField(), Qt::Key_Escape);
    EXPECT_EQ(cancellations, 1);

    gate->release();
    testing::waitForLoading(*view);
    ASSERT_EQ(view->payloads().size(), 1u);
    EXPECT_TRUE(view->saveButton()->isEnabled());
}

TEST_F(ShareViewTest, EmptyStateExplainsAndOnlyCancels) {
    auto view = loadedForm({textItem("   \n")});  // blank text yields nothing
    EXPECT_TRUE(view->payloads().empty());
    EXPECT_TRUE(labelTexts(*view->savingRows()).contains("Nothing tavro can save was shared."));
    EXPECT_FALSE(view->saveButton()->isEnabled());
    EXPECT_TRUE(view->cancelButton()->isEnabled());
    for (QWidget* target : keyTargets(*view))
        QTest::keyClick(target, Qt::Key_Enter);
    EXPECT_EQ(completions, 0);
    for (QWidget* target : keyTargets(*view))
        QTest::keyClick(target, Qt::Key_Escape);
    EXPECT_EQ(cancellations, 4);
    QTest::mouseClick(view->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(cancellations, 5);
}

TEST_F(ShareViewTest, ReadyStateListsPayloadsInOrderAndReturnSaves) {
    auto view = loadedForm(
        {textItem("https://example.org/x"), textItem("a note worth keeping"), ExtensionItem{}});
    ASSERT_EQ(view->payloads().size(), 2u);
    auto rows = view->savingRows()->findChildren<PayloadLabel*>();
    ASSERT_EQ(rows.size(), 2);
    EXPECT_EQ(rows[0]->text(), "https://example.org/x");
    EXPECT_EQ(rows[1]->text(), "a note worth keeping");
    EXPECT_EQ(rows[0]->objectName().toStdString(), view->payloads()[0].id().uppercase());
    EXPECT_TRUE(view->saveButton()->isEnabled());
    EXPECT_FALSE(view->errorSection()->isVisible());

    QTest::keyClicks(view->titleField(), "  Read later ");
    QTest::keyClicks(view->tagsField(), "web, , web,");
    QTest::keyClick(view->titleField(), Qt::Key_Return);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(cancellations, 0);

    auto entries = testing::inboxEntries(env());
    ASSERT_EQ(entries.size(), 2u);
    const auto& first = entries.at(view->payloads()[0].id().uppercase());
    const auto& second = entries.at(view->payloads()[1].id().uppercase());
    EXPECT_EQ(first.url, "https://example.org/x");
    EXPECT_EQ(first.title, "Read later");
    EXPECT_FALSE(second.title);
    EXPECT_EQ(second.text, "a note worth keeping");
    EXPECT_EQ(second.tags, (std::vector<std::string>{"web", "web"}));
    EXPECT_EQ(second.note, "");
}

// An item that could not be read is named under the list, in secondary text.
TEST_F(ShareViewTest, UnreadItemsAreNamedUnderTheList) {
    auto view = loadedForm(
        {itemWith(LocalItemProvider::forFile(dataHome() + "/gone.png")), textItem("kept")});
    ASSERT_EQ(view->payloads().size(), 1u);
    ASSERT_EQ(view->unread().size(), 1u);
    auto* line = view->savingRows()->findChild<QLabel*>("unread");
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->text().contains(QStringLiteral("\u201cgone.png\u201d")))
        << line->text().toStdString();
    EXPECT_LT(line->palette().color(QPalette::WindowText).alphaF(), 1.0f);
}

TEST_F(ShareViewTest, ReturnInTheNoteIsALineBreakAndTheNoteIsStoredAsTyped) {
    auto view = loadedForm({textItem("something")});
    QTest::keyClicks(view->noteField(), " first");
    QTest::keyClick(view->noteField(), Qt::Key_Return);
    QTest::keyClicks(view->noteField(), "second ");
    EXPECT_EQ(completions, 0);
    EXPECT_EQ(view->note(), " first\nsecond ");
    QTest::mouseClick(view->saveButton(), Qt::LeftButton);
    ASSERT_EQ(completions, 1);
    EXPECT_EQ(testing::inboxEntries(env()).begin()->second.note, " first\nsecond ");
}

// The second of three writes fails: the first entry stays, the third is not written, the
// form stays open with the message in red; once the cause is gone, saving again rewrites all
// three entry folders under the same ids.
TEST_F(ShareViewTest, FailedWriteShowsTheErrorAndASecondSaveRewritesEverything) {
    auto view = loadedForm(
        {textItem("https://example.org/1"), textItem("two"), textItem("https://example.org/3")});
    ASSERT_EQ(view->payloads().size(), 3u);
    std::vector<std::string> ids;
    for (const auto& payload : view->payloads())
        ids.push_back(payload.id().uppercase());
    writeFile(inboxPath() + "/" + ids[1], "not a folder");

    QTest::keyClick(view.get(), Qt::Key_Return);
    EXPECT_EQ(completions, 0);
    ASSERT_TRUE(view->errorMessage());
    EXPECT_TRUE(view->errorMessage()->starts_with("Couldn't save: "));
    EXPECT_TRUE(view->errorSection()->isVisible());
    QLabel* message = view->errorSection()->findChild<QLabel*>();
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->text().toStdString(), *view->errorMessage());
    EXPECT_EQ(message->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_TRUE(view->saveButton()->isEnabled());
    auto afterFailure = testing::inboxEntries(env());
    EXPECT_EQ(afterFailure.size(), 1u);
    EXPECT_TRUE(afterFailure.count(ids[0]));
    EXPECT_FALSE(std::filesystem::exists(inboxPath() + "/" + ids[2]));

    QTest::keyClick(view->noteField(), Qt::Key_Escape);
    EXPECT_EQ(cancellations, 1);  // Escape still cancels with an error shown

    std::filesystem::remove(inboxPath() + "/" + ids[1]);
    QTest::keyClick(view->tagsField(), Qt::Key_Return);
    EXPECT_EQ(completions, 1);
    auto entries = testing::inboxEntries(env());
    ASSERT_EQ(entries.size(), 3u);
    for (const auto& id : ids)
        EXPECT_TRUE(entries.count(id)) << id;
    EXPECT_EQ(testing::entryFolderCount(inboxPath()), 3u);
}

TEST_F(ShareViewTest, LoadsOnceHoweverOftenItIsShown) {
    auto view = loadedForm({textItem("once")});
    view->hide();
    view->show();
    view->startLoading();
    QCoreApplication::processEvents();
    EXPECT_FALSE(view->isLoading());
    EXPECT_EQ(view->payloads().size(), 1u);
}

TEST_F(ShareViewTest, FormDestroyedWhileLoadingIgnoresTheLateResult) {
    auto gate = std::make_shared<testing::GatedProvider>("late");
    {
        auto view = shownForm({itemWith(gate)});
        QCoreApplication::processEvents();
    }
    gate->release();
    // The worker lets go of the attachment once loaded, then finds the form gone.
    while (gate.use_count() > 1)
        std::this_thread::yield();
    QCoreApplication::processEvents();
    SUCCEED();
}

TEST_F(ShareViewTest, LongSummariesTakeAtMostTwoLines) {
    PayloadLabel label(QIcon(), QString(400, QLatin1Char('w')) + " end");
    QStringList lines = label.visibleLines(300);
    ASSERT_EQ(lines.size(), PayloadLabel::kMaximumLines);
    EXPECT_TRUE(lines.last().endsWith(QChar(0x2026)));
    EXPECT_EQ(PayloadLabel(QIcon(), "short").visibleLines(300).size(), 1);
}

TEST_F(ShareViewTest, NoteGrowsFromThreeToSixLines) {
    NoteEdit note;
    note.resize(300, note.height());
    EXPECT_EQ(note.visibleLineCount(), 3);
    const int threeLines = note.height();
    note.setPlainText("1\n2\n3\n4");
    EXPECT_EQ(note.visibleLineCount(), 4);
    EXPECT_GT(note.height(), threeLines);
    note.setPlainText("1\n2\n3\n4\n5\n6\n7\n8\n9");
    EXPECT_EQ(note.visibleLineCount(), 6);
    const int sixLines = note.height();
    note.setPlainText("1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11");
    EXPECT_EQ(note.height(), sixLines);
    note.setPlainText("");
    EXPECT_EQ(note.height(), threeLines);
}

// Placeholders are dimmed against typed text in a light and a dark palette alike, also when
// the style's own placeholder colour is the full text colour.
TEST_F(ShareViewTest, PlaceholdersAreSecondaryInLightAndDarkPalettes) {
    ShareView view({}, nullptr, nullptr, env());
    for (QColor text : {QColor(Qt::black), QColor(Qt::white)}) {
        QPalette palette = view.palette();
        palette.setColor(QPalette::Text, text);
        palette.setColor(QPalette::WindowText, text);
        palette.setColor(QPalette::PlaceholderText, text);
        palette.setColor(QPalette::Base, text == Qt::black ? Qt::white : QColor(30, 30, 30));
        view.setPalette(palette);
        for (QWidget* field : std::initializer_list<QWidget*>{view.titleField(), view.tagsField(),
                                                              view.noteField()}) {
            const QColor placeholder = field->palette().color(QPalette::PlaceholderText);
            EXPECT_EQ(placeholder.rgb(), text.rgb());
            EXPECT_LE(placeholder.alphaF(), 0.6f) << field->metaObject()->className();
            EXPECT_EQ(field->palette().color(QPalette::Text), text);
        }
    }
}

// Every symbol the form shows comes from the desktop's icon theme when one is installed, also
// on platforms that name no theme (offscreen, bare X sessions).
TEST_F(ShareViewTest, SymbolsComeFromTheInstalledIconTheme) {
    ensureIconTheme();
    if (QIcon::themeName().isEmpty())
        GTEST_SKIP() << "no freedesktop icon theme installed";
    for (const char* symbol :
         {"link", "text.alignleft", "photo", "play.rectangle", "doc", "exclamationmark.triangle"}) {
        EXPECT_FALSE(QIcon::fromTheme(QString::fromLatin1(themeIconName(symbol))).isNull())
            << symbol << " in " << QIcon::themeName().toStdString();
        EXPECT_FALSE(iconForSymbol(symbol).isNull()) << symbol;
    }
}

}  // namespace
}  // namespace tavro::share::ui
