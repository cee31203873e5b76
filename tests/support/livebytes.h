// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtEndian>

#include <initializer_list>

// Builders for the Live link byte layouts tests send and expect, written out by hand
// so they do not share a fault with the codec under test.
namespace livebytes {

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

inline QByteArray u64(quint64 value)
{
    char out[8];
    qToBigEndian(value, out);
    return QByteArray(out, 8);
}

inline QByteArray u32(quint32 value)
{
    char out[4];
    qToBigEndian(value, out);
    return QByteArray(out, 4);
}

// A text with its one-byte length in front.
inline QByteArray text(const QByteArray &utf8)
{
    return char(utf8.size()) + utf8;
}

inline QByteArray song(quint64 id, const QByteArray &name, const QByteArray &length)
{
    return u64(id) + text(name) + text(length);
}

inline QByteArray mapRecord(const QByteArray &name, int msgType, int channel, int identifier)
{
    return text(name) + bytes({msgType, channel, (identifier >> 8) & 0xFF, identifier & 0xFF});
}

// What the daemon answers the handshake with: its identity, then a subscription to
// the song position, sections and marks.
inline QByteArray daemonReply()
{
    return QByteArrayLiteral("MARQUELL_CLIENT") + bytes({10, 1});
}

// Type 10: song id, elapsed and length in ms, section, state bits, pending section.
inline QByteArray position(quint64 song, quint32 elapsed, quint32 length, int section, int state,
                           int pending = 255)
{
    return bytes({10}) + u64(song) + u32(elapsed) + u32(length) + bytes({section, state, pending});
}

inline QByteArray frame(const QByteArray &payload)
{
    char length[4];
    qToBigEndian(quint32(payload.size()), length);
    return QByteArray(length, 4) + payload;
}

inline QByteArray portJson(int port)
{
    return "{\"port\": " + QByteArray::number(port) + "}";
}

} // namespace livebytes
