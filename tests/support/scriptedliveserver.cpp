// SPDX-License-Identifier: MIT
#include "scriptedliveserver.h"

#include <QHostAddress>
#include <QTimer>

#include <memory>

ScriptedLiveServer::ScriptedLiveServer(QObject *parent) : QObject(parent)
{
    QObject::connect(&m_server, &QTcpServer::newConnection, this, &ScriptedLiveServer::onNewConnection);
}

bool ScriptedLiveServer::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

void ScriptedLiveServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server.nextPendingConnection()) {
        ++m_accepted;
        socket->setParent(this);
        m_clients.append(socket);
        QObject::connect(socket, &QTcpSocket::readyRead, this,
                         [this, socket] { m_received.append(socket->readAll()); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (m_greeting.isEmpty())
            continue;
        if (m_pieceSize > 0) {
            sendInPieces(m_greeting, m_pieceSize);
        } else {
            socket->write(m_greeting);
            socket->flush();
        }
    }
}

int ScriptedLiveServer::openConnections() const
{
    int open = 0;
    for (const QPointer<QTcpSocket> &socket : m_clients)
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            ++open;
    return open;
}

void ScriptedLiveServer::send(const QByteArray &bytes)
{
    for (auto it = m_clients.crbegin(); it != m_clients.crend(); ++it) {
        if (*it && (*it)->state() == QAbstractSocket::ConnectedState) {
            (*it)->write(bytes);
            (*it)->flush();
            return;
        }
    }
}

void ScriptedLiveServer::sendInPieces(const QByteArray &bytes, int pieceSize)
{
    QPointer<QTcpSocket> target;
    for (auto it = m_clients.crbegin(); it != m_clients.crend() && !target; ++it)
        if (*it && (*it)->state() == QAbstractSocket::ConnectedState)
            target = *it;
    if (!target)
        return;
    auto offset = std::make_shared<qsizetype>(0);
    auto *pacer = new QTimer(this);
    pacer->setInterval(1);
    QObject::connect(pacer, &QTimer::timeout, this, [target, bytes, pieceSize, offset, pacer] {
        if (!target || *offset >= bytes.size()) {
            pacer->deleteLater();
            pacer->stop();
            return;
        }
        target->write(bytes.mid(*offset, pieceSize));
        target->flush();
        *offset += pieceSize;
    });
    pacer->start();
}

void ScriptedLiveServer::closeClients()
{
    for (const QPointer<QTcpSocket> &socket : m_clients)
        if (socket)
            socket->disconnectFromHost();
}
