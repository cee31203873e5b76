// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QList>
#include <QtGlobal>

// Everything the application sends to Live, one operation per client message.
// Implemented by SocketClient; tests record the calls. Called on the main thread;
// with no connection every operation does nothing.
class LiveLinkSender
{
public:
    virtual ~LiveLinkSender() = default;

    // Nothing is sent for msgType 0xF0 (a learnt message that Live cannot map).
    virtual void sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag) = 0;
    virtual void sendTransportCommand(int command) = 0;
    virtual void sendClearMapping(int tag) = 0;
    // Positions outside 0..255 cannot travel in one byte: they are logged, not sent.
    virtual void sendSelectSetlistIndex(int index) = 0;
    virtual void sendSetlist(const QList<Song> &songs) = 0;
    virtual void sendPlaySongPoolSong(quint64 id) = 0;
    virtual void sendCueMode(int mode) = 0;
    virtual void sendClearAllMappings() = 0;
    // For a connection that subscribed; the song id guards against a jump that crossed
    // a song change. Sections outside 0..254 are logged, not sent.
    virtual void sendJumpToSection(quint64 songId, int section) = 0;
    virtual void sendStopAfter(quint64 songId, bool stopAfter) = 0;
};
