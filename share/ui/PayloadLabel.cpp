// SPDX-License-Identifier: MIT
#include "share/ui/PayloadLabel.h"

#include <QPainter>
#include <QTextLayout>

namespace tavro::share::ui {

namespace {

constexpr int kIconSize = 20;
constexpr int kIconGap = 8;

}  // namespace

PayloadLabel::PayloadLabel(const QIcon& icon, QString text, QWidget* parent)
    : QWidget(parent), icon_(icon), text_(std::move(text)) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    setToolTip(text_);
}

int PayloadLabel::textLeft() const {
    return kIconSize + kIconGap;
}

int PayloadLabel::textWidth(int width) const {
    return std::max(1, width - textLeft());
}

QStringList PayloadLabel::visibleLines(int width) const {
    QStringList lines;
    QTextLayout layout(text_, font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    const int available = textWidth(width);
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(available);
        if (lines.size() == kMaximumLines - 1) {
            // The last line takes the rest of the text, shortened to fit.
            QString rest = text_.mid(line.textStart()).simplified();
            lines << fontMetrics().elidedText(rest, Qt::ElideRight, available);
            break;
        }
        lines << text_.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return lines;
}

int PayloadLabel::heightForWidth(int width) const {
    qsizetype lines = std::max<qsizetype>(1, visibleLines(width).size());
    return std::max<int>(kIconSize, int(lines) * fontMetrics().lineSpacing());
}

QSize PayloadLabel::sizeHint() const {
    const int width = textLeft() + std::min(fontMetrics().horizontalAdvance(text_), 360);
    return {width, heightForWidth(width)};
}

QSize PayloadLabel::minimumSizeHint() const {
    return {textLeft() + fontMetrics().averageCharWidth() * 8, kIconSize};
}

void PayloadLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int lineSpacing = fontMetrics().lineSpacing();
    const QStringList lines = visibleLines(width());
    const int textHeight = int(lines.size()) * lineSpacing;
    const int iconTop = std::max(0, (std::min(textHeight, lineSpacing) - kIconSize) / 2);
    icon_.paint(&painter, QRect(0, iconTop, kIconSize, kIconSize));
    int baseline = fontMetrics().ascent();
    for (const QString& line : lines) {
        painter.drawText(textLeft(), baseline, line);
        baseline += lineSpacing;
    }
}

}  // namespace tavro::share::ui
