// SPDX-License-Identifier: MIT
#include "webcommand.h"

#include "livelinkcodec.h"
#include "webshowstate.h"

#include <QJsonArray>
#include <QtEndian>

#include <cmath>

namespace webcommand {

namespace {

Rejected rejected(const QString &reason)
{
    return Rejected{reason};
}

// An integer field within [low, high], or none.
std::optional<int> intField(const QJsonObject &message, const QString &key, int low, int high)
{
    const QJsonValue value = message.value(key);
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < low || number > high)
        return std::nullopt;
    return int(number);
}

Command transport(const QJsonObject &message)
{
    static constexpr std::pair<const char *, livelink::TransportTag> names[] = {
        {"play", livelink::Play},
        {"stop", livelink::Stop},
        {"previous", livelink::Previous},
        {"next", livelink::Next}};
    const QString command = message.value(QStringLiteral("command")).toString();
    for (const auto &[name, tag] : names) {
        if (command == QLatin1String(name))
            return ForLive{livelink::encodeTransportCommand(quint8(tag))};
    }
    return rejected(QStringLiteral("unknown transport command"));
}

Command select(const QJsonObject &message, const WebShowState &show)
{
    // Live can only be told positions 0 to 255.
    const int last = int(std::min<qsizetype>(show.setlist().size(), 256)) - 1;
    const std::optional<int> index = intField(message, QStringLiteral("index"), 0, last);
    if (!index)
        return rejected(QStringLiteral("no such setlist position"));
    return ForLive{livelink::encodeSelectSetlistIndex(quint8(*index))};
}

Command setlist(const QJsonObject &message, const WebShowState &show)
{
    const QJsonValue ids = message.value(QStringLiteral("ids"));
    if (!ids.isArray())
        return rejected(QStringLiteral("setlist without ids"));
    QList<Song> songs;
    for (const QJsonValue &value : ids.toArray()) {
        bool ok = false;
        const quint64 id = value.toString().toULongLong(&ok);
        const std::optional<Song> song = ok ? show.findSong(id) : std::nullopt;
        if (!song)
            return rejected(QStringLiteral("setlist names a song Live does not have"));
        songs.append(*song);
    }
    return ForLive{phoneSetlist(songs)};
}

Command cueMode(const QJsonObject &message)
{
    const std::optional<int> mode = intField(message, QStringLiteral("mode"), 1, 2);
    if (!mode)
        return rejected(QStringLiteral("cue jump mode must be 1 or 2"));
    return ForLive{livelink::encodeCueMode(quint8(*mode))};
}

// A song id as the page has it: a decimal string.
std::optional<quint64> songField(const QJsonObject &message)
{
    bool ok = false;
    const quint64 id = message.value(QStringLiteral("song")).toString().toULongLong(&ok);
    return ok ? std::optional(id) : std::nullopt;
}

Command section(const QJsonObject &message, const WebShowState &show)
{
    const std::optional<quint64> song = songField(message);
    const std::optional<livelink::Sections> &sections = show.sections();
    if (!song || !sections || sections->songId != *song || *song == 0)
        return rejected(QStringLiteral("section of a song that is not playing"));
    const int last = int(sections->sections.size()) - 1;
    const std::optional<int> index = intField(message, QStringLiteral("index"), 0, last);
    if (!index)
        return rejected(QStringLiteral("no such section"));
    return ForLive{livelink::encodeJumpToSection(*song, quint8(*index))};
}

Command stopAfter(const QJsonObject &message, const WebShowState &show)
{
    const std::optional<quint64> song = songField(message);
    const QJsonValue on = message.value(QStringLiteral("on"));
    if (!song || !show.inSetlist(*song))
        return rejected(QStringLiteral("stop after a song not in the setlist"));
    if (!on.isBool())
        return rejected(QStringLiteral("stop after without on"));
    return ForLive{livelink::encodeSetStopAfter(*song, on.toBool())};
}

} // namespace

Command parse(const QJsonObject &message, const WebShowState &show)
{
    const QString type = message.value(QStringLiteral("type")).toString();
    if (type == QLatin1String("transport"))
        return transport(message);
    if (type == QLatin1String("select"))
        return select(message, show);
    if (type == QLatin1String("setlist"))
        return setlist(message, show);
    if (type == QLatin1String("cueMode"))
        return cueMode(message);
    if (type == QLatin1String("section"))
        return section(message, show);
    if (type == QLatin1String("stopAfter"))
        return stopAfter(message, show);
    if (type == QLatin1String("auth"))
        return Auth{message.value(QStringLiteral("pin")).toString()};
    return rejected(QStringLiteral("unknown message type"));
}

QByteArray phoneSetlist(const QList<Song> &songs)
{
    QByteArray out(1, char(livelink::kSetlistSeparator));
    for (const Song &song : songs) {
        char id[8];
        qToBigEndian(song.id, id);
        out.append(id, 8);
        for (const QString &text : {song.name, song.length}) {
            const QByteArray utf8 = livelink::utf8Prefix(text, livelink::kMaxTextBytes);
            out.append(char(utf8.size()));
            out.append(utf8);
        }
    }
    return out;
}

} // namespace webcommand
