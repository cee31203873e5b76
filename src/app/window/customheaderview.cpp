// SPDX-License-Identifier: MIT
#include "customheaderview.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QPainter>

CustomHeaderView::CustomHeaderView(QWidget *parent) : QHeaderView(Qt::Horizontal, parent)
{
    setSectionsClickable(false);
    setSectionsMovable(false);
    setHighlightSections(false);
    setStretchLastSection(true);
}

void CustomHeaderView::setIsSetList(bool isSetList)
{
    m_isSetList = isSetList;
    viewport()->update();
}

QString CustomHeaderView::title() const
{
    return m_isSetList ? QStringLiteral("S E T L I S T") : QStringLiteral("S O N G P O O L");
}

QFont CustomHeaderView::titleFont()
{
    // The database lists family names; the thinnest of the family's weights (its
    // "W0") is chosen by weight, not by the PostScript name.
    const QString family = QStringLiteral("Hiragino Sans");
    if (QFontDatabase::families().contains(family)) {
        return QFont(family, titlePointSize, QFont::Thin);
    }
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(titlePointSize);
    return font;
}

void CustomHeaderView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    const QRect r = viewport()->rect();
    painter.fillRect(r, Qt::black);
    painter.setFont(titleFont());
    painter.setPen(Qt::white);
    painter.drawText(r, Qt::AlignCenter, title());
}

QSize CustomHeaderView::sizeHint() const
{
    QSize size = QHeaderView::sizeHint();
    size.setHeight(qMax(size.height(), QFontMetrics(titleFont()).height() + 14));
    return size;
}
