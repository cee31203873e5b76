// SPDX-License-Identifier: MIT
#pragma once

#include "livelinksender.h"

#include <QByteArray>
#include <QList>

// Records every message as the bytes SocketClient would write.
class RecordingSender final : public LiveLinkSender
{
public:
    void sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag) override;
    void sendTransportCommand(int command) override;
    void sendClearMapping(int tag) override;
    void sendSelectSetlistIndex(int index) override;
    void sendSetlist(const QList<Song> &songs) override;
    void sendPlaySongPoolSong(quint64 id) override;
    void sendCueMode(int mode) override;
    void sendClearAllMappings() override;

    QList<QByteArray> messages;
    QList<QList<Song>> setlists; // every setlist sent, as songs
    void clear()
    {
        messages.clear();
        setlists.clear();
    }
    // The message types in order, for quick comparisons.
    QList<int> types() const;
};
