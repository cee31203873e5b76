// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A stand-in for the Remote Script: listens on a free loopback port, plays a script of
// bytes to every connection it accepts and records everything it receives.
class ScriptedLiveServer final : public QObject
{
    Q_OBJECT

public:
    explicit ScriptedLiveServer(QObject *parent = nullptr);

    bool listen();
    int port() const { return m_server.serverPort(); }
    void close() { m_server.close(); }

    // Written to each new connection as soon as it is accepted.
    void setGreeting(const QByteArray &bytes) { m_greeting = bytes; }
    // Written to each new connection in pieces of pieceSize bytes, one piece per
    // event-loop turn, so the client sees them in separate reads.
    void setGreetingPieceSize(int pieceSize) { m_pieceSize = pieceSize; }

    // To the newest connection still open.
    void send(const QByteArray &bytes);
    void sendInPieces(const QByteArray &bytes, int pieceSize);
    void closeClients();

    int connectionCount() const { return m_accepted; }
    int openConnections() const;
    // Every byte received from any connection, in arrival order.
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }

private:
    void onNewConnection();

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_clients;
    QByteArray m_greeting;
    int m_pieceSize = 0;
    int m_accepted = 0;
    QByteArray m_received;
};
