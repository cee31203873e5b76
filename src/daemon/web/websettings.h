// SPDX-License-Identifier: MIT
#pragma once

#include <QSettings>
#include <QString>

// The web remote's settings: its port (same rule as the phone listener's) and an
// optional PIN the page must give before it sees or drives the show.
namespace websettings {

inline constexpr quint16 defaultPort = 51516;
inline const QString portKey = QStringLiteral("webRemotePort");
inline const QString pinKey = QStringLiteral("webRemotePin");

// The stored value when it is a port (1..65535), else the default.
inline quint16 wantedPort(const QSettings &settings)
{
    bool ok = false;
    const qlonglong stored = settings.value(portKey).toLongLong(&ok);
    return ok && stored >= 1 && stored <= 65535 ? quint16(stored) : defaultPort;
}

// Empty: no PIN, anyone on the network can drive the transport.
inline QString pin(const QSettings &settings)
{
    return settings.value(pinKey).toString().trimmed();
}

} // namespace websettings
