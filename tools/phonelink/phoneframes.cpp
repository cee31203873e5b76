// SPDX-License-Identifier: MIT
#include "phoneframes.h"

#include "livelinkcodec.h"

#include <QStringList>
#include <QtEndian>

namespace phoneframes {
namespace {

QString songLine(const Song &song)
{
    return QStringLiteral("  %1  %2  %3")
        .arg(song.id, 16, 16, QLatin1Char('0'))
        .arg(song.name, song.length);
}

QString controlName(const livelink::MidiMapRecord &record)
{
    static const char *const kinds[] = {"note", "CC", "system"};
    const QString kind = record.msgType < 3 ? QString::fromLatin1(kinds[record.msgType])
                                            : QStringLiteral("type %1").arg(record.msgType);
    return QStringLiteral("%1=%2 ch%3 %4")
        .arg(record.name, kind)
        .arg(record.channel + 1)
        .arg(record.identifier);
}

QByteArray u64(quint64 value)
{
    char out[8];
    qToBigEndian(value, out);
    return QByteArray(out, 8);
}

std::optional<quint64> parseId(const QString &text)
{
    bool ok = false;
    const quint64 id = text.toULongLong(&ok, 16);
    return ok ? std::optional(id) : std::nullopt;
}

std::optional<quint8> parseByte(const QString &text, int base)
{
    bool ok = false;
    const uint value = text.toUInt(&ok, base);
    return ok && value <= 255 ? std::optional(quint8(value)) : std::nullopt;
}

} // namespace

QString describe(const QByteArray &payload)
{
    if (payload == QByteArray(1, 9))
        return QStringLiteral("Live link down");
    const livelink::ServerMessage message = livelink::decodeServerMessage(payload);
    if (const auto *pool = std::get_if<livelink::SongPoolUpdate>(&message)) {
        QStringList lines{QStringLiteral("song pool, %1 songs:").arg(pool->pool.size())};
        for (const Song &song : pool->pool)
            lines << songLine(song);
        lines << QStringLiteral("setlist, %1 songs:").arg(pool->setlist.size());
        for (const Song &song : pool->setlist)
            lines << songLine(song);
        return lines.join(u'\n');
    }
    if (const auto *map = std::get_if<livelink::MidiMap>(&message)) {
        QStringList controls;
        for (const livelink::MidiMapRecord &record : map->records)
            controls << controlName(record);
        return QStringLiteral("MIDI mappings: ") +
               (controls.isEmpty() ? QStringLiteral("none") : controls.join(QStringLiteral(", ")));
    }
    if (const auto *playing = std::get_if<livelink::PlayingState>(&message))
        return playing->value == 1   ? QStringLiteral("playing")
               : playing->value == 2 ? QStringLiteral("stopped")
                                     : QStringLiteral("playing state %1").arg(playing->value);
    if (std::holds_alternative<livelink::Notice>(message))
        return QStringLiteral("notice");
    if (const auto *index = std::get_if<livelink::SelectedIndex>(&message))
        return QStringLiteral("selected index %1").arg(index->index);
    if (const auto *mode = std::get_if<livelink::CueMode>(&message))
        return QStringLiteral("cue jump mode %1").arg(mode->mode);
    if (const auto *tempo = std::get_if<livelink::Tempo>(&message))
        return QStringLiteral("tempo %1").arg(double(tempo->hundredths) / 100.0, 0, 'f', 2);
    return QStringLiteral("unreadable frame: ") + QString::fromLatin1(payload.toHex(' '));
}

QList<Song> songPool(const QByteArray &payload)
{
    const livelink::ServerMessage message = livelink::decodeServerMessage(payload);
    const auto *pool = std::get_if<livelink::SongPoolUpdate>(&message);
    return pool ? pool->pool : QList<Song>();
}

std::variant<QByteArray, QString> encodeCommand(const QString &command, const QList<Song> &pool)
{
    const QStringList words = command.simplified().split(u' ', Qt::SkipEmptyParts);
    if (words.isEmpty())
        return QStringLiteral("empty command");
    const QString verb = words.first().toLower();
    const QStringList args = words.mid(1);
    static const QStringList transport{"play", "stop", "previous", "next"};
    if (transport.contains(verb) && args.isEmpty())
        return livelink::encodeTransportCommand(quint8(transport.indexOf(verb) + 1));
    if ((verb == u"select" || verb == u"cue") && args.size() == 1) {
        const std::optional<quint8> value = parseByte(args[0], 10);
        if (!value)
            return QStringLiteral("%1 takes a number from 0 to 255").arg(verb);
        return verb == u"select" ? livelink::encodeSelectSetlistIndex(*value)
                                 : livelink::encodeCueMode(*value);
    }
    if (verb == u"playsong" && args.size() == 1) {
        const std::optional<quint64> id = parseId(args[0]);
        if (!id)
            return QStringLiteral("playsong takes a song id (hexadecimal)");
        return livelink::encodePlaySongPoolSong(*id);
    }
    if (verb == u"setlist") {
        QByteArray out(1, char(livelink::kSetlistSeparator));
        for (const QString &arg : args) {
            const std::optional<quint64> id = parseId(arg);
            auto song = std::find_if(pool.cbegin(), pool.cend(),
                                     [&](const Song &s) { return id && s.id == *id; });
            if (song == pool.cend())
                return QStringLiteral("no song %1 in the song pool").arg(arg);
            const QByteArray name = livelink::utf8Prefix(song->name, 255);
            const QByteArray length = livelink::utf8Prefix(song->length, 255);
            out += u64(song->id) + char(name.size()) + name + char(length.size()) + length;
        }
        return out;
    }
    if ((verb == u"midi" && args.size() == 3) || (verb == u"raw" && !args.isEmpty())) {
        QByteArray out = verb == u"midi" ? QByteArray(1, 0x20) : QByteArray();
        for (const QString &arg : args) {
            const std::optional<quint8> value = parseByte(arg, 16);
            if (!value)
                return QStringLiteral("%1 is not a hexadecimal byte").arg(arg);
            out += char(*value);
        }
        return out;
    }
    return QStringLiteral("unknown command: %1").arg(command.simplified());
}

} // namespace phoneframes
