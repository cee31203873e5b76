// SPDX-License-Identifier: MIT
#pragma once

#include <QSettings>
#include <QString>

// The phone listener's port setting, shared by the listener and the menu's port row.
namespace listenport {

inline constexpr quint16 defaultPort = 51515;
inline const QString settingKey = QStringLiteral("iosListenerPort");

// A listener's port setting: the stored value when it is a port (1..65535), else
// fallback. The phone, web and OSC listeners all read theirs this way.
inline quint16 stored(const QSettings &settings, const QString &key, quint16 fallback)
{
    bool ok = false;
    const qlonglong value = settings.value(key).toLongLong(&ok);
    return ok && value >= 1 && value <= 65535 ? quint16(value) : fallback;
}

inline quint16 wanted(const QSettings &settings)
{
    return stored(settings, settingKey, defaultPort);
}

} // namespace listenport
