// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

// A Live link server on 127.0.0.1 driven step by step by a test: it accepts the
// daemon, writes whatever bytes the test gives and records what the daemon writes.
class ScriptedLiveServer final : public QObject
{
    Q_OBJECT

public:
    explicit ScriptedLiveServer(quint16 port = 0, QObject *parent = nullptr);

    bool isListening() const { return m_server.isListening(); }
    quint16 port() const { return m_server.serverPort(); }
    int acceptedCount() const { return m_accepted; }
    bool hasClient() const { return m_client && m_client->state() == QAbstractSocket::ConnectedState; }

    // Bytes the current client has written since it connected (or since take).
    QByteArray received() const { return m_received; }
    QByteArray takeReceived();

    void write(const QByteArray &bytes);
    void writeFrame(const QByteArray &payload);
    void writeIdentity(); // the identity frame, 15 bytes
    void closeClient();
    void stopListening() { m_server.close(); }

signals:
    void clientAccepted();
    void bytesReceived();

private:
    QTcpServer m_server;
    QPointer<QTcpSocket> m_client;
    QByteArray m_received;
    int m_accepted = 0;
};
