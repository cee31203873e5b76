// SPDX-License-Identifier: MIT
#include "recordingsender.h"

#include "livelinkcodec.h"

using namespace livelink;

void RecordingSender::sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag)
{
    if (msgType != 0xF0)
        messages.append(encodeSetMapping(channel, msgType, identifier, tag));
}

void RecordingSender::sendTransportCommand(int command)
{
    messages.append(encodeTransportCommand(static_cast<quint8>(command)));
}

void RecordingSender::sendClearMapping(int tag)
{
    messages.append(encodeClearMapping(static_cast<quint8>(tag)));
}

void RecordingSender::sendSelectSetlistIndex(int index)
{
    if (index >= 0 && index <= 255)
        messages.append(encodeSelectSetlistIndex(static_cast<quint8>(index)));
}

void RecordingSender::sendSetlist(const QList<Song> &songs)
{
    messages.append(encodeSetlist(songs));
    setlists.append(songs);
}

void RecordingSender::sendPlaySongPoolSong(quint64 id)
{
    messages.append(encodePlaySongPoolSong(id));
}

void RecordingSender::sendCueMode(int mode)
{
    messages.append(encodeCueMode(static_cast<quint8>(mode)));
}

void RecordingSender::sendClearAllMappings()
{
    messages.append(encodeClearAllMappings());
}

QList<int> RecordingSender::types() const
{
    QList<int> result;
    for (const QByteArray &m : messages)
        result.append(m.isEmpty() ? -1 : static_cast<quint8>(m[0]));
    return result;
}
