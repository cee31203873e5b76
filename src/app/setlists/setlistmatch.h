// SPDX-License-Identifier: MIT
#pragma once

#include "savedsetlist.h"

#include <QList>
#include <QString>

#include <optional>

// A saved setlist laid against the open set's song pool. Each entry is found by song
// id, else by exact name, else by name ignoring case and spacing; one not found is
// missing: kept in the saved setlist, never sent to Live.
struct SetlistMatch
{
    enum class How
    {
        Id,
        Name,
        LooseName,
        Missing
    };
    QList<How> how;                   // one per saved entry
    QList<std::optional<Song>> found; // the pool's song for each entry
    int missing = 0;

    // The songs to upload, in order, without the missing ones.
    QList<Song> songsToSend() const;
    // The pool ids of the entries marked "stop after" that were found, once each.
    QList<quint64> markedIds(const QList<SetlistEntry> &entries) const;
    // "3 of 14 songs are not in this set", or empty when none is missing.
    QString missingSummary() const;

    static SetlistMatch match(const QList<SetlistEntry> &entries, const QList<Song> &pool);
    // The name as the loose match compares it: case folded, without any white space.
    static QString looseName(const QString &name);
};
