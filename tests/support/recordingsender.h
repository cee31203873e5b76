// SPDX-License-Identifier: MIT
#pragma once

#include "livelinkcodec.h"
#include "livelinksender.h"

#include <QByteArray>
#include <QList>

// Records every message as the bytes SocketClient would write.
class RecordingSender final : public LiveLinkSender
{
public:
    void sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag) override
    {
        if (msgType != 0xF0) // as SocketClient: a message Live cannot map is not sent
            add(livelink::encodeSetMapping(channel, msgType, identifier, tag));
    }
    void sendTransportCommand(int c) override { add(livelink::encodeTransportCommand(quint8(c))); }
    void sendClearMapping(int tag) override { add(livelink::encodeClearMapping(quint8(tag))); }
    void sendSelectSetlistIndex(int index) override
    {
        if (index >= 0 && index <= 255)
            add(livelink::encodeSelectSetlistIndex(quint8(index)));
    }
    void sendSetlist(const QList<Song> &songs) override
    {
        add(livelink::encodeSetlist(songs));
        setlists.append(songs);
    }
    void sendPlaySongPoolSong(quint64 id) override { add(livelink::encodePlaySongPoolSong(id)); }
    void sendCueMode(int mode) override { add(livelink::encodeCueMode(quint8(mode))); }
    void sendClearAllMappings() override { add(livelink::encodeClearAllMappings()); }
    void sendJumpToSection(quint64 songId, int section) override
    {
        if (section >= 0 && section < livelink::kNoSection)
            add(livelink::encodeJumpToSection(songId, quint8(section)));
    }
    void sendStopAfter(quint64 songId, bool stopAfter) override
    {
        add(livelink::encodeSetStopAfter(songId, stopAfter));
    }

    QList<QByteArray> messages;
    QList<QList<Song>> setlists; // every setlist sent, as songs
    void clear()
    {
        messages.clear();
        setlists.clear();
    }
    QList<int> types() const
    {
        QList<int> result;
        for (const QByteArray &m : messages)
            result.append(m.isEmpty() ? -1 : quint8(m[0]));
        return result;
    }

private:
    void add(const QByteArray &message) { messages.append(message); }
};
