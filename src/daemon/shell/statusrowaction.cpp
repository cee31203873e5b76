// SPDX-License-Identifier: MIT
#include "statusrowaction.h"

#include "menufont.h"

#include <QLabel>

StatusRowAction::StatusRowAction(const QString &text, const QColor &color, QObject *parent)
    : QWidgetAction(parent), m_label(new QLabel)
{
    m_label->setFont(menuFont(12));
    m_label->setTextFormat(Qt::RichText);
    m_label->setContentsMargins(14, 3, 14, 3); // lines up with the port row
    setDefaultWidget(m_label);                 // the action owns it
    setStatus(text, color);
}

void StatusRowAction::setStatus(const QString &text, const QColor &color)
{
    m_text = text;
    m_color = color;
    setText(QStringLiteral("\u25CF ") + text);
    m_label->setText(QStringLiteral("<span style=\"color:%1\">\u25CF </span>%2")
                         .arg(color.name(), text.toHtmlEscaped()));
}
