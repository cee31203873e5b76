// SPDX-License-Identifier: MIT
#include "oscshowstate.h"

#include "marquellstate.h"

#include <QJsonObject>

namespace {

QString nameOf(const QList<Song> &songs, quint64 id)
{
    for (const Song &song : songs) {
        if (song.id == id)
            return song.name;
    }
    return {};
}

} // namespace

const char *OscShowState::address(Field field)
{
    static constexpr const char *addresses[FieldCount] = {
        "/marquell/state/live",    "/marquell/state/playing",     "/marquell/state/song",
        "/marquell/state/index",   "/marquell/state/nextsong",    "/marquell/state/tempo",
        "/marquell/state/cuemode", "/marquell/state/settimeleft", "/marquell/state/songtimeleft"};
    return addresses[field];
}

void OscShowState::setLiveUp(bool up)
{
    m_liveUp = up;
    if (!up) {
        m_playing = false;
        m_position.reset();
    }
}

bool OscShowState::takeLiveMessage(const QByteArray &payload)
{
    if (payload.isEmpty())
        return false;
    const livelink::ServerMessage message = livelink::decodeServerMessage(payload);
    if (const auto *playing = std::get_if<livelink::PlayingState>(&message)) {
        if (playing->value != 1 && playing->value != 2)
            return false;
        m_playing = playing->value == 1;
    } else if (const auto *position = std::get_if<livelink::SongPosition>(&message)) {
        setSongPosition(*position);
    } else if (const auto *sections = std::get_if<livelink::Sections>(&message)) {
        m_sections = *sections;
        return false;
    } else if (const auto *marks = std::get_if<livelink::SetlistMarks>(&message)) {
        m_marks = *marks;
        return false;
    } else if (!std::holds_alternative<livelink::SongPoolUpdate>(message) &&
               !std::holds_alternative<livelink::SelectedIndex>(message) &&
               !std::holds_alternative<livelink::CueMode>(message) &&
               !std::holds_alternative<livelink::Tempo>(message)) {
        return false;
    }
    return true;
}

void OscShowState::setSongPosition(const std::optional<livelink::SongPosition> &position)
{
    m_position = position;
}

OscShowState::Values OscShowState::values(const MarquellState &cache)
{
    const QJsonObject show = m_show.snapshot(cache, m_liveUp, m_playing);
    const QJsonValue index = show.value(QStringLiteral("index"));
    m_index = index.isDouble() ? std::optional(index.toInt()) : std::nullopt;
    const QList<::Song> &list = m_show.setlist();
    const bool inSetlist = m_index && *m_index >= 0 && *m_index < list.size();

    Values out;
    out[Live] = int(m_liveUp);
    out[Playing] = int(m_playing);
    QString song = inSetlist ? list.at(*m_index).name : QString();
    if (m_position && m_position->songId != 0) {
        const QString playing = nameOf(m_show.pool(), m_position->songId);
        song = playing.isEmpty() ? nameOf(list, m_position->songId) : playing;
    }
    out[Song] = song;
    out[Index] = inSetlist ? *m_index : -1;
    out[NextSong] =
        inSetlist && *m_index + 1 < list.size() ? list.at(*m_index + 1).name : QString();
    out[Tempo] = show.value(QStringLiteral("tempo")).toDouble();
    out[CueMode] = show.value(QStringLiteral("cueMode")).toInt();
    out[SetTimeLeft] = show.value(QStringLiteral("setTimeLeft")).toString();
    out[SongTimeLeft] =
        m_position && m_position->songId != 0
            ? formatSongTime(qint64(m_position->lengthMs) - qint64(m_position->elapsedMs))
            : QString();
    return out;
}

quint64 OscShowState::currentSongId() const
{
    if (m_position && m_position->songId != 0)
        return m_position->songId;
    const QList<::Song> &list = m_show.setlist();
    return m_index && *m_index >= 0 && *m_index < list.size() ? list.at(*m_index).id : 0;
}

std::optional<int> OscShowState::sectionCount() const
{
    if (!m_sections || m_sections->songId != currentSongId())
        return std::nullopt;
    return int(m_sections->sections.size());
}

std::optional<bool> OscShowState::stopAfterMarked() const
{
    const quint64 id = currentSongId();
    const QList<::Song> &list = m_show.setlist();
    if (!m_marks || id == 0 || m_marks->entries.size() != list.size())
        return std::nullopt;
    // Every entry of a song carries its mark, so the first one answers.
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list.at(i).id == id)
            return bool(m_marks->entries.at(i) & livelink::SetlistMarks::StopAfter);
    }
    return std::nullopt;
}

QString OscShowState::formatSongTime(qint64 milliseconds)
{
    // Rounded up, so the label reads 0:00 only when the song has ended.
    const qint64 s = (std::max<qint64>(milliseconds, 0) + 999) / 1000;
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}
