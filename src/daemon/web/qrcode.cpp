// SPDX-License-Identifier: MIT
#include "qrcode.h"

#include <qrencode.h>

#include <memory>

std::optional<QrCode> QrCode::encode(const QByteArray &text)
{
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    if (!code)
        return std::nullopt;
    QrCode out;
    out.m_size = code->width;
    out.m_modules.reserve(code->width * code->width);
    for (int i = 0; i < code->width * code->width; ++i)
        out.m_modules.append(code->data[i] & 1); // bit 0 is the module's colour
    return out;
}

bool QrCode::isDark(int x, int y) const
{
    if (x < 0 || y < 0 || x >= m_size || y >= m_size)
        return false; // the quiet zone around the code
    return m_modules.at(y * m_size + x);
}

QString QrCode::toTerminalText() const
{
    constexpr int quiet = 2;
    QString out;
    for (int y = -quiet; y < m_size + quiet; y += 2) {
        for (int x = -quiet; x < m_size + quiet; ++x) {
            const bool topLight = !isDark(x, y);
            const bool bottomLight = !isDark(x, y + 1);
            if (topLight && bottomLight)
                out += QChar(0x2588); // full block
            else if (topLight)
                out += QChar(0x2580); // upper half
            else if (bottomLight)
                out += QChar(0x2584); // lower half
            else
                out += QLatin1Char(' ');
        }
        out += QLatin1Char('\n');
    }
    return out;
}
