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
    void sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag) override;
    void sendTransportCommand(int c) override { add(livelink::encodeTransportCommand(quint8(c))); }
    void sendClearMapping(int tag) override { add(livelink::encodeClearMapping(quint8(tag))); }
    void sendSelectSetlistIndex(int index) override;
    void sendSetlist(const QList<Song> &songs) override;
    void sendPlaySongPoolSong(quint64 id) override { add(livelink::encodePlaySongPoolSong(id)); }
    void sendCueMode(int mode) override { add(livelink::encodeCueMode(quint8(mode))); }
    void sendClearAllMappings() override { add(livelink::encodeClearAllMappings()); }

    QList<QByteArray> messages;
    QList<QList<Song>> setlists; // every setlist sent, as songs
    void clear()
    {
        messages.clear();
        setlists.clear();
    }
    // The message types in order, for quick comparisons.
    QList<int> types() const;

private:
    void add(const QByteArray &message) { messages.append(message); }
};
