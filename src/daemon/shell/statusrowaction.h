// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QWidgetAction>

class QLabel;

// One status line of the menu: "● " in the state's colour, then the text in the
// label colour. It has no action; the action's own text carries the plain line.
class StatusRowAction final : public QWidgetAction
{
    Q_OBJECT

public:
    StatusRowAction(const QString &text, const QColor &color, QObject *parent = nullptr);

    void setStatus(const QString &text, const QColor &color);
    QString statusText() const { return m_text; }
    QColor statusColor() const { return m_color; }

private:
    QLabel *m_label;
    QString m_text;
    QColor m_color;
};
