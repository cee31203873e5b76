// SPDX-License-Identifier: MIT
#pragma once

#include "song.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <variant>

// The phone link as the phone sees it: frames from the daemon described for a
// person, and typed commands turned into the bytes a phone writes.
namespace phoneframes {

// One frame's payload as readable text (may span several lines).
QString describe(const QByteArray &payload);

// The song pool of a type 3 payload (empty for anything else).
QList<Song> songPool(const QByteArray &payload);

// "play", "stop", "previous", "next", "select 3", "cue 2", "playsong ID",
// "setlist ID...", "midi 90 3c 64", "raw 01 01". IDs are hexadecimal, as describe()
// prints them; a setlist takes each song's name and length from the pool.
// Gives the bytes to write, or why the command cannot be sent.
std::variant<QByteArray, QString> encodeCommand(const QString &command, const QList<Song> &pool);

} // namespace phoneframes
