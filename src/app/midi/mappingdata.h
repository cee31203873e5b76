// SPDX-License-Identifier: MIT
#pragma once

// One learnt MIDI control. msgType: 0 Note On, 1 Control Change, 2 system message;
// other values may arrive from Live and are shown as unknown. channel 0..15,
// identifier (note or controller number) 0..127.
struct MappingData
{
    int msgType = 0;
    int channel = 0;
    int identifier = 0;

    friend bool operator==(const MappingData &, const MappingData &) = default;
};
