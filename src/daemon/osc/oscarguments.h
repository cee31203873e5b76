// SPDX-License-Identifier: MIT
#pragma once

#include "oscmessage.h"

#include <optional>

// Reading numbers the way common OSC senders write them: tablets send floats, hubs
// send ints, some desks send numbers as strings.
namespace oscarguments {

// An int, a float or a string holding a number; none for anything else.
std::optional<double> number(const QVariant &arg);
// A number with no fraction (3, 3.0, "3"); none otherwise.
std::optional<qint64> wholeNumber(const QVariant &arg);
// A song id: a non-negative 64-bit integer, or a string of one (ids above 2^31 do not
// fit an OSC int, and floats cannot carry them exactly).
std::optional<quint64> songId(const QVariant &arg);
// A button's release: one numeric argument equal to 0.
bool isRelease(const OscMessage &message);

} // namespace oscarguments
