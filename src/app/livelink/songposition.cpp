// SPDX-License-Identifier: MIT
#include "songposition.h"

#include "log.h"

#include <algorithm>

SongPositionModel::SongPositionModel(QObject *parent) : QObject(parent) {}

bool SongPositionModel::stopsAfterSong() const
{
    return m_report.songId != 0 && (m_report.state & livelink::SongPosition::StopsAfterSong);
}

quint32 SongPositionModel::elapsedAt(Clock::time_point now) const
{
    quint64 elapsed = m_report.elapsedMs;
    if (m_report.playing() && now > m_receivedAt)
        elapsed += quint64(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - m_receivedAt).count());
    elapsed = std::max<quint64>(elapsed, m_floorMs);
    return quint32(std::min<quint64>(elapsed, m_report.lengthMs));
}

quint32 SongPositionModel::remainingAt(Clock::time_point now) const
{
    return m_report.lengthMs - elapsedAt(now);
}

QList<livelink::Section> SongPositionModel::currentSections() const
{
    if (m_report.songId == 0 || m_sections.songId != m_report.songId)
        return {};
    return m_sections.sections;
}

void SongPositionModel::applyPosition(const livelink::SongPosition &position,
                                      Clock::time_point receivedAt)
{
    quint32 floor = 0;
    if (m_known && position.playing() && m_report.playing() && position.songId == m_report.songId &&
        position.elapsedMs >= m_report.elapsedMs) {
        const quint32 estimate = elapsedAt(receivedAt);
        if (estimate > position.elapsedMs && estimate - position.elapsedMs <= kHoldLimitMs)
            floor = estimate;
    }
    m_report = position;
    m_receivedAt = receivedAt;
    m_floorMs = floor;
    m_known = true;
    emit positionChanged();
}

void SongPositionModel::applySections(const livelink::Sections &sections)
{
    m_sections = sections;
    m_known = true;
    emit sectionsChanged();
}

void SongPositionModel::applyMarks(const livelink::SetlistMarks &marks,
                                   const QList<quint64> &setlistIds)
{
    if (marks.entries.size() != setlistIds.size())
        mlog::out(QStringLiteral("Setlist marks for %1 entries, the setlist has %2; "
                                 "marking the entries both have.")
                      .arg(marks.entries.size())
                      .arg(setlistIds.size()));
    m_marks.clear();
    const qsizetype n = std::min(marks.entries.size(), setlistIds.size());
    for (qsizetype i = 0; i < n; ++i) {
        if (marks.entries[i])
            m_marks[setlistIds[i]] |= marks.entries[i];
    }
    m_known = true;
    emit marksChanged();
}

void SongPositionModel::reset()
{
    const bool wasKnown = std::exchange(m_known, false);
    m_report = {};
    m_floorMs = 0;
    m_sections = {};
    m_marks.clear();
    if (!wasKnown)
        return;
    emit sectionsChanged();
    emit marksChanged();
    emit positionChanged();
}
