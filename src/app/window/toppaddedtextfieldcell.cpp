// SPDX-License-Identifier: MIT
#include "toppaddedtextfieldcell.h"

TopPaddedTextFieldCell::TopPaddedTextFieldCell(QObject *parent) : QStyledItemDelegate(parent) {}

QRect TopPaddedTextFieldCell::drawingRectForBounds(const QRect &bounds)
{
    return bounds.translated(0, topPadding);
}

void TopPaddedTextFieldCell::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    // The selection background keeps the full row; only the text moves down.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    const QString text = background.text;
    background.text.clear();
    QStyledItemDelegate::paint(painter, background, index);

    QStyleOptionViewItem textOption = option;
    initStyleOption(&textOption, index);
    textOption.rect = drawingRectForBounds(option.rect);
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
    QStyledItemDelegate::paint(painter, textOption, index);
}
