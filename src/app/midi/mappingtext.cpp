// SPDX-License-Identifier: MIT
#include "mappingtext.h"

#include <array>

namespace mappingtext {

QString noteName(int number)
{
    static constexpr std::array<const char *, 12> names = {"C",  "C#", "D",  "D#", "E",  "F",
                                                           "F#", "G",  "G#", "A",  "A#", "B"};
    // Live may report any number; floor arithmetic keeps negatives on the keyboard.
    const int pitch = ((number % 12) + 12) % 12;
    const int octave = (number - pitch) / 12 - 1;
    return QLatin1String(names[pitch]) + QString::number(octave);
}

QString valueText(const MappingData &mapping)
{
    switch (mapping.msgType) {
    case 0:
        return noteName(mapping.identifier);
    case 1:
        return QStringLiteral("CC ") + QString::number(mapping.identifier);
    default:
        return QString::number(mapping.identifier);
    }
}

QString qualifierText(const MappingData &mapping)
{
    const QString channel = QStringLiteral("CH ") + QString::number(mapping.channel + 1);
    switch (mapping.msgType) {
    case 0:
        return QStringLiteral("Note \u00b7 ") + channel;
    case 1:
        return channel;
    case 2:
        return QStringLiteral("Sysex \u00b7 ") + channel;
    default:
        return QStringLiteral("Unknown \u00b7 ") + channel;
    }
}

} // namespace mappingtext
