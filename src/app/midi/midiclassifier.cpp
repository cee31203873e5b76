// SPDX-License-Identifier: MIT
#include "midiclassifier.h"

namespace {

MidiClassification ignored(const char *line)
{
    return {std::nullopt, QLatin1String(line)};
}

} // namespace

MidiClassification classifyMidi(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return ignored("Ignoring unknown message type.");
    const quint8 status = quint8(bytes[0]);
    const int kind = status >> 4;
    switch (kind) {
    case 0x8:
        return ignored("Ignoring Note Off message.");
    case 0xF:
        return ignored("Sysex or non-mappable message received; not processed.");
    case 0x9:
    case 0xB:
        break;
    default: // 0xA, 0xC, 0xD, 0xE, or a data byte (running status)
        return ignored("Ignoring unknown message type.");
    }

    const QByteArrayView head = bytes.first(std::min<qsizetype>(bytes.size(), 3));
    const bool whole = head.size() == 3 && quint8(head[1]) < 0x80 && quint8(head[2]) < 0x80;
    if (!whole) {
        return {std::nullopt, QStringLiteral("Ignoring malformed MIDI message: ") +
                                  QString::fromLatin1(head.toByteArray().toHex(' '))};
    }
    const int data1 = quint8(head[1]);
    const int data2 = quint8(head[2]);
    if (kind == 0x9 && data2 == 0)
        return ignored("Ignoring Note Off message.");
    return {MappingData{kind == 0x9 ? 0 : 1, status & 0x0F, data1}, QString()};
}
