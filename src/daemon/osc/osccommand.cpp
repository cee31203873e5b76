// SPDX-License-Identifier: MIT
#include "osccommand.h"

#include "livelinkcodec.h"
#include "oscarguments.h"
#include "oscshowstate.h"

#include <functional>

namespace osccommand {

namespace {

using Handler = std::function<Command(const OscMessage &, const OscShowState &)>;

Rejected rejected(const QString &reason)
{
    return Rejected{reason};
}

// One argument that reads as a whole number within [low, high].
std::optional<qint64> onlyWhole(const OscMessage &message, qint64 low, qint64 high)
{
    if (message.args.size() != 1)
        return std::nullopt;
    const std::optional<qint64> value = oscarguments::wholeNumber(message.args.first());
    return value && *value >= low && *value <= high ? value : std::nullopt;
}

// A button: no argument, or one that is not a release.
Command button(const OscMessage &message, QByteArray bytes)
{
    if (oscarguments::isRelease(message))
        return Released{};
    return ForLive{std::move(bytes)};
}

Command transport(const OscMessage &message, livelink::TransportTag tag)
{
    return button(message, livelink::encodeTransportCommand(quint8(tag)));
}

Command select(const OscMessage &message, const OscShowState &show)
{
    // Live can only be told positions 0 to 255.
    const qint64 last = std::min<qint64>(show.setlist().size(), 256) - 1;
    const std::optional<qint64> index = onlyWhole(message, 0, last);
    if (!index)
        return rejected(QStringLiteral("no such setlist position (the setlist has %1 songs)")
                            .arg(show.setlist().size()));
    return ForLive{livelink::encodeSelectSetlistIndex(quint8(*index))};
}

Command songByName(const OscMessage &message, const OscShowState &show)
{
    if (message.args.size() != 1 || message.args.first().typeId() != QMetaType::QString)
        return rejected(QStringLiteral("a song name is one string"));
    const QString name = message.args.first().toString();
    for (const Song &song : show.pool()) {
        if (song.name.compare(name, Qt::CaseInsensitive) == 0)
            return ForLive{livelink::encodePlaySongPoolSong(song.id)};
    }
    return rejected(QStringLiteral("no song named \"%1\"").arg(name.left(80)));
}

Command songById(const OscMessage &message, const OscShowState &show)
{
    const std::optional<quint64> id =
        message.args.size() == 1 ? oscarguments::songId(message.args.first()) : std::nullopt;
    if (!id)
        return rejected(QStringLiteral("a song id is one integer or a string of digits"));
    for (const Song &song : show.pool()) {
        if (song.id == *id)
            return ForLive{livelink::encodePlaySongPoolSong(song.id)};
    }
    return rejected(QStringLiteral("no song with id %1").arg(*id));
}

Command cueMode(const OscMessage &message, const OscShowState &)
{
    const std::optional<qint64> mode = onlyWhole(message, 1, 2);
    if (!mode)
        return rejected(QStringLiteral("cue jump mode must be 1 or 2"));
    return ForLive{livelink::encodeCueMode(quint8(*mode))};
}

Command section(const OscMessage &message, const OscShowState &show)
{
    const quint64 song = show.currentSongId();
    if (song == 0)
        return rejected(QStringLiteral("no current song to jump inside"));
    // Before Live has listed the sections, Live itself drops a jump past the last one.
    const qint64 last = show.sectionCount().value_or(255) - 1;
    const std::optional<qint64> index = onlyWhole(message, 0, std::min<qint64>(last, 254));
    if (!index)
        return rejected(QStringLiteral("no such section in the current song"));
    return ForLive{livelink::encodeJumpToSection(song, quint8(*index))};
}

Command stopAfter(const OscMessage &message, const OscShowState &show)
{
    const quint64 song = show.currentSongId();
    const std::optional<qint64> value = onlyWhole(message, 0, 1);
    if (!value)
        return rejected(QStringLiteral("stop after takes 1 (set) or 0 (clear)"));
    if (song == 0)
        return rejected(QStringLiteral("no current song to mark"));
    return ForLive{livelink::encodeSetStopAfter(song, *value == 1)};
}

Command toggleStopAfter(const OscMessage &message, const OscShowState &show)
{
    if (oscarguments::isRelease(message))
        return Released{};
    const quint64 song = show.currentSongId();
    const std::optional<bool> marked = show.stopAfterMarked();
    if (song == 0 || !marked)
        return rejected(QStringLiteral("Live has not said whether the current song stops after"));
    return ForLive{livelink::encodeSetStopAfter(song, !*marked)};
}

// The reply port named in the message (int, float or numeric string), else the sender's.
std::optional<quint16> replyPort(const OscMessage &message)
{
    if (message.args.isEmpty())
        return message.senderPort;
    const std::optional<qint64> port = onlyWhole(message, 1, 65535);
    return port ? std::optional(quint16(*port)) : std::nullopt;
}

template <typename Request> Command feedback(const OscMessage &message, const OscShowState &)
{
    const std::optional<quint16> port = replyPort(message);
    if (!port)
        return rejected(QStringLiteral("the reply port must be 1 to 65535"));
    return Request{*port};
}

struct Entry
{
    const char *address;
    Handler handler;
};

const std::vector<Entry> &table()
{
    static const std::vector<Entry> entries = {
        {"/marquell/play",
         [](auto &m, auto &) {
             return transport(m, livelink::Play);
         }},
        {"/marquell/stop",
         [](auto &m, auto &) {
             return transport(m, livelink::Stop);
         }},
        {"/marquell/next",
         [](auto &m, auto &) {
             return transport(m, livelink::Next);
         }},
        {"/marquell/previous",
         [](auto &m, auto &) {
             return transport(m, livelink::Previous);
         }},
        {"/marquell/select", select},
        {"/marquell/song/name", songByName},
        {"/marquell/song/id", songById},
        {"/marquell/cuemode", cueMode},
        {"/marquell/section", section},
        {"/marquell/stopafter", stopAfter},
        {"/marquell/stopafter/toggle", toggleStopAfter},
        {"/marquell/subscribe", feedback<Subscribe>},
        {"/marquell/unsubscribe", feedback<Unsubscribe>},
        {"/marquell/refresh", feedback<Refresh>},
    };
    return entries;
}

} // namespace

const QByteArrayList &addresses()
{
    static const QByteArrayList list = [] {
        QByteArrayList out;
        for (const Entry &entry : table())
            out.append(entry.address);
        return out;
    }();
    return list;
}

Command parse(const OscMessage &message, const OscShowState &show)
{
    for (const Entry &entry : table()) {
        if (message.path == entry.address)
            return entry.handler(message, show);
    }
    return rejected(QStringLiteral("unknown address"));
}

} // namespace osccommand
