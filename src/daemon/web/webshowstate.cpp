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
    return state;
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
