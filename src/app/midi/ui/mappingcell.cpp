// SPDX-License-Identifier: MIT
#include "mappingcell.h"

#include "mappingtext.h"

#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const char *const unmappedStyle = "color: rgba(235, 235, 245, 0.3); font-size: 11pt;";
const char *const mappedStyle = "color: #f2f2f7; font-size: 12.5pt; font-weight: 500;";

} // namespace

MappingCell::MappingCell(int tag, const QString &image, QWidget *parent)
    : QFrame(parent), m_tag(tag), m_button(new QToolButton(this)), m_valueLabel(new QLabel(this)),
      m_qualifierLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("mappingCell%1").arg(tag));
    m_button->setIcon(QIcon(QStringLiteral(":/tiles/") + image));
    m_button->setIconSize(QSize(42, 42));
    m_button->setFixedSize(42, 42);
    m_button->setAutoRaise(true);
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setStyleSheet(QStringLiteral("QToolButton { border: 0; background: transparent; }"));
    connect(m_button, &QToolButton::clicked, this, [this] { emit clicked(m_tag); });

    m_valueLabel->setAlignment(Qt::AlignCenter);
    m_qualifierLabel->setAlignment(Qt::AlignCenter);
    m_qualifierLabel->setStyleSheet(
        QStringLiteral("color: rgba(235, 235, 245, 0.3); font-size: 9pt;"));
    // Monospaced digits keep "CC 7" and "CC 17" from jumping as the performer plays.
    QFont digits = m_valueLabel->font();
    digits.setStyleHint(QFont::TypeWriter);
    m_valueLabel->setFont(digits);

    auto *stack = new QVBoxLayout(this);
    stack->setContentsMargins(5, 9, 5, 8);
    stack->setSpacing(5);
    stack->addWidget(m_button, 0, Qt::AlignHCenter);
    stack->addWidget(m_valueLabel);
    stack->addWidget(m_qualifierLabel);

    configure(std::nullopt);
    updateAppearance();
}

QString MappingCell::valueText() const
{
    return m_valueLabel->text();
}

QString MappingCell::qualifierText() const
{
    return m_qualifierLabel->text();
}

void MappingCell::setSelected(bool selected)
{
    m_selected = selected;
    updateAppearance();
}

void MappingCell::configure(const std::optional<MappingData> &mapping)
{
    if (!mapping) {
        m_valueLabel->setText(QStringLiteral("Not mapped"));
        m_valueLabel->setStyleSheet(QLatin1String(unmappedStyle));
        m_qualifierLabel->setText(QStringLiteral("\u2014"));
        return;
    }
    m_valueLabel->setText(mappingtext::valueText(*mapping));
    m_valueLabel->setStyleSheet(QLatin1String(mappedStyle));
    m_qualifierLabel->setText(mappingtext::qualifierText(*mapping));
}

void MappingCell::updateAppearance()
{
    // The accent is the show window's blue, so a selected tile reads as "armed".
    setStyleSheet(m_selected ? QStringLiteral("MappingCell { background: rgba(10, 132, 255, 0.16);"
                                              " border: 1px solid rgba(10, 132, 255, 0.55);"
                                              " border-radius: 9px; }")
                             : QStringLiteral("MappingCell { background: rgba(255, 255, 255, 0.03);"
                                              " border: 1px solid rgba(255, 255, 255, 0.07);"
                                              " border-radius: 9px; }"));
}
