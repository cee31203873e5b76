// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// A QR code of a short text (the web remote's address), for the menu and the
// terminal. Modules are dark (true) or light; the quiet zone is not included.
class QrCode final
{
public:
    static std::optional<QrCode> encode(const QByteArray &text);

    int size() const { return m_size; }
    bool isDark(int x, int y) const;

    // Two module rows per text line with half blocks, light modules drawn, for a
    // terminal with light text on a dark background; a quiet zone of two modules.
    QString toTerminalText() const;

private:
    int m_size = 0;
    QList<bool> m_modules; // row by row
};
