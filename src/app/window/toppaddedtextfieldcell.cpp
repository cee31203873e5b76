// SPDX-License-Identifier: MIT
#include "toppaddedtextfieldcell.h"

#include "livelinkcodec.h"
#include "songtablemodel.h"

#include <QApplication>
#include <QPainter>

namespace {

constexpr int kRightPadding = 14;
constexpr int kGap = 12;
const QColor kStopRed(0xff, 0x45, 0x3a);

} // namespace

TopPaddedTextFieldCell::TopPaddedTextFieldCell(QObject *parent) : QStyledItemDelegate(parent) {}

QRect TopPaddedTextFieldCell::drawingRectForBounds(const QRect &bounds)
{
    return bounds.translated(0, topPadding);
}

void TopPaddedTextFieldCell::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    // The selection background keeps the full row; only the text moves down. The style draws
    // straight from these options: the delegate's own paint() would read the text back from
    // the model and draw it unshortened under the length.
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    const QString text = background.text;
    background.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    QStyleOptionViewItem textOption = option;
    initStyleOption(&textOption, index);
    textOption.rect = drawingRectForBounds(option.rect);
    // The length (and a setlist row's stop mark) sit at the right; the name gives way.
    const QString length = index.data(SongTableModel::LengthRole).toString();
    const uint marks = index.data(SongTableModel::MarksRole).toUInt();
    if (!length.isEmpty() || marks) {
        const QFontMetrics metrics(textOption.font);
        const bool isSelected = option.state & QStyle::State_Selected;
        const QRect area = textOption.rect.adjusted(0, 0, -kRightPadding, 0);
        int left = area.right() - metrics.horizontalAdvance(length);
        painter->save();
        painter->setFont(textOption.font);
        painter->setPen(
            option.palette.color(isSelected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(area, Qt::AlignRight | Qt::AlignVCenter, length);
        if (marks) {
            // A stop square: filled for the user's mark, outlined for a STOP locator.
            const int side = metrics.capHeight();
            left -= (length.isEmpty() ? 0 : kGap) + side;
            const QRectF square(left, area.center().y() - side / 2.0, side, side);
            painter->setRenderHint(QPainter::Antialiasing);
            if (marks & livelink::SetlistMarks::StopAfter) {
                painter->setPen(isSelected ? QPen(Qt::white, 2) : QPen(Qt::NoPen));
                painter->setBrush(kStopRed);
            } else {
                painter->setPen(QPen(kStopRed, 3));
                painter->setBrush(Qt::NoBrush);
            }
            painter->drawRoundedRect(square, 3, 3);
        }
        painter->restore();
        textOption.rect.setRight(left - kGap);
    }
    textOption.backgroundBrush = Qt::NoBrush;
    textOption.state &= ~QStyle::State_HasFocus;
    textOption.text = text;
    textOption.showDecorationSelected = false;
    // Selected rows are already painted; draw only the text on top.
    const QStyle::State selected = textOption.state & QStyle::State_Selected;
    textOption.state &= ~QStyle::State_Selected;
    if (selected)
        textOption.palette.setColor(QPalette::Text,
                                    option.palette.color(QPalette::HighlightedText));
    style->drawControl(QStyle::CE_ItemViewItem, &textOption, painter, widget);
}
