// SPDX-License-Identifier: MIT
#pragma once

#include <QApplication>
#include <QFont>
#include <QMenu>

// The menu rows were drawn for a 14-point menu font; other platforms' menus use
// other sizes, so each size keeps its proportion to the menu's own font.
inline QFont menuFont(qreal designPoints)
{
    QFont font = QApplication::font("QMenu");
    font.setPointSizeF(font.pointSizeF() * designPoints / 14.0);
    return font;
}
