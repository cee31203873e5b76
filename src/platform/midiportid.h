// SPDX-License-Identifier: MIT
#pragma once

#include "midibackend.h"

#include <QList>
#include <QString>
#include <QStringList>

// RtMidi offers only an index and a name per port. Indexes shift whenever a device
// comes or goes, so they cannot be stored or selected by; a port's name is the same
// every time the device is plugged in, so the identity is derived from the name.
namespace midiportid {

// A stable signed 32-bit ID for a port name: the 32-bit FNV-1a hash of its UTF-8
// bytes. Never 0 (a failed lookup elsewhere) and never -1 (means "none").
qint32 forName(const QString &name);

// The part of an enumerated name that identifies the device. ALSA appends the
// sequencer's "client:port" numbers, which change when a device is replugged.
QString stableName(const QString &enumeratedName, bool alsaNumbers);

// The sources as enumerated (display name without ALSA numbers), with their IDs. Two ports of the
// same name (two identical controllers) keep distinct IDs: the n-th duplicate (n >= 2) is hashed as
// "name#n", so each keeps its ID as long as the order of the pair holds.
QList<MidiSourceInfo> identify(const QStringList &enumeratedNames, bool alsaNumbers);

} // namespace midiportid
