// SPDX-License-Identifier: MIT
#pragma once

#include <QSettings>
#include <QString>

// The phone listener's port setting, shared by the listener and the menu's port row.
namespace listenport {

inline constexpr quint16 defaultPort = 51515;
inline const QString settingKey = QStringLiteral("iosListenerPort");

// The stored value when it is a port (1..65535), else the default.
inline quint16 wanted(const QSettings &settings)
{
    bool ok = false;
    const qlonglong stored = settings.value(settingKey).toLongLong(&ok);
    return ok && stored >= 1 && stored <= 65535 ? quint16(stored) : defaultPort;
}

} // namespace listenport
