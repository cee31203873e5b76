// SPDX-License-Identifier: MIT
#include "scriptedliveserver.h"

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

void ScriptedLiveServer::write(const QByteArray &bytes, int pieceSize)
{
    const QList<QTcpSocket *> open = openClients();
    if (!open.isEmpty())
        writeFrom(open.last(), bytes, pieceSize);
}

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
