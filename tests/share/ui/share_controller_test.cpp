// SPDX-License-Identifier: MIT
// The controller: its view, the request's items taken whole or not at all, the two endings
// reaching the request through weak references, and the program's request.

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <sstream>

#include "SheetTestSupport.h"
#include "share/InboxTestEnvironment.h"
#include "share/ui/NoteEdit.h"
#include "share/ui/ProcessExtensionContext.h"
#include "share/ui/ShareView.h"
#include "share/ui/ShareViewController.h"

namespace tavro::share::ui {
namespace {

class RecordingContext : public ExtensionContext {
  public:
    explicit RecordingContext(std::vector<std::any> items) : items(std::move(items)) {}
    std::vector<std::any> inputItems() const override { return items; }
    void completeRequest() override { ++completions; }
    void cancelRequest(const platform::ErrorRef& error) override { cancellations.push_back(error); }

    std::vector<std::any> items;
    int completions = 0;
    std::vector<platform::ErrorRef> cancellations;
};

class ShareViewControllerTest : public testing::InboxTestEnvironment {};

TEST_F(ShareViewControllerTest, ViewIs440By480WithTheFormFillingIt) {
    ShareViewController controller(std::make_shared<RecordingContext>(std::vector<std::any>{}),
                                   env());
    QWidget* view = controller.view();
    EXPECT_EQ(view->geometry(), QRect(0, 0, 440, 480));
    EXPECT_EQ(controller.preferredContentSize(), QSize(440, 480));
    ShareView* form = controller.shareView();
    ASSERT_NE(form, nullptr);
    view->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(form->geometry(), view->rect());
    view->resize(500, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->geometry(), view->rect());
    testing::waitForLoading(*form);
}

TEST_F(ShareViewControllerTest, RequestItemsReachTheForm) {
    auto context = std::make_shared<RecordingContext>(
        std::vector<std::any>{testing::textItem("one"), testing::textItem("two")});
    ShareViewController controller(context, env());
    controller.view()->show();
    testing::waitForLoading(*controller.shareView());
    ASSERT_EQ(controller.shareView()->payloads().size(), 2u);
    EXPECT_EQ(controller.shareView()->payloads()[1].summary(), "two");
}

TEST_F(ShareViewControllerTest, OneForeignItemEmptiesTheWholeRequest) {
    auto context = std::make_shared<RecordingContext>(
        std::vector<std::any>{testing::textItem("one"), std::string("not an item")});
    ShareViewController controller(context, env());
    controller.view()->show();
    testing::waitForLoading(*controller.shareView());
    EXPECT_TRUE(controller.shareView()->payloads().empty());
    EXPECT_FALSE(controller.shareView()->saveButton()->isEnabled());
}

TEST_F(ShareViewControllerTest, WithoutARequestTheFormIsEmptyAndEndsNothing) {
    ShareViewController controller(nullptr, env());
    controller.view()->show();
    ShareView* form = controller.shareView();
    testing::waitForLoading(*form);
    EXPECT_TRUE(form->payloads().empty());
    QTest::keyClick(form, Qt::Key_Escape);  // no request to cancel: nothing happens
}

TEST_F(ShareViewControllerTest, SaveCompletesAndEscapeCancelsWithUserCancelled) {
    auto context = std::make_shared<RecordingContext>(
        std::vector<std::any>{testing::textItem("https://example.org/")});
    ShareViewController controller(context, env());
    controller.view()->show();
    ShareView* form = controller.shareView();
    testing::waitForLoading(*form);

    QTest::keyClick(form->titleField(), Qt::Key_Escape);
    ASSERT_EQ(context->cancellations.size(), 1u);
    const platform::ErrorRef& error = context->cancellations[0];
    EXPECT_EQ(error->domain, platform::kCocoaErrorDomain);
    EXPECT_EQ(error->code, 3072);
    EXPECT_FALSE(error->userInfoLocalizedDescription);
    EXPECT_FALSE(error->underlying);

    QTest::keyClick(form->titleField(), Qt::Key_Return);
    EXPECT_EQ(context->completions, 1);
    EXPECT_EQ(testing::inboxEntries(env()).size(), 1u);
}

// Keyboard use of the shown window: typing at once fills the title, and Tab visits the title,
// the tags, the note, Cancel and Save, in that order and nothing else.
TEST_F(ShareViewControllerTest, FocusStartsInTheTitleAndTabVisitsOnlyTheControls) {
    auto context = std::make_shared<RecordingContext>(
        std::vector<std::any>{testing::textItem("https://example.org/")});
    ShareViewController controller(context, env());
    QWidget* window = controller.view();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    ShareView* form = controller.shareView();
    testing::waitForLoading(*form);

    QTest::keyClicks(QApplication::focusWidget(), "typed at once");
    EXPECT_EQ(form->title(), "typed at once");
    const std::vector<QWidget*> expected = {form->tagsField(),    form->noteField(),
                                            form->cancelButton(), form->saveButton(),
                                            form->titleField(),   form->tagsField()};
    for (QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next)
            << (QApplication::focusWidget() ? QApplication::focusWidget()->metaObject()->className()
                                            : "nothing");
    }
    QTest::keyClicks(QApplication::focusWidget(), "tag");
    EXPECT_EQ(form->tags(), "tag");
}

// The form's callbacks hold the controller weakly: once it is gone they end nothing.
TEST_F(ShareViewControllerTest, FormOutlivingItsControllerEndsNothing) {
    auto context =
        std::make_shared<RecordingContext>(std::vector<std::any>{testing::textItem("kept")});
    auto controller = std::make_unique<ShareViewController>(context, env());
    controller->view()->show();
    std::unique_ptr<ShareView> form(controller->shareView());
    testing::waitForLoading(*form);
    form->setParent(nullptr);
    controller.reset();

    QTest::keyClick(form.get(), Qt::Key_Escape);
    form->save();
    EXPECT_EQ(context->completions, 0);
    EXPECT_TRUE(context->cancellations.empty());
    EXPECT_EQ(testing::inboxEntries(env()).size(), 1u);  // the save itself still ran
}

// The program's whole path: the request's items shown by the controller, Return saving and
// ending the event loop with 0, Escape ending it with 1 and the cancellation's description.
TEST_F(ShareViewControllerTest, ProgramRequestEndsWithTheFormsKeys) {
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        std::ostringstream errors;
        auto context = std::make_shared<ProcessExtensionContext>(
            std::vector<ExtensionItem>{
                testing::textItem("https://example.org/" + std::to_string(int(key)))},
            errors);
        ShareViewController controller(context, env());
        ShareView* form = controller.shareView();
        QObject::connect(form, &ShareView::loadingFinished, form,
                         [form, key] { QTest::keyClick(form->titleField(), key); });
        controller.view()->show();
        const int status = QCoreApplication::exec();
        EXPECT_TRUE(context->hasEnded());
        if (key == Qt::Key_Return) {
            EXPECT_EQ(status, 0);
            EXPECT_EQ(errors.str(), "");
        } else {
            EXPECT_EQ(status, 1);
            EXPECT_EQ(errors.str(), "Sharing was cancelled.\n");
        }
    }
    auto entries = testing::inboxEntries(env());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries.begin()->second.url,
              "https://example.org/" + std::to_string(int(Qt::Key_Return)));
}

// The program's request ends the event loop: 0 when completed, 1 with the cancellation's
// description on standard error; only the first ending counts.
TEST(ProcessExtensionContextTest, EndingsBecomeExitStatuses) {
    std::ostringstream errors;
    ProcessExtensionContext cancelled({testing::textItem("x")}, errors);
    ASSERT_EQ(cancelled.inputItems().size(), 1u);
    EXPECT_NE(std::any_cast<ExtensionItem>(&cancelled.inputItems()[0]), nullptr);
    QTimer::singleShot(0, [&] {
        cancelled.cancelRequest(userCancelledError());
        cancelled.completeRequest();
    });
    EXPECT_EQ(QCoreApplication::exec(), 1);
    EXPECT_EQ(errors.str(), "Sharing was cancelled.\n");

    ProcessExtensionContext completed({}, errors);
    QTimer::singleShot(0, [&] {
        completed.completeRequest();
        completed.cancelRequest(userCancelledError());
    });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(completed.hasEnded());
    EXPECT_EQ(errors.str(), "Sharing was cancelled.\n");
}

}  // namespace
}  // namespace tavro::share::ui
