// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QtEndian>

// Builders for the byte layouts the tests send and expect.
namespace livebytes {

inline QByteArray u64(quint64 value)
{
    char bytes[8];
    qToBigEndian(value, bytes);
    return QByteArray(bytes, 8);
}

inline QByteArray text(const QByteArray &utf8)
{
    return char(utf8.size()) + utf8;
}

// A full song record: id, name, length text.
inline QByteArray song(quint64 id, const QByteArray &name, const QByteArray &length)
{
    return u64(id) + text(name) + text(length);
}

inline QByteArray frame(const QByteArray &payload)
{
    char length[4];
    qToBigEndian(quint32(payload.size()), length);
    return QByteArray(length, 4) + payload;
}

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

} // namespace livebytes
