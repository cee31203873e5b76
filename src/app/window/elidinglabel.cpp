// SPDX-License-Identifier: MIT
#include "elidinglabel.h"

#include <QPainter>
#include <QStyle>

namespace {

QString oneLine(const QString &text)
{
    return QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '));
}

} // namespace

QString ElidingLabel::shownText() const
{
    return fontMetrics().elidedText(oneLine(text()), Qt::ElideRight, contentsRect().width());
}

QSize ElidingLabel::sizeHint() const
{
    const QMargins margins = contentsMargins();
    return {fontMetrics().horizontalAdvance(oneLine(text())) + margins.left() + margins.right(),
            fontMetrics().height() + margins.top() + margins.bottom()};
}

QSize ElidingLabel::minimumSizeHint() const
{
    // Room for the ellipsis alone: the rest of the row decides the width.
    const QSize full = sizeHint();
    return {qMin(full.width(), fontMetrics().horizontalAdvance(QStringLiteral("…"))),
            full.height()};
}

void ElidingLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    style()->drawItemText(&painter, contentsRect(), int(alignment()) | Qt::TextSingleLine,
                          palette(), isEnabled(), shownText(), foregroundRole());
}
