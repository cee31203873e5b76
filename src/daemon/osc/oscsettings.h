// SPDX-License-Identifier: MIT
#pragma once

#include "listenport.h"

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

inline quint16 wantedPort(const QSettings &settings)
{
    return listenport::stored(settings, portKey, defaultPort);
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
