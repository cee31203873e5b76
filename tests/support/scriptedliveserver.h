// SPDX-License-Identifier: MIT
#pragma once

#include "livebytes.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A stand-in for the Remote Script on 127.0.0.1: plays a greeting to every connection
// it accepts, writes whatever the test gives and records what the newest client writes.
class ScriptedLiveServer final : public QObject
{
    Q_OBJECT

public:
    explicit ScriptedLiveServer(QObject *parent = nullptr);

    // A loopback port nothing listens on (bound once, then released); 0 on failure.
    static quint16 closedPort();

    quint16 port() const { return m_server.serverPort(); }
    void stopListening() { m_server.close(); }

    // Written to each new connection as soon as it is accepted; with a piece size,
    // one piece per event-loop turn, so the client sees them in separate reads.
    void setGreeting(const QByteArray &bytes, int pieceSize = 0)
    {
        m_greeting = bytes;
        m_pieceSize = pieceSize;
    }

    // To the newest connection still open, in pieces as setGreeting's.
    void write(const QByteArray &bytes, int pieceSize = 0);
    void writeFrame(const QByteArray &payload) { write(livebytes::frame(payload)); }
    void writeIdentity() { writeFrame(QByteArrayLiteral("MARQUELL_SERVER")); }
    void closeClients();

    int acceptedCount() const { return m_clients.size(); }
    int openConnections() const { return openClients().size(); }
    bool hasClient() const { return openConnections() > 0; }
    // Bytes the newest client has written since it connected (or since taken).
    QByteArray received() const { return m_received; }
    QByteArray takeReceived() { return std::exchange(m_received, QByteArray()); }

private:
    void onNewConnection();
    QList<QTcpSocket *> openClients() const;
    void writeFrom(QPointer<QTcpSocket> target, QByteArray bytes, int pieceSize);

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_clients;
    QByteArray m_greeting;
    int m_pieceSize = 0;
    QByteArray m_received;
};
