// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>

#include <optional>

// The last copy of each piece of show state from Live, byte for byte, type byte
// first. Absent until the first such payload arrives; once present only replaced.
struct MarquellState
{
    std::optional<QByteArray> songData;      // type 3, or the merge of the last phone setlist
    std::optional<QByteArray> midiMapInit;   // type 0
    std::optional<QByteArray> selectedIndex; // type 5
    std::optional<QByteArray> cueJumpMode;   // type 7
    std::optional<QByteArray> bpm;           // type 8
    // Only a subscribed connection gets these; never relayed to the phone.
    std::optional<QByteArray> songPosition; // type 10
    std::optional<QByteArray> sections;     // type 11
    std::optional<QByteArray> setlistMarks; // type 12

    friend bool operator==(const MarquellState &, const MarquellState &) = default;
};
