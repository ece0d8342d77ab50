// SPDX-License-Identifier: MIT
#pragma once
// The share form: what was shared, a title, tags and a note, and the Cancel and Save buttons.
//
// The form loads the request's items once, the first time it is shown, on a worker thread
// (one provider at a time) and applies the result on the GUI thread; until then it shows a
// progress row and Save is disabled. Save writes one inbox entry per payload and completes
// the request; a failed write shows the error in red and keeps the form open, and saving
// again rewrites every entry under the same ids. Escape cancels in every state; Return saves
// whenever Save is enabled. Drops and pastes add attachments and load them.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Env.h"
#include "share/ExtensionItem.h"
#include "share/SharePayloadLoader.h"
#include "share/SharedPayload.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace tavro::share::ui {

class NoteEdit;
struct LoadChannel;

class ShareView : public QWidget {
    Q_OBJECT

  public:
    using Callback = std::function<void()>;

    // Saves into the inbox `env` provisions; `env` must outlive the form.
    ShareView(std::vector<ExtensionItem> inputItems, Callback onComplete, Callback onCancel,
              const platform::Env& env = platform::Env::real(), QWidget* parent = nullptr);
    ~ShareView() override;

    // Writes one inbox entry per payload, then completes; on a failure shows the error.
    void save();

    // Loads the request's items unless that already started; showing the form calls it.
    void startLoading();
    // Further attachments (a drop or a paste): loaded after anything already loading, their
    // payloads appended to the list.
    void addAttachments(std::vector<ExtensionItem> items);

    const std::vector<SharedPayload>& payloads() const { return payloads_; }
    // The attachments that could not be read, named under the list in secondary text.
    const std::vector<SharePayloadLoader::Unread>& unread() const { return unread_; }
    bool isLoading() const { return isLoading_; }
    const std::string& title() const { return title_; }
    const std::string& tags() const { return tags_; }
    const std::string& note() const { return note_; }
    const std::optional<std::string>& errorMessage() const { return errorMessage_; }

    // The form's controls, for the program's options and for tests.
    QLineEdit* titleField() const { return titleField_; }
    QLineEdit* tagsField() const { return tagsField_; }
    NoteEdit* noteField() const { return noteField_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* saveButton() const { return saveButton_; }
    QGroupBox* errorSection() const { return errorSection_; }
    QWidget* savingRows() const { return savingRows_; }

  signals:
    // Emitted on the GUI thread each time a load has been applied.
    void loadingFinished();

  protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void buildForm();
    void applySecondaryColours();
    QWidget* buildButtonBar();
    void runNextLoad();
    void applyLoaded(std::vector<SharedPayload> loaded,
                     std::vector<SharePayloadLoader::Unread> unread);
    void pasteAttachments();
    void refresh();
    void refreshSavingRows();
    void clearSavingRows();
    void addSavingRow(QWidget* row);

    // The request and its two endings.
    std::vector<ExtensionItem> inputItems_;
    Callback onComplete_;
    Callback onCancel_;
    const platform::Env& env_;  // where Save finds the inbox
    // The view's state.
    std::vector<SharedPayload> payloads_;
    std::vector<SharePayloadLoader::Unread> unread_;
    bool isLoading_ = true;
    std::string title_;
    std::string tags_;
    std::string note_;
    std::optional<std::string> errorMessage_;

    // Loading: batches wait their turn; the channel hands results back to this thread.
    bool loadingStarted_ = false;
    bool loadRunning_ = false;
    std::vector<std::vector<ExtensionItem>> queuedLoads_;
    std::shared_ptr<LoadChannel> channel_;

    QWidget* savingRows_ = nullptr;
    QVBoxLayout* savingLayout_ = nullptr;
    QLineEdit* titleField_ = nullptr;
    QLineEdit* tagsField_ = nullptr;
    NoteEdit* noteField_ = nullptr;
    QGroupBox* errorSection_ = nullptr;
    QLabel* errorLabel_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* saveButton_ = nullptr;
};

}  // namespace tavro::share::ui
