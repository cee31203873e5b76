// SPDX-License-Identifier: MIT
#pragma once

#include <QMetaType>
#include <QString>

// How the Live connection reports to the daemon's status display and reconnection.
struct ConnectionState
{
    enum class Kind
    {
        Failed,
        Connected,
        Disconnected,
        Waiting
    };

    Kind kind = Kind::Disconnected;
    QString error; // with Failed: the platform's description

    static ConnectionState failed(const QString &error) { return {Kind::Failed, error}; }
    static ConnectionState connected() { return {Kind::Connected, {}}; }
    static ConnectionState disconnected() { return {Kind::Disconnected, {}}; }
    static ConnectionState waiting() { return {Kind::Waiting, {}}; }

    friend bool operator==(const ConnectionState &, const ConnectionState &) = default;
};

Q_DECLARE_METATYPE(ConnectionState)
