// SPDX-License-Identifier: MIT
#pragma once

#include "livelinkcodec.h"
#include "song.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>

#include <optional>

struct MarquellState;

// The show as the page sees it: the daemon's cached Live payloads decoded into one
// JSON object, plus the two things the cache does not keep (Live up or down, and
// the playing state). The decoded songs are kept until the song data changes.
class WebShowState final
{
public:
    // Live's view of the show right now. Ids travel as strings: JSON numbers lose
    // precision above 2^53.
    QJsonObject snapshot(const MarquellState &cache, bool liveUp, bool playing);

    const QList<Song> &pool() const { return m_pool; }
    const QList<Song> &setlist() const { return m_setlist; }
    // A song of the pool or the setlist with that id.
    std::optional<Song> findSong(quint64 id) const;
    bool inSetlist(quint64 id) const;
    // Reads the cached type 12 against the cached setlist: call as each one arrives.
    void takeMarks(const MarquellState &cache);
    // The current song's sections, as Live last sent them.
    const std::optional<livelink::Sections> &sections() const { return m_sections; }

    // The fields of after that differ from before (a delta for the page).
    static QJsonObject changedFields(const QJsonObject &before, const QJsonObject &after);
    // Seconds of the setlist from position index to the end; all of it when the
    // index is not a position. Unreadable lengths count as nothing.
    static double secondsLeft(const QList<Song> &setlist, std::optional<int> index);
    static QString formatSetTime(double seconds); // hh:mm:ss

private:
    void decodeSongs(const std::optional<QByteArray> &songData);
    void decodeInsideSong(const MarquellState &cache, bool liveUp, QJsonObject &state);

    std::optional<QByteArray> m_songData; // what the lists below were decoded from
    QList<Song> m_pool;
    QList<Song> m_setlist;
    QJsonArray m_poolJson;
    QJsonArray m_setlistJson;
    std::optional<QByteArray> m_sectionsData;
    std::optional<livelink::Sections> m_sections;
    QJsonValue m_sectionsJson;
    // By song id: a setlist merged before Live confirms it keeps them on the right rows.
    QSet<quint64> m_stopAfter;
    QSet<quint64> m_stopLocator;
};
