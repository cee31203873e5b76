// SPDX-License-Identifier: MIT
#pragma once

#include "mappingdata.h"

#include <QFrame>

#include <optional>

class QLabel;
class QToolButton;

// One tile of the mapping window: the transport's picture (click to learn it), the
// learnt control's main line and its second line. The tile shows a control, never
// the device it came from: Live maps by channel and number, whatever the input.
class MappingCell final : public QFrame
{
    Q_OBJECT

public:
    MappingCell(int tag, const QString &image, QWidget *parent = nullptr);

    int tag() const { return m_tag; }
    QToolButton *button() const { return m_button; }
    QString valueText() const;
    QString qualifierText() const;
    bool isSelected() const { return m_selected; }

    void setSelected(bool selected);
    // None shows "Not mapped" over an em dash.
    void configure(const std::optional<MappingData> &mapping);

signals:
    void clicked(int tag);

private:
    void updateAppearance();

    int m_tag;
    bool m_selected = false;
    QToolButton *m_button;
    QLabel *m_valueLabel;
    QLabel *m_qualifierLabel;
};
