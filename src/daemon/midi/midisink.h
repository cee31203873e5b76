// SPDX-License-Identifier: MIT
#pragma once

#include <QtGlobal>

// Where the phone's MIDI goes: the daemon's virtual source. Called on the main thread.
class MidiSink
{
public:
    virtual ~MidiSink() = default;
    virtual void send(quint8 status, quint8 data1, quint8 data2) = 0;
};
