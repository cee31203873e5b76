// SPDX-License-Identifier: MIT
#pragma once

#include <QColor>
#include <QPalette>

// The status menu's colours. The fixed ones are mid-tones that read on light and
// dark menus alike; the label colours follow the menu's palette.
namespace statuscolors {

inline const QColor green{0x2e, 0xa8, 0x4a};
inline const QColor orange{0xf0, 0x8a, 0x00};
inline const QColor grey{0x8e, 0x8e, 0x93};
inline const QColor red{0xe0, 0x35, 0x2b};
inline const QColor systemOrange{0xff, 0x95, 0x00};
inline const QColor systemRed{0xff, 0x3b, 0x30};

inline QColor label(const QPalette &palette)
{
    return palette.color(QPalette::WindowText);
}

inline QColor secondaryLabel(const QPalette &palette)
{
    QColor c = label(palette);
    c.setAlphaF(0.55f);
    return c;
}

} // namespace statuscolors
