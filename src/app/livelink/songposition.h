// SPDX-License-Identifier: MIT
#pragma once

#include "livelinkcodec.h"

#include <QHash>
#include <QList>
#include <QObject>

#include <chrono>

// Where Live plays inside the current song, as a subscribed connection hears it: the
// last position report, the song's sections and the setlist's "stop after" marks, and
// the estimate of the position between reports. Main thread only.
//
// An older Remote Script never sends any of this; isKnown() stays false and the window
// shows nothing of it.
class SongPositionModel final : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    // A report a little behind the estimate is the estimate having run ahead, not Live
    // going back: the shown position waits for the new one to catch up.
    static constexpr quint32 kHoldLimitMs = 250;

    explicit SongPositionModel(QObject *parent = nullptr);

    bool isKnown() const { return m_known; }
    const livelink::SongPosition &report() const { return m_report; }
    bool stopsAfterSong() const;

    // Milliseconds into the song at now: the report moved on by the time since it came
    // while Live plays, never past the song's end.
    quint32 elapsedAt(Clock::time_point now) const;
    quint32 remainingAt(Clock::time_point now) const;

    // The sections of the song at the play position; none while Live's list is another's.
    QList<livelink::Section> currentSections() const;
    // The marks of a setlist song (SetlistMarks::Mark bits), 0 for none.
    quint8 marksOf(quint64 songId) const { return m_marks.value(songId); }

    void applyPosition(const livelink::SongPosition &position, Clock::time_point receivedAt);
    void applySections(const livelink::Sections &sections);
    // setlistIds: the setlist of Live's last song pool message, whose entries the marks follow.
    void applyMarks(const livelink::SetlistMarks &marks, const QList<quint64> &setlistIds);
    // The connection ended: nothing is known until the next one reports.
    void reset();

signals:
    void positionChanged();
    void sectionsChanged();
    void marksChanged();

private:
    bool m_known = false;
    livelink::SongPosition m_report;
    Clock::time_point m_receivedAt;
    quint32 m_floorMs = 0; // shown at least, until the estimate passes it
    livelink::Sections m_sections;
    QHash<quint64, quint8> m_marks;
};
