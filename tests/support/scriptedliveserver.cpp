// SPDX-License-Identifier: MIT
#include "scriptedliveserver.h"

#include "livebytes.h"

#include <QHostAddress>
#include <QTimer>

ScriptedLiveServer::ScriptedLiveServer(QObject *parent) : QObject(parent)
{
    QObject::connect(&m_server, &QTcpServer::newConnection, this,
                     &ScriptedLiveServer::onNewConnection);
    m_server.listen(QHostAddress::LocalHost, 0);
}

quint16 ScriptedLiveServer::closedPort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

void ScriptedLiveServer::setGreeting(const QByteArray &bytes, int pieceSize)
{
    m_greeting = bytes;
    m_pieceSize = pieceSize;
}

void ScriptedLiveServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        socket->setParent(this);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_clients.append(socket);
        m_received.clear();
        QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            const QByteArray bytes = socket->readAll();
            if (socket == m_clients.last())
                m_received += bytes;
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        writeFrom(socket, m_greeting, m_pieceSize);
    }
}

QList<QTcpSocket *> ScriptedLiveServer::openClients() const
{
    QList<QTcpSocket *> open;
    for (const QPointer<QTcpSocket> &socket : m_clients)
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            open.append(socket);
    return open;
}

void ScriptedLiveServer::writeFrame(const QByteArray &payload)
{
    write(livebytes::frame(payload));
}

void ScriptedLiveServer::writeIdentity()
{
    writeFrame(QByteArrayLiteral("MARQUELL_SERVER"));
}

void ScriptedLiveServer::write(const QByteArray &bytes, int pieceSize)
{
    const QList<QTcpSocket *> open = openClients();
    if (!open.isEmpty())
        writeFrom(open.last(), bytes, pieceSize);
}

// Piece size 0: all at once, now; otherwise the rest follows one event-loop turn later.
void ScriptedLiveServer::writeFrom(QPointer<QTcpSocket> target, QByteArray bytes, int pieceSize)
{
    if (!target || bytes.isEmpty())
        return;
    target->write(pieceSize > 0 ? bytes.first(qMin(bytes.size(), pieceSize)) : bytes);
    target->flush();
    if (pieceSize > 0)
        QTimer::singleShot(1, this,
                           [=, this] { writeFrom(target, bytes.mid(pieceSize), pieceSize); });
}

void ScriptedLiveServer::closeClients()
{
    for (QTcpSocket *socket : openClients()) {
        socket->flush();
        socket->disconnectFromHost();
    }
}
