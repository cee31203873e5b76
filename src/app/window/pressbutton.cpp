// SPDX-License-Identifier: MIT
#include "pressbutton.h"

#include <QMouseEvent>
#include <QPointer>
#include <QTimer>

PressButton::PressButton(QWidget *parent) : QPushButton(parent)
{
    setAutoRepeat(false);
}

void PressButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    click();
    setDown(true);
    QPointer<PressButton> self(this);
    QTimer::singleShot(highlightMs, this, [self] {
        if (self)
            self->setDown(false);
    });
}

// The base tracking would fire again on release; the press already did.
void PressButton::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void PressButton::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}
