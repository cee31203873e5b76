// SPDX-License-Identifier: MIT
#pragma once

#include <QRegularExpression>
#include <QSettings>
#include <QString>
#include <QStringList>

// The OSC listener's settings: its UDP port (same rule as the phone listener's), the
// senders it takes commands from, and the desks that get feedback without subscribing.
namespace oscsettings {

inline constexpr quint16 defaultPort = 51517;
inline const QString portKey = QStringLiteral("oscPort");
// Addresses or networks ("192.168.1.20", "10.0.0.0/24"); empty: every sender.
inline const QString allowKey = QStringLiteral("oscAllowFrom");
// "host:port" entries.
inline const QString targetsKey = QStringLiteral("oscFeedbackTargets");

// The stored value when it is a port (1..65535), else the default.
inline quint16 wantedPort(const QSettings &settings)
{
    bool ok = false;
    const qlonglong stored = settings.value(portKey).toLongLong(&ok);
    return ok && stored >= 1 && stored <= 65535 ? quint16(stored) : defaultPort;
}

// A list setting, stored either as a list or as one comma- or blank-separated text
// (what a hand-edited settings file holds).
inline QStringList listValue(const QSettings &settings, const QString &key)
{
    const QStringList stored = settings.value(key).toStringList();
    QStringList out;
    for (const QString &entry : stored) {
        static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
        for (const QString &piece : entry.split(separators, Qt::SkipEmptyParts))
            out.append(piece);
    }
    return out;
}

} // namespace oscsettings
