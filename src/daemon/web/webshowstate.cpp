// SPDX-License-Identifier: MIT
#include "webshowstate.h"

#include "livelinkcodec.h"
#include "marquellstate.h"

#include <cmath>
#include <variant>

namespace {

QJsonArray songsJson(const QList<Song> &songs)
{
    QJsonArray out;
    for (const Song &song : songs)
        out.append(QJsonObject{{QStringLiteral("id"), QString::number(song.id)},
                               {QStringLiteral("name"), song.name},
                               {QStringLiteral("length"), song.length}});
    return out;
}

// "m:ss" or "h:mm:ss"; anything else is not a length.
std::optional<double> lengthSeconds(const QString &text)
{
    const QStringList pieces = text.split(QLatin1Char(':'));
    if (pieces.size() < 2 || pieces.size() > 3)
        return std::nullopt;
    double total = 0.0;
    for (const QString &piece : pieces) {
        bool ok = false;
        const uint value = piece.trimmed().toUInt(&ok);
        if (!ok)
            return std::nullopt;
        total = total * 60.0 + double(value);
    }
    return total;
}

template <typename T> std::optional<T> decodeAs(const std::optional<QByteArray> &payload)
{
    if (!payload)
        return std::nullopt;
    livelink::ServerMessage message = livelink::decodeServerMessage(*payload);
    if (T *value = std::get_if<T>(&message))
        return *value;
    return std::nullopt;
}

QJsonValue sectionIndex(quint8 index)
{
    return index == livelink::kNoSection ? QJsonValue() : QJsonValue(index);
}

QJsonValue positionJson(const livelink::SongPosition &position, bool liveUp)
{
    using State = livelink::SongPosition;
    const bool pending = position.state & State::SectionJumpPending;
    return QJsonObject{{QStringLiteral("song"), QString::number(position.songId)},
                       {QStringLiteral("elapsed"), double(position.elapsedMs)},
                       {QStringLiteral("length"), double(position.lengthMs)},
                       {QStringLiteral("section"), sectionIndex(position.section)},
                       // A page must not run the clock on for a Live that is gone.
                       {QStringLiteral("playing"), liveUp && position.playing()},
                       {QStringLiteral("stopsAfter"), bool(position.state & State::StopsAfterSong)},
                       {QStringLiteral("pending"),
                        pending ? sectionIndex(position.pendingSection) : QJsonValue()}};
}

QJsonValue sectionsJson(const livelink::Sections &sections)
{
    QJsonArray list;
    for (const livelink::Section &section : sections.sections)
        list.append(QJsonObject{{QStringLiteral("name"), section.name},
                                {QStringLiteral("start"), double(section.startMs)},
                                {QStringLiteral("length"), double(section.lengthMs)}});
    return QJsonObject{{QStringLiteral("song"), QString::number(sections.songId)},
                       {QStringLiteral("list"), list}};
}

// The ids of the setlist's songs that are in marked, in setlist order, once each.
QJsonArray markedIds(const QList<Song> &setlist, const QSet<quint64> &marked)
{
    QJsonArray out;
    QSet<quint64> seen;
    for (const Song &song : setlist) {
        if (marked.contains(song.id) && !seen.contains(song.id)) {
            seen.insert(song.id);
            out.append(QString::number(song.id));
        }
    }
    return out;
}

} // namespace

void WebShowState::decodeSongs(const std::optional<QByteArray> &songData)
{
    if (songData == m_songData)
        return;
    m_songData = songData;
    m_pool.clear();
    m_setlist.clear();
    if (const auto update = decodeAs<livelink::SongPoolUpdate>(songData)) {
        m_pool = update->pool;
        if (update->setlistSection == livelink::SetlistSection::Present)
            m_setlist = update->setlist;
    }
    m_poolJson = songsJson(m_pool);
    m_setlistJson = songsJson(m_setlist);
}

QJsonObject WebShowState::snapshot(const MarquellState &cache, bool liveUp, bool playing)
{
    decodeSongs(cache.songData);
    QJsonObject state{
        {QStringLiteral("live"), liveUp ? QStringLiteral("up") : QStringLiteral("down")},
        {QStringLiteral("playing"), playing},
        {QStringLiteral("pool"), m_poolJson},
        {QStringLiteral("setlist"), m_setlistJson}};

    std::optional<int> index;
    if (const auto selected = decodeAs<livelink::SelectedIndex>(cache.selectedIndex))
        index = selected->index;
    state.insert(QStringLiteral("index"), index ? QJsonValue(*index) : QJsonValue());

    const auto tempo = decodeAs<livelink::Tempo>(cache.bpm);
    state.insert(QStringLiteral("tempo"),
                 tempo ? QJsonValue(double(tempo->hundredths) / 100.0) : QJsonValue());
    const auto cue = decodeAs<livelink::CueMode>(cache.cueJumpMode);
    state.insert(QStringLiteral("cueMode"), cue ? QJsonValue(cue->mode) : QJsonValue());
    state.insert(QStringLiteral("setTimeLeft"), formatSetTime(secondsLeft(m_setlist, index)));
    decodeInsideSong(cache, liveUp, state);
    return state;
}

void WebShowState::decodeInsideSong(const MarquellState &cache, bool liveUp, QJsonObject &state)
{
    const auto position = decodeAs<livelink::SongPosition>(cache.songPosition);
    state.insert(QStringLiteral("position"),
                 position ? positionJson(*position, liveUp) : QJsonValue());
    if (cache.sections != m_sectionsData) {
        m_sectionsData = cache.sections;
        m_sections = decodeAs<livelink::Sections>(cache.sections);
        m_sectionsJson = m_sections ? sectionsJson(*m_sections) : QJsonValue();
    }
    state.insert(QStringLiteral("sections"), m_sectionsJson);
    state.insert(QStringLiteral("stopAfter"), markedIds(m_setlist, m_stopAfter));
    state.insert(QStringLiteral("stopLocator"), markedIds(m_setlist, m_stopLocator));
}

void WebShowState::takeMarks(const MarquellState &cache)
{
    decodeSongs(cache.songData);
    const auto decoded = decodeAs<livelink::SetlistMarks>(cache.setlistMarks);
    // Live sends the marks right after the setlist they belong to; any other count
    // is not this setlist's, and the marks held so far stay.
    if (!decoded || decoded->entries.size() != m_setlist.size())
        return;
    m_stopAfter.clear();
    m_stopLocator.clear();
    for (qsizetype i = 0; i < m_setlist.size(); ++i) {
        const quint8 entry = decoded->entries.at(i);
        if (entry & livelink::SetlistMarks::StopAfter)
            m_stopAfter.insert(m_setlist.at(i).id);
        if (entry & livelink::SetlistMarks::StopLocator)
            m_stopLocator.insert(m_setlist.at(i).id);
    }
}

bool WebShowState::inSetlist(quint64 id) const
{
    return std::any_of(m_setlist.cbegin(), m_setlist.cend(),
                       [id](const Song &song) { return song.id == id; });
}

std::optional<Song> WebShowState::findSong(quint64 id) const
{
    for (const QList<Song> *list : {&m_pool, &m_setlist}) {
        for (const Song &song : *list) {
            if (song.id == id)
                return song;
        }
    }
    return std::nullopt;
}

QJsonObject WebShowState::changedFields(const QJsonObject &before, const QJsonObject &after)
{
    QJsonObject delta;
    for (auto it = after.constBegin(); it != after.constEnd(); ++it) {
        if (before.value(it.key()) != it.value() || !before.contains(it.key()))
            delta.insert(it.key(), it.value());
    }
    return delta;
}

double WebShowState::secondsLeft(const QList<Song> &setlist, std::optional<int> index)
{
    const qsizetype from = index && *index >= 0 && *index < setlist.size() ? *index : 0;
    double total = 0.0;
    for (qsizetype i = from; i < setlist.size(); ++i)
        total += lengthSeconds(setlist.at(i).length).value_or(0.0);
    return total;
}

QString WebShowState::formatSetTime(double seconds)
{
    const qint64 s = qint64(std::trunc(std::clamp(seconds, 0.0, 359999.0)));
    return QString::asprintf("%02lld:%02lld:%02lld", s / 3600, (s % 3600) / 60, s % 60);
}
