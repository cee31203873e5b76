// SPDX-License-Identifier: MIT
#pragma once

#include "midisink.h"

// Stands in for the MIDI emitter until the daemon has one: the phone's MIDI is
// written to the system log instead of the virtual source.
class LoggingMidiSink final : public MidiSink
{
public:
    void send(quint8 status, quint8 data1, quint8 data2) override;
};
