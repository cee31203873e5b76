// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QList>
#include <QStringList>

// Short ways to make songs and to compare song lists by name in tests.
namespace songlists {

inline Song song(quint64 id, const QString &name, const QString &length = QStringLiteral("3:00"))
{
    return Song{id, name, length};
}

inline QStringList names(const QList<Song> &songs)
{
    QStringList out;
    for (const Song &s : songs)
        out.append(s.name);
    return out;
}

} // namespace songlists
