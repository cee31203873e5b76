// SPDX-License-Identifier: MIT
#include "backgroundcolorbox.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

BackgroundColorBox::BackgroundColorBox(QWidget *parent) : QFrame(parent)
{
    setAttribute(Qt::WA_StyledBackground, false);
}

void BackgroundColorBox::setBackgroundAlpha(double alpha)
{
    m_backgroundAlpha = alpha;
    update();
}

void BackgroundColorBox::setTriangleAlpha(double alpha)
{
    m_triangleAlpha = alpha;
    update();
}

QPolygonF BackgroundColorBox::triangle() const
{
    const double w = width();
    const double h = height();
    return QPolygonF({QPointF(0, 0), QPointF(w, 0), QPointF(0, h)});
}

void BackgroundColorBox::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QColor background(Qt::black);
    background.setAlphaF(float(m_backgroundAlpha));
    painter.fillRect(event->rect(), background);

    QPainterPath path;
    path.addPolygon(triangle());
    path.closeSubpath();

    // A wide soft blue shadow, offset right and down, approximated by widening strokes;
    // like a real shadow it fades with the triangle, so alpha 0 leaves only the background.
    QPainterPath shadow = path.translated(5.0, 5.0);
    constexpr int layers = 8;
    for (int i = layers; i >= 1; --i) {
        QColor glow(0, 0, 255);
        glow.setAlphaF(float(0.2 / layers * m_triangleAlpha));
        painter.setPen(QPen(glow, i * 10.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(shadow);
    }
    QColor fill(Qt::black);
    fill.setAlphaF(float(m_triangleAlpha));
    painter.setPen(Qt::NoPen);
    painter.fillPath(path, fill);
}
