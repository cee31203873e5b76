// SPDX-License-Identifier: MIT
#pragma once

#include "livelinkcodec.h"
#include "webshowstate.h"

#include <QVariant>

#include <array>
#include <optional>

struct MarquellState;

// The show as OSC feedback carries it: one value per feedback address, worked out
// from the daemon's cache plus what the cache does not keep (Live up, playing, and
// the inside-the-song messages a subscribed Live link brings). Also answers the
// questions commands ask (which song is current, is it marked "stop after").
class OscShowState final
{
public:
    enum Field
    {
        Live,         // i: 1 up, 0 down
        Playing,      // i: 1 playing, 0 stopped
        Song,         // s: the current song's name, "" when none
        Index,        // i: its setlist position from 0, -1 when none
        NextSong,     // s: the next setlist song's name, "" at the end
        Tempo,        // f: beats per minute, 0 until Live says
        CueMode,      // i: 1 jump now, 2 end of song, 0 until Live says
        SetTimeLeft,  // s: hh:mm:ss from the current position to the end of the setlist
        SongTimeLeft, // s: m:ss left in the playing song, "" until a position is known
        FieldCount
    };
    using Values = std::array<QVariant, FieldCount>;

    static const char *address(Field field);

    void setLiveUp(bool up);
    // A validated payload from Live; true when it can change what feedback shows.
    bool takeLiveMessage(const QByteArray &payload);
    // The slot for "time left in the song": the song position (type 10) from a
    // subscribed Live link. None clears it.
    void setSongPosition(const std::optional<livelink::SongPosition> &position);

    Values values(const MarquellState &cache);

    // Valid after values(): the decoded song lists.
    const QList<::Song> &pool() const { return m_show.pool(); }
    const QList<::Song> &setlist() const { return m_show.setlist(); }
    std::optional<int> selectedIndex() const { return m_index; }
    // The song at the play position, else the current setlist song; 0 when none.
    quint64 currentSongId() const;
    // How many sections the current song has, when Live has said.
    std::optional<int> sectionCount() const;
    // Whether the current song carries the "stop after" mark, when Live has said.
    std::optional<bool> stopAfterMarked() const;

    static QString formatSongTime(qint64 milliseconds); // m:ss

private:
    WebShowState m_show;
    bool m_liveUp = false;
    bool m_playing = false;
    std::optional<int> m_index;
    std::optional<livelink::SongPosition> m_position;
    std::optional<livelink::Sections> m_sections;
    std::optional<livelink::SetlistMarks> m_marks;
};
