// SPDX-License-Identifier: MIT
#include "recordingsender.h"

void RecordingSender::sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag)
{
    if (msgType != 0xF0) // as SocketClient: a message Live cannot map is not sent
        add(livelink::encodeSetMapping(channel, msgType, identifier, tag));
}

void RecordingSender::sendSelectSetlistIndex(int index)
{
    if (index >= 0 && index <= 255)
        add(livelink::encodeSelectSetlistIndex(quint8(index)));
}

void RecordingSender::sendSetlist(const QList<Song> &songs)
{
    add(livelink::encodeSetlist(songs));
    setlists.append(songs);
}

QList<int> RecordingSender::types() const
{
    QList<int> result;
    for (const QByteArray &m : messages)
        result.append(m.isEmpty() ? -1 : quint8(m[0]));
    return result;
}
