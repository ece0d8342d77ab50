// SPDX-License-Identifier: MIT
#pragma once
// A payload's summary beside its icon, wrapped to at most two lines; text that does not fit
// ends the second line with an ellipsis. Summaries can be long (a 140-character text, a long
// URL), and a row per payload must stay compact.

#include <QIcon>
#include <QString>
#include <QWidget>

namespace tavro::share::ui {

class PayloadLabel : public QWidget {
    Q_OBJECT

  public:
    static constexpr int kMaximumLines = 2;

    PayloadLabel(const QIcon& icon, QString text, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    // The lines shown at `width` pixels of text, the last one elided when text is cut off.
    QStringList visibleLines(int width) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    int textLeft() const;
    int textWidth(int width) const;

    QIcon icon_;
    QString text_;
};

}  // namespace tavro::share::ui
