// SPDX-License-Identifier: MIT
#pragma once

#include <QString>

#include <optional>

// Finds the first service of a DNS-SD type and resolves it to an address, the way a
// phone finds the computer. Blocks for at most the given time (a command-line tool).
struct FoundService
{
    QString name;    // instance name, e.g. "Marquell (2)"
    QString host;    // the advertising host's DNS-SD name
    QString address; // its IPv4 address, or the host name when none was found
    quint16 port = 0;
    QString hostname; // the TXT entry "hostname"
};

std::optional<FoundService> browseFirst(const QString &type, int timeoutMs, QString *error);
