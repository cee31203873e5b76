// SPDX-License-Identifier: MIT
#include "setlistmatch.h"

#include <QHash>

QString SetlistMatch::looseName(const QString &name)
{
    QString out;
    out.reserve(name.size());
    for (const QChar c : name.toCaseFolded()) {
        if (!c.isSpace())
            out.append(c);
    }
    return out;
}

SetlistMatch SetlistMatch::match(const QList<SetlistEntry> &entries, const QList<Song> &pool)
{
    // The first pool song wins when names repeat, as the pool lists them.
    QHash<quint64, qsizetype> byId;
    QHash<QString, qsizetype> byName;
    QHash<QString, qsizetype> byLoose;
    for (qsizetype i = 0; i < pool.size(); ++i) {
        if (!byId.contains(pool[i].id))
            byId.insert(pool[i].id, i);
        if (!byName.contains(pool[i].name))
            byName.insert(pool[i].name, i);
        if (const QString loose = looseName(pool[i].name); !byLoose.contains(loose))
            byLoose.insert(loose, i);
    }
    SetlistMatch result;
    for (const SetlistEntry &entry : entries) {
        std::optional<qsizetype> index;
        How how = How::Missing;
        if (const auto it = byId.constFind(entry.songId); entry.songId != 0 && it != byId.cend()) {
            index = *it;
            how = How::Id;
        } else if (const auto n = byName.constFind(entry.name); n != byName.cend()) {
            index = *n;
            how = How::Name;
        } else if (const auto l = byLoose.constFind(looseName(entry.name));
                   l != byLoose.cend() && !l.key().isEmpty()) {
            index = *l;
            how = How::LooseName;
        }
        result.how.append(how);
        result.found.append(index ? std::optional<Song>(pool[*index]) : std::nullopt);
        if (!index)
            ++result.missing;
    }
    return result;
}

QList<Song> SetlistMatch::songsToSend() const
{
    QList<Song> songs;
    for (const std::optional<Song> &song : found) {
        if (song)
            songs.append(*song);
    }
    return songs;
}

QList<quint64> SetlistMatch::markedIds(const QList<SetlistEntry> &entries) const
{
    QList<quint64> ids;
    for (qsizetype i = 0; i < entries.size() && i < found.size(); ++i) {
        if (entries[i].stopAfter && found[i] && !ids.contains(found[i]->id))
            ids.append(found[i]->id);
    }
    return ids;
}

QString SetlistMatch::missingSummary() const
{
    if (missing == 0)
        return {};
    const qsizetype total = found.size();
    if (total == 1)
        return QStringLiteral("The song is not in this set");
    return (missing == 1 ? QStringLiteral("%1 of %2 songs is not in this set")
                         : QStringLiteral("%1 of %2 songs are not in this set"))
        .arg(missing)
        .arg(total);
}
