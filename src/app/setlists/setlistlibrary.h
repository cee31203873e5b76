// SPDX-License-Identifier: MIT
#pragma once

#include "savedsetlist.h"
#include "setlistmatch.h"

#include <QAbstractListModel>
#include <QList>

#include <functional>

class LiveLinkSender;
class SetlistStore;

// The setlist library as the panel lists it: the setlists saved from the open set
// first, then the others, each group in the order the performer gave it. Every
// operation writes the store first and changes the list only when the write worked, so
// what is shown is what is kept. Main thread only.
class SetlistLibrary final : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role
    {
        FromOpenSetRole = Qt::UserRole + 1,
        SongCountRole
    };

    // What loading a setlist would do, for the performer to see before it happens.
    struct LoadPlan
    {
        SetlistMatch match;
        QList<Song> songs; // what one setlist upload sends
        QString summary;   // "3 of 14 songs are not in this set", or empty
        QString question;  // non-empty: ask before loading (Live plays and the song moves)
        bool possible = false;
    };
    // The show as it is, for planning a load.
    struct Show
    {
        QList<Song> pool;
        QList<Song> setlist;
        int selectedIndex = -1;
        bool playing = false;
    };

    explicit SetlistLibrary(SetlistStore &store, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Reads the store again; false (and lastError()) when it cannot be read.
    bool reload();
    // The set that is open now; its setlists move to the top.
    void setOpenSet(const OpenSetIdentity &openSet);
    const OpenSetIdentity &openSet() const { return m_openSet; }

    const SavedSetlist &at(int row) const { return m_rows.at(row); }
    int rowOfName(const QString &name) const;
    // The outcome of the last operation that failed, for the performer.
    QString lastError() const { return m_lastError; }

    // Each returns the row of the new or changed setlist, or -1 with lastError().
    int saveCurrent(const QString &name, const QList<Song> &setlist,
                    const std::function<bool(quint64)> &stopAfter);
    int addImported(SavedSetlist setlist);
    int rename(int row, const QString &name);
    int duplicate(int row);
    int move(int row, int delta);
    bool remove(int row);
    bool canUndoRemove() const { return !m_removed.isEmpty(); }
    int undoRemove();

    LoadPlan planLoad(int row, const Show &show) const;
    // One setlist upload, then a "stop after" message for each found song whose mark
    // differs from the one Live has (currentMarks: Live's marks by song id).
    void load(const LoadPlan &plan, const QList<SetlistEntry> &entries, LiveLinkSender &sender,
              const std::function<bool(quint64)> &currentStopAfter) const;

signals:
    // A write failed; the message says what was not done and why.
    void failed(const QString &message);

private:
    int failWith(const QString &what);
    QStringList namesExcept(int row) const;
    bool writeOrder();
    void sortOpenSetFirst();
    int insertAt(SavedSetlist setlist, int row, const QString &what);

    SetlistStore &m_store;
    QList<SavedSetlist> m_rows;
    OpenSetIdentity m_openSet;
    QList<QPair<int, SavedSetlist>> m_removed; // for undo: the row and the setlist
    QString m_lastError;
};
