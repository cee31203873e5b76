// SPDX-License-Identifier: MIT
#include "livelinkcodec.h"

#include <QStringDecoder>
#include <QtEndian>

#include <algorithm>

namespace livelink {
namespace {

void appendU64(QByteArray &out, quint64 value)
{
    char bytes[8];
    qToBigEndian(value, bytes);
    out.append(bytes, 8);
}

quint64 readU64(QByteArrayView bytes, qsizetype offset)
{
    return qFromBigEndian<quint64>(bytes.data() + offset);
}

// A one-byte length and that many bytes at offset; advances past them.
std::optional<QByteArrayView> readText(QByteArrayView bytes, qsizetype &offset)
{
    if (offset >= bytes.size())
        return std::nullopt;
    const qsizetype length = static_cast<quint8>(bytes[offset]);
    if (bytes.size() - offset - 1 < length)
        return std::nullopt;
    const QByteArrayView text = bytes.sliced(offset + 1, length);
    offset += 1 + length;
    return text;
}

ServerMessage decodeMidiMap(QByteArrayView payload)
{
    MidiMap map;
    qsizetype offset = 1;
    while (offset < payload.size()) {
        const std::optional<QByteArrayView> name = readText(payload, offset);
        if (!name || payload.size() - offset < 4)
            return Malformed{0, Fault::Truncated};
        const std::optional<QString> text = decodeUtf8(*name);
        if (!text)
            return Malformed{0, Fault::InvalidUtf8};
        MidiMapRecord record;
        record.name = *text;
        record.msgType = static_cast<quint8>(payload[offset]);
        record.channel = static_cast<quint8>(payload[offset + 1]);
        record.identifier = qFromBigEndian<quint16>(payload.data() + offset + 2);
        map.records.append(record);
        offset += 4;
    }
    return map;
}

ServerMessage decodeSongPool(QByteArrayView payload)
{
    SongPoolUpdate update;
    qsizetype offset = 1;
    Fault fault = Fault::Truncated;
    bool separatorSeen = false;
    while (offset < payload.size()) {
        if (static_cast<quint8>(payload[offset]) == kSetlistSeparator) {
            ++offset;
            separatorSeen = true;
            break;
        }
        std::optional<Song> song = readSongRecord(payload, offset, &fault);
        if (!song)
            return Malformed{3, fault};
        update.pool.append(std::move(*song));
    }
    if (!separatorSeen || offset >= payload.size())
        return update;

    // The setlist section runs to the end; it has no separator test of its own.
    update.setlistBytesFollow = true;
    while (offset < payload.size()) {
        std::optional<Song> song = readSongRecord(payload, offset, &fault);
        if (!song) {
            update.setlistSection = SetlistSection::Malformed;
            update.setlist.clear();
            return update;
        }
        update.setlist.append(std::move(*song));
    }
    update.setlistSection = SetlistSection::Present;
    return update;
}

ServerMessage decodeSections(QByteArrayView payload)
{
    if (payload.size() < 10)
        return Malformed{quint8(ServerType::Sections), Fault::TooShort};
    Sections out;
    out.songId = readU64(payload, 1);
    const int count = static_cast<quint8>(payload[9]);
    qsizetype offset = 10;
    for (int i = 0; i < count; ++i) {
        if (payload.size() - offset < 8)
            return Malformed{quint8(ServerType::Sections), Fault::Truncated};
        Section section;
        section.startMs = qFromBigEndian<quint32>(payload.data() + offset);
        section.lengthMs = qFromBigEndian<quint32>(payload.data() + offset + 4);
        offset += 8;
        const std::optional<QByteArrayView> name = readText(payload, offset);
        if (!name)
            return Malformed{quint8(ServerType::Sections), Fault::Truncated};
        std::optional<QString> text = decodeUtf8(*name);
        if (!text)
            return Malformed{quint8(ServerType::Sections), Fault::InvalidUtf8};
        section.name = std::move(*text);
        out.sections.append(std::move(section));
    }
    return out;
}

ServerMessage decodeSetlistMarks(QByteArrayView payload)
{
    if (payload.size() < 3)
        return Malformed{quint8(ServerType::SetlistMarks), Fault::TooShort};
    const qsizetype count = qFromBigEndian<quint16>(payload.data() + 1);
    if (payload.size() - 3 < count)
        return Malformed{quint8(ServerType::SetlistMarks), Fault::Truncated};
    SetlistMarks out;
    out.entries.reserve(count);
    for (qsizetype i = 0; i < count; ++i)
        out.entries.append(static_cast<quint8>(payload[3 + i]));
    return out;
}

void appendU32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

QByteArray songMessage(ClientType type, quint64 songId, quint8 value)
{
    QByteArray out;
    out.append(static_cast<char>(type));
    appendU64(out, songId);
    out.append(static_cast<char>(value));
    return out;
}

} // namespace

std::optional<QString> decodeUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless |
                                                     QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

bool isServerIdentity(QByteArrayView payload)
{
    const std::optional<QString> text = decodeUtf8(payload);
    return text && text->trimmed() == QLatin1String(kServerIdentity);
}

QByteArray clientIdentityReply()
{
    return QByteArray(kClientIdentity);
}

QByteArray encodeByteMessage(quint8 value, ClientType type)
{
    QByteArray out;
    out.append(static_cast<char>(type));
    out.append(static_cast<char>(value));
    return out;
}

QByteArray encodeSetMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag)
{
    QByteArray out;
    out.append(static_cast<char>(ClientType::SetMapping));
    out.append(static_cast<char>(channel));
    out.append(static_cast<char>(msgType));
    out.append(static_cast<char>(identifier >> 8));
    out.append(static_cast<char>(identifier & 0xFF));
    out.append(static_cast<char>(tag));
    return out;
}

QByteArray encodeTransportCommand(quint8 command)
{
    return encodeByteMessage(command, ClientType::TransportCommand);
}

QByteArray encodeClearMapping(quint8 tag)
{
    return encodeByteMessage(tag, ClientType::ClearMapping);
}

QByteArray encodeSelectSetlistIndex(quint8 index)
{
    return encodeByteMessage(index, ClientType::SelectSetlistIndex);
}

QByteArray utf8Prefix(const QString &text, qsizetype maxBytes)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= maxBytes)
        return bytes;
    qsizetype cut = maxBytes;
    // Step back over continuation bytes so no character is split.
    while (cut > 0 && (static_cast<quint8>(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

QByteArray encodeSetlist(const QList<Song> &songs)
{
    QByteArray out;
    out.reserve(1 + songs.size() * 24);
    out.append(static_cast<char>(ClientType::Setlist));
    for (const Song &song : songs) {
        appendU64(out, song.id);
        const QByteArray name = utf8Prefix(song.name, kMaxTextBytes);
        out.append(static_cast<char>(name.size()));
        out.append(name);
    }
    return out;
}

QByteArray encodePlaySongPoolSong(quint64 id)
{
    QByteArray out;
    out.append(static_cast<char>(ClientType::PlaySongPoolSong));
    appendU64(out, id);
    return out;
}

QByteArray encodePing(quint64 clock)
{
    QByteArray out;
    out.append(static_cast<char>(ClientType::Ping));
    appendU64(out, clock);
    return out;
}

QByteArray encodeCueMode(quint8 mode)
{
    return encodeByteMessage(mode, ClientType::CueMode);
}

QByteArray encodeClearAllMappings()
{
    return QByteArray(1, static_cast<char>(ClientType::ClearAllMappings));
}

QByteArray encodeSubscribe(quint8 features)
{
    return encodeByteMessage(features, ClientType::Subscribe);
}

QByteArray encodeJumpToSection(quint64 songId, quint8 section)
{
    return songMessage(ClientType::JumpToSection, songId, section);
}

QByteArray encodeSetStopAfter(quint64 songId, bool stopAfter)
{
    return songMessage(ClientType::SetStopAfter, songId, stopAfter ? 1 : 0);
}

QByteArray encodeSongPosition(const SongPosition &position)
{
    QByteArray out;
    out.reserve(20);
    out.append(static_cast<char>(ServerType::SongPosition));
    appendU64(out, position.songId);
    appendU32(out, position.elapsedMs);
    appendU32(out, position.lengthMs);
    out.append(static_cast<char>(position.section));
    out.append(static_cast<char>(position.state));
    out.append(static_cast<char>(position.pendingSection));
    return out;
}

QByteArray encodeSections(const Sections &sections)
{
    QByteArray out;
    out.append(static_cast<char>(ServerType::Sections));
    appendU64(out, sections.songId);
    const qsizetype count = std::min<qsizetype>(sections.sections.size(), 255);
    out.append(static_cast<char>(count));
    for (qsizetype i = 0; i < count; ++i) {
        const Section &section = sections.sections[i];
        appendU32(out, section.startMs);
        appendU32(out, section.lengthMs);
        const QByteArray name = utf8Prefix(section.name, kMaxTextBytes);
        out.append(static_cast<char>(name.size()));
        out.append(name);
    }
    return out;
}

QByteArray encodeSetlistMarks(const SetlistMarks &marks)
{
    QByteArray out;
    out.append(static_cast<char>(ServerType::SetlistMarks));
    const auto count = static_cast<quint16>(std::min<qsizetype>(marks.entries.size(), 0xFFFF));
    char bytes[2];
    qToBigEndian(count, bytes);
    out.append(bytes, 2);
    for (qsizetype i = 0; i < count; ++i)
        out.append(static_cast<char>(marks.entries[i]));
    return out;
}

QByteArray frame(QByteArrayView payload)
{
    QByteArray out(4, '\0');
    qToBigEndian(static_cast<quint32>(payload.size()), out.data());
    out.append(payload);
    return out;
}

std::optional<Song> readSongRecord(QByteArrayView bytes, qsizetype &offset, Fault *fault)
{
    auto fail = [fault](Fault why) {
        if (fault)
            *fault = why;
        return std::nullopt;
    };
    if (offset < 0 || bytes.size() - offset < 8)
        return fail(Fault::Truncated);
    qsizetype cursor = offset + 8;
    const std::optional<QByteArrayView> name = readText(bytes, cursor);
    if (!name)
        return fail(Fault::Truncated);
    const std::optional<QByteArrayView> length = readText(bytes, cursor);
    if (!length)
        return fail(Fault::Truncated);
    std::optional<QString> nameText = decodeUtf8(*name);
    std::optional<QString> lengthText = decodeUtf8(*length);
    if (!nameText || !lengthText)
        return fail(Fault::InvalidUtf8);
    Song song{readU64(bytes, offset), std::move(*nameText), std::move(*lengthText)};
    offset = cursor;
    return song;
}

bool isWellFormedMidiMap(QByteArrayView payload)
{
    qsizetype offset = 1;
    while (offset < payload.size()) {
        if (!readText(payload, offset) || payload.size() - offset < 4)
            return false;
        offset += 4;
    }
    return true;
}

ServerMessage decodeServerMessage(QByteArrayView payload)
{
    if (payload.isEmpty())
        return Malformed{0, Fault::TooShort};
    const auto type = static_cast<quint8>(payload[0]);
    auto needs = [&](qsizetype size) {
        return payload.size() >= size;
    };
    switch (static_cast<ServerType>(type)) {
    case ServerType::MidiMap:
        return decodeMidiMap(payload);
    case ServerType::PlayingState:
        if (!needs(2))
            break;
        return PlayingState{static_cast<quint8>(payload[1])};
    case ServerType::Notice:
        return Notice{};
    case ServerType::SongPool:
        return decodeSongPool(payload);
    case ServerType::SelectedIndex:
        if (!needs(2))
            break;
        return SelectedIndex{static_cast<quint8>(payload[1])};
    case ServerType::PingReply:
        if (!needs(9))
            break;
        return PingReply{readU64(payload, 1)};
    case ServerType::CueMode:
        if (!needs(2))
            break;
        return CueMode{static_cast<quint8>(payload[1])};
    case ServerType::Tempo:
        if (!needs(5))
            break;
        return Tempo{qFromBigEndian<quint32>(payload.data() + 1)};
    case ServerType::SongPosition:
        if (!needs(20))
            break;
        return SongPosition{readU64(payload, 1),
                            qFromBigEndian<quint32>(payload.data() + 9),
                            qFromBigEndian<quint32>(payload.data() + 13),
                            static_cast<quint8>(payload[17]),
                            static_cast<quint8>(payload[18]),
                            static_cast<quint8>(payload[19])};
    case ServerType::Sections:
        return decodeSections(payload);
    case ServerType::SetlistMarks:
        return decodeSetlistMarks(payload);
    default:
        return UnknownMessage{type};
    }
    return Malformed{type, Fault::TooShort};
}

} // namespace livelink
