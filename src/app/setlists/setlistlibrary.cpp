// SPDX-License-Identifier: MIT
#include "setlistlibrary.h"

#include "livelinksender.h"
#include "log.h"
#include "setliststore.h"

#include <algorithm>

SetlistLibrary::SetlistLibrary(SetlistStore &store, QObject *parent)
    : QAbstractListModel(parent), m_store(store)
{}

int SetlistLibrary::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant SetlistLibrary::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const SavedSetlist &s = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return s.name;
    case Qt::ToolTipRole:
        return QStringLiteral("%1 songs, saved from %2")
            .arg(s.entries.size())
            .arg(s.setName.isEmpty() ? QStringLiteral("an unknown set") : s.setName);
    case FromOpenSetRole:
        return !m_openSet.key.isEmpty() && s.setKey == m_openSet.key;
    case SongCountRole:
        return int(s.entries.size());
    default:
        return {};
    }
}

int SetlistLibrary::failWith(const QString &what)
{
    m_lastError = what;
    mlog::out(QStringLiteral("Setlist library: ") + what);
    emit failed(what);
    return -1;
}

bool SetlistLibrary::reload()
{
    const std::optional<QList<SavedSetlist>> rows = m_store.readAll();
    if (!rows) {
        failWith(
            QStringLiteral("The setlist library cannot be read: %1.").arg(m_store.lastError()));
        return false;
    }
    beginResetModel();
    m_rows = *rows;
    sortOpenSetFirst();
    endResetModel();
    return true;
}

void SetlistLibrary::sortOpenSetFirst()
{
    std::stable_partition(m_rows.begin(), m_rows.end(), [this](const SavedSetlist &s) {
        return !m_openSet.key.isEmpty() && s.setKey == m_openSet.key;
    });
}

void SetlistLibrary::setOpenSet(const OpenSetIdentity &openSet)
{
    if (openSet.key == m_openSet.key)
        return;
    m_openSet = openSet;
    // The stored order is the performer's; only the grouping follows the open set.
    reload();
}

int SetlistLibrary::rowOfName(const QString &name) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].name == name)
            return i;
    }
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QStringList SetlistLibrary::namesExcept(int row) const
{
    QStringList names;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (i != row)
            names.append(m_rows[i].name);
    }
    return names;
}

bool SetlistLibrary::writeOrder()
{
    QList<qint64> ids;
    for (const SavedSetlist &s : m_rows)
        ids.append(s.id);
    return m_store.writeOrder(ids);
}

int SetlistLibrary::insertAt(SavedSetlist setlist, int row, const QString &what)
{
    row = std::clamp(row, 0, int(m_rows.size()));
    if (!m_store.insert(setlist, row))
        return failWith(QStringLiteral("%1 was not saved: %2.").arg(what, m_store.lastError()));
    beginInsertRows({}, row, row);
    m_rows.insert(row, setlist);
    endInsertRows();
    // The setlist is kept either way; only its place could be lost.
    if (!writeOrder())
        failWith(QStringLiteral("The library's order was not saved: %1.").arg(m_store.lastError()));
    return row;
}

int SetlistLibrary::saveCurrent(const QString &name, const QList<Song> &setlist,
                                const std::function<bool(quint64)> &stopAfter)
{
    const std::optional<QString> wanted = setlistnames::normalized(name);
    if (!wanted)
        return failWith(QStringLiteral("A setlist needs a name."));
    if (setlist.isEmpty())
        return failWith(QStringLiteral("The setlist in Live is empty; there is nothing to save."));
    SavedSetlist s;
    s.name = setlistnames::unique(*wanted, namesExcept(-1));
    s.setName = m_openSet.label;
    s.setKey = m_openSet.key;
    s.savedAt = QDateTime::currentDateTimeUtc();
    for (const Song &song : setlist)
        s.entries.append({song.id, song.name, song.length, stopAfter && stopAfter(song.id)});
    // A setlist of the open set goes at the end of that set's group.
    int row = 0;
    while (row < m_rows.size() && data(index(row), FromOpenSetRole).toBool())
        ++row;
    return insertAt(s, m_openSet.key.isEmpty() ? int(m_rows.size()) : row,
                    QStringLiteral("\"%1\"").arg(s.name));
}

int SetlistLibrary::addImported(SavedSetlist setlist)
{
    setlist.name = setlistnames::unique(
        setlistnames::normalized(setlist.name).value_or(QStringLiteral("Imported setlist")),
        namesExcept(-1));
    setlist.id = 0;
    setlist.savedAt = QDateTime::currentDateTimeUtc();
    return insertAt(setlist, int(m_rows.size()), QStringLiteral("\"%1\"").arg(setlist.name));
}

int SetlistLibrary::rename(int row, const QString &name)
{
    if (row < 0 || row >= m_rows.size())
        return -1;
    const std::optional<QString> wanted = setlistnames::normalized(name);
    if (!wanted)
        return failWith(QStringLiteral("A setlist needs a name."));
    const QString unique = setlistnames::unique(*wanted, namesExcept(row));
    if (!m_store.rename(m_rows[row].id, unique))
        return failWith(QStringLiteral("\"%1\" was not renamed: %2.")
                            .arg(m_rows[row].name, m_store.lastError()));
    m_rows[row].name = unique;
    emit dataChanged(index(row), index(row));
    return row;
}

int SetlistLibrary::duplicate(int row)
{
    if (row < 0 || row >= m_rows.size())
        return -1;
    SavedSetlist copy = m_rows[row];
    copy.id = 0;
    copy.name = setlistnames::unique(copy.name, namesExcept(-1));
    return insertAt(copy, row + 1, QStringLiteral("The copy \"%1\"").arg(copy.name));
}

int SetlistLibrary::move(int row, int delta)
{
    const int to = row + delta;
    if (row < 0 || row >= m_rows.size() || to < 0 || to >= m_rows.size() || delta == 0)
        return -1;
    beginMoveRows({}, row, row, {}, to > row ? to + 1 : to);
    m_rows.move(row, to);
    endMoveRows();
    if (!writeOrder()) {
        beginMoveRows({}, to, to, {}, row > to ? row + 1 : row);
        m_rows.move(to, row);
        endMoveRows();
        return failWith(
            QStringLiteral("The new order was not saved: %1.").arg(m_store.lastError()));
    }
    return to;
}

bool SetlistLibrary::remove(int row)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    if (!m_store.remove(m_rows[row].id)) {
        failWith(QStringLiteral("\"%1\" was not deleted: %2.")
                     .arg(m_rows[row].name, m_store.lastError()));
        return false;
    }
    beginRemoveRows({}, row, row);
    m_removed.append({row, m_rows.takeAt(row)});
    endRemoveRows();
    return true;
}

int SetlistLibrary::undoRemove()
{
    if (m_removed.isEmpty())
        return -1;
    auto [row, setlist] = m_removed.constLast();
    setlist.id = 0;
    // A name given to another setlist since the delete stays with that one.
    setlist.name = setlistnames::unique(setlist.name, namesExcept(-1));
    const int at = insertAt(setlist, row, QStringLiteral("\"%1\"").arg(setlist.name));
    if (at >= 0)
        m_removed.removeLast();
    return at;
}

SetlistLibrary::LoadPlan SetlistLibrary::planLoad(int row, const Show &show) const
{
    LoadPlan plan;
    if (row < 0 || row >= m_rows.size())
        return plan;
    const SavedSetlist &s = m_rows[row];
    plan.match = SetlistMatch::match(s.entries, show.pool);
    plan.songs = plan.match.songsToSend();
    plan.summary = plan.match.missingSummary();
    plan.possible = !plan.songs.isEmpty();
    if (!plan.possible) {
        plan.summary =
            QStringLiteral("None of the songs of \"%1\" is in this set; nothing can be loaded.")
                .arg(s.name);
        return plan;
    }
    // The playing song keeps its place when the new setlist has it at the same position.
    const int at = show.selectedIndex;
    if (show.playing && at >= 0 && at < show.setlist.size()) {
        const Song &playing = show.setlist[at];
        const bool keeps = at < plan.songs.size() && plan.songs[at].id == playing.id;
        if (!keeps)
            plan.question = QStringLiteral("Live is playing \"%1\". Loading \"%2\" changes its "
                                           "place in the setlist. Load it now?")
                                .arg(playing.name, s.name);
    }
    return plan;
}

void SetlistLibrary::load(const LoadPlan &plan, const QList<SetlistEntry> &entries,
                          LiveLinkSender &sender,
                          const std::function<bool(quint64)> &currentStopAfter) const
{
    if (!plan.possible)
        return;
    sender.sendSetlist(plan.songs);
    // Live keeps the marks of songs that stay in the setlist: set or clear only those
    // that differ from the saved setlist's.
    const QList<quint64> marked = plan.match.markedIds(entries);
    QList<quint64> seen;
    for (const Song &song : plan.songs) {
        if (seen.contains(song.id))
            continue;
        seen.append(song.id);
        const bool want = marked.contains(song.id);
        const bool has = currentStopAfter && currentStopAfter(song.id);
        if (want != has)
            sender.sendStopAfter(song.id, want);
    }
}
