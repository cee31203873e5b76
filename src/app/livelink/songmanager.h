// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class LiveLinkSender;

// The show as the application sees it: song pool, setlist, the pool rows the
// search lets through, the current setlist position and the setlist's length.
// Main thread only. Setlist edits made here are sent to Live at once.
class SongManager final : public QObject
{
    Q_OBJECT

public:
    explicit SongManager(LiveLinkSender &sender, QObject *parent = nullptr);

    const QList<Song> &songPoolData() const { return m_songPoolData; }
    const QList<Song> &setListData() const { return m_setListData; }
    const QList<Song> &filteredPoolData() const { return m_filteredPoolData; }
    int selectedSetlistIndex() const { return m_selectedSetlistIndex; }
    double setLength() const { return m_setLength; }

    // Written by the show window: search results, selection, drag-and-drop order.
    // A direct setlist write leaves setLength alone until Live sends a setlist.
    void setFilteredPoolData(const QList<Song> &songs) { m_filteredPoolData = songs; }
    void setSelectedSetlistIndex(int index) { m_selectedSetlistIndex = index; }
    void setSetListData(const QList<Song> &songs) { m_setListData = songs; }

    void replaceSongPool(const QList<Song> &songs);
    void replaceSetlist(const std::optional<QList<Song>> &songs);
    // A new pool arrived with a setlist that could not be read: the setlist stays, the
    // views still have to show the new pool.
    void keepSetlist() { emit songPoolDidUpdate(); }
    void addToSetlist(const Song &song, std::optional<int> index = std::nullopt);
    // Returns whether the entry at index was the song and was removed.
    bool removeFromSetlist(const Song &song, int index);
    void syncSetlistNames();

    QString remainingSetTimeString() const;
    static std::optional<double> parseSongLength(const QString &text);
    static QString formatSetTime(double seconds);

signals:
    void songPoolDidUpdate();

private:
    void warnUnparsedLength(const Song &song) const;

    LiveLinkSender &m_sender;
    QList<Song> m_songPoolData;
    QList<Song> m_setListData;
    QList<Song> m_filteredPoolData;
    int m_selectedSetlistIndex = -1;
    double m_setLength = 0.0;
};
