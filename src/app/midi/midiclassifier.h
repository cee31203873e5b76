// SPDX-License-Identifier: MIT
#pragma once

#include "mappingdata.h"

#include <QByteArrayView>
#include <QString>

#include <optional>

// What learning makes of one incoming MIDI message: a control to learn, or the line
// that says why it was passed over.
struct MidiClassification
{
    std::optional<MappingData> mapping;
    QString logLine; // empty when mapping is set
};

// Looks at the first message of bytes only (its first three bytes); what follows is
// ignored. A Note On with velocity 0 counts as a Note Off; a Control Change with value
// 0 is learnt. A Note On or Control Change that is cut short or carries a data byte of
// 128 or more is not MIDI: it is rejected whole and never forms a mapping.
MidiClassification classifyMidi(QByteArrayView bytes);
