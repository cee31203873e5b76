// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

// One song of a saved setlist, as Live last reported it when the setlist was saved.
struct SetlistEntry
{
    quint64 songId = 0; // 0: unknown (an imported plain-text list)
    QString name;
    QString length;
    bool stopAfter = false;

    friend bool operator==(const SetlistEntry &, const SetlistEntry &) = default;
};

// A named setlist of the library. setName/setKey name the Live Set it was saved from.
struct SavedSetlist
{
    qint64 id = 0; // row id in the store; 0 until stored
    QString name;
    QString setName;
    QString setKey;
    QDateTime savedAt;
    QList<SetlistEntry> entries;
};

namespace setlistnames {

// Longest name kept, in characters; a song name travels in at most 255 bytes anyway.
constexpr int kMaxNameLength = 120;

// The name trimmed, with runs of white space made one space; none when nothing is left.
std::optional<QString> normalized(const QString &name);
// wanted, or wanted with " (2)", " (3)"… so that no name in taken (compared ignoring
// case) is repeated. wanted must be normalized.
QString unique(const QString &wanted, const QStringList &taken);

} // namespace setlistnames

// The Live Set as the application can tell it apart: Live does not report the file's
// name, so the set is known by its song pool. key is stable while the pool's song names
// are; label is what people read ("First song … Last song, 14 songs").
struct OpenSetIdentity
{
    QString key;
    QString label;
    static OpenSetIdentity fromPool(const QList<Song> &pool);
};
