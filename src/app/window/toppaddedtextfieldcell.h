// SPDX-License-Identifier: MIT
#pragma once

#include <QStyledItemDelegate>

// Draws a table cell's text 2 points lower than the style would, which centres the
// large stage font optically in its row.
class TopPaddedTextFieldCell final : public QStyledItemDelegate
{
    Q_OBJECT

public:
    explicit TopPaddedTextFieldCell(QObject *parent = nullptr);

    static constexpr int topPadding = 2;
    static QRect drawingRectForBounds(const QRect &bounds);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
