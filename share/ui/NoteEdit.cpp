// SPDX-License-Identifier: MIT
#include "share/ui/NoteEdit.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>

namespace tavro::share::ui {

NoteEdit::NoteEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QPlainTextEdit::textChanged, this, &NoteEdit::fitToContent);
    fitToContent();
}

void NoteEdit::resizeEvent(QResizeEvent* event) {
    QPlainTextEdit::resizeEvent(event);
    fitToContent();  // a narrower field wraps into more lines
}

void NoteEdit::fitToContent() {
    // The plain-text layout measures its height in lines, wrapped lines included.
    const int contentLines = int(document()->documentLayout()->documentSize().height());
    const int lines = std::clamp(contentLines, kMinimumLines, kMaximumLines);
    const int margins = int(2 * document()->documentMargin()) + 2 * frameWidth() +
                        contentsMargins().top() + contentsMargins().bottom();
    const int height = lines * fontMetrics().lineSpacing() + margins;
    visibleLines_ = lines;
    if (height != this->height())
        setFixedHeight(height);
}

}  // namespace tavro::share::ui
