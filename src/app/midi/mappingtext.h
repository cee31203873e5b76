// SPDX-License-Identifier: MIT
#pragma once

#include "mappingdata.h"

#include <QString>

// How a learnt control reads on a tile: a main line and a second, smaller line.
namespace mappingtext {

// "C4" for 60, "C-1" for 0, "G9" for 127.
QString noteName(int number);
// Note name, "CC 7", or the number for system and unknown kinds.
QString valueText(const MappingData &mapping);
// "Note · CH 1", "CH 10", "Sysex · CH 3", "Unknown · CH 3": channels count from 1.
QString qualifierText(const MappingData &mapping);

} // namespace mappingtext
