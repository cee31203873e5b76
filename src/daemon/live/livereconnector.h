// SPDX-License-Identifier: MIT
#pragma once

#include "serverfilewatcher.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>

class AbletonSocket;
struct ConnectionState;

// Keeps the daemon looking for Live: connects at start, and again a short delay
// after every disconnection, forever, reading server.json afresh each time so a
// port the Remote Script publishes later is picked up. A change of server.json while
// Live is away connects at once instead of waiting for the delay.
class LiveReconnector final : public QObject
{
    Q_OBJECT

public:
    LiveReconnector(AbletonSocket &socket, QString serverConfigPath,
                    std::chrono::milliseconds delay = std::chrono::milliseconds(500),
                    QObject *parent = nullptr);

    void start();

    // The port to connect to: server.json's, or 6000 when it gives none. Port 0
    // cannot be connected to, so it is refused with a line and 6000 used.
    static quint16 portToUse(const QString &serverConfigPath);

signals:
    void connecting(quint16 port);

private:
    void onConnectionState(const ConnectionState &state);
    void connectNow();
    void onServerFileChanged();

    AbletonSocket &m_socket;
    QString m_serverConfigPath;
    QTimer m_timer; // one pending reconnection at most
    ServerFileWatcher m_serverFile;
    bool m_changedWhileConnected = false; // reconnect at once when this connection ends
};
