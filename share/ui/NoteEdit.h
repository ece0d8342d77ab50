// SPDX-License-Identifier: MIT
#pragma once
// The note field: plain multi-line text that grows with its content from three to six lines
// and scrolls beyond that, so a short note keeps the form compact and a long one stays usable.

#include <QPlainTextEdit>

namespace tavro::share::ui {

class NoteEdit : public QPlainTextEdit {
    Q_OBJECT

  public:
    static constexpr int kMinimumLines = 3;
    static constexpr int kMaximumLines = 6;

    explicit NoteEdit(QWidget* parent = nullptr);

    // The number of lines the field is currently tall.
    int visibleLineCount() const { return visibleLines_; }

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void fitToContent();

    int visibleLines_ = kMinimumLines;
};

}  // namespace tavro::share::ui
