// SPDX-License-Identifier: MIT
#include "portmenuitemview.h"

#include "listenport.h"
#include "menufont.h"
#include "statuscolors.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>

namespace {

constexpr int viewHeight = 52;

// Frames are given from the bottom left, as the menu's designer drew them.
QRect fromBottom(int x, int y, int width, int height)
{
    return {x, viewHeight - y - height, width, height};
}

void setPointSize(QWidget *widget, int points)
{
    widget->setFont(menuFont(points));
}

// Blanks but not line ends: a pasted "9000\n" is not a port.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

} // namespace

PortMenuItemView::PortMenuItemView(const QSettings &settings, QWidget *parent)
    : PortMenuItemView(
          QStringLiteral("Port:"), [&settings] { return listenport::wanted(settings); }, parent)
{}

PortMenuItemView::PortMenuItemView(const QString &label, std::function<quint16()> wantedPort,
                                   QWidget *parent)
    : QWidget(parent), m_wantedPort(std::move(wantedPort)), m_field(new QLineEdit(this)),
      m_applyButton(new QPushButton(QStringLiteral("Apply"), this)), m_statusLabel(new QLabel(this))
{
    setFixedSize(240, viewHeight);
    auto *portLabel = new QLabel(label, this);
    portLabel->setGeometry(fromBottom(14, 26, 36, 18));
    setPointSize(portLabel, 13);
    m_field->setGeometry(fromBottom(52, 24, 64, 22));
    m_field->setAlignment(Qt::AlignRight);
    m_field->setText(QString::number(m_wantedPort()));
    setPointSize(m_field, 13);
    m_applyButton->setGeometry(fromBottom(124, 20, 72, 26));
    setPointSize(m_applyButton, 13);
    m_statusLabel->setGeometry(fromBottom(14, 4, 212, 16));
    setPointSize(m_statusLabel, 11);
    setStatus({}, statuscolors::secondaryLabel(palette()));

    connect(m_field, &QLineEdit::returnPressed, this, &PortMenuItemView::apply);
    connect(m_applyButton, &QPushButton::clicked, this, &PortMenuItemView::apply);
}

void PortMenuItemView::setStatus(const QString &text, const QColor &color)
{
    m_statusColor = color;
    QPalette labelPalette = m_statusLabel->palette();
    labelPalette.setColor(QPalette::WindowText, color);
    m_statusLabel->setPalette(labelPalette);
    m_statusLabel->setText(text);
}

std::optional<quint16> PortMenuItemView::parsePort(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    if (begin < end && text[begin] == u'+')
        ++begin;
    if (begin == end)
        return std::nullopt;
    uint value = 0;
    for (qsizetype i = begin; i < end; ++i) {
        if (text[i] < u'0' || text[i] > u'9')
            return std::nullopt;
        value = value * 10 + uint(text[i].unicode() - u'0');
        if (value > 65535) // stops before a long entry can overflow
            return std::nullopt;
    }
    if (value < 1024 || value > 65535)
        return std::nullopt;
    return quint16(value);
}

void PortMenuItemView::apply()
{
    if (const auto port = parsePort(m_field->text())) {
        if (m_onApply)
            m_onApply(*port);
        return;
    }
    setStatus(QStringLiteral("Enter a port between 1024 and 65535"), statuscolors::systemRed);
    m_field->setText(QString::number(m_wantedPort()));
}
