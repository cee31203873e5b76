// SPDX-License-Identifier: MIT
#pragma once

#include <QList>
#include <QMetaType>
#include <QString>
#include <QtGlobal>

// One song of the pool or the setlist, as the Remote Script reports it.
struct Song
{
    quint64 id = 0;
    QString name;
    QString length; // free text, normally "m:ss" or "h:mm:ss"

    friend bool operator==(const Song &, const Song &) = default;
};

Q_DECLARE_METATYPE(Song)
