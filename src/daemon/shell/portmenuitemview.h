// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;

// A menu row for a listener's port (the phone's, OSC's): a label, the field, "Apply"
// and one status line. It only checks the entry; storing it and rebinding belong to whoever
// set onApply, and the status line follows what the listener then reports.
class PortMenuItemView final : public QWidget
{
    Q_OBJECT

public:
    // The phone listener's row: "Port:" and listenport::wanted.
    explicit PortMenuItemView(const QSettings &settings, QWidget *parent = nullptr);
    // Shows the configured port (wantedPort); a refused entry puts it back.
    PortMenuItemView(const QString &label, std::function<quint16()> wantedPort,
                     QWidget *parent = nullptr);

    QLineEdit *field() const { return m_field; }
    QPushButton *applyButton() const { return m_applyButton; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QColor statusColor() const { return m_statusColor; }

    void setOnApply(std::function<void(quint16)> onApply) { m_onApply = std::move(onApply); }
    void setStatus(const QString &text, const QColor &color);

    // The action of the field's Return and of the button.
    void apply();

    // A port from 1024 to 65535 in decimal, blanks around it and a leading "+" allowed.
    static std::optional<quint16> parsePort(const QString &text);

private:
    std::function<quint16()> m_wantedPort;
    QLineEdit *m_field;
    QPushButton *m_applyButton;
    QLabel *m_statusLabel;
    QColor m_statusColor;
    std::function<void(quint16)> m_onApply;
};
