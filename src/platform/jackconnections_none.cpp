// SPDX-License-Identifier: MIT
// Where RtMidi has no JACK: nothing to tell.
#include "jackconnections.h"

JackConnections::JackConnections(const QString &) {}

JackConnections::~JackConnections() = default;

std::optional<bool> JackConnections::connectedToClient(const QString &, const QString &) const
{
    return std::nullopt;
}
