// SPDX-License-Identifier: MIT
#include "scriptedliveserver.h"

#include "livebytes.h"

#include <QHostAddress>
#include <QTimer>

#include <memory>

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
        if (m_pieceSize > 0)
            writeInPieces(m_greeting, m_pieceSize);
        else
            write(m_greeting);
    }
}

QTcpSocket *ScriptedLiveServer::newestOpen() const
{
    for (auto it = m_clients.crbegin(); it != m_clients.crend(); ++it)
        if (*it && (*it)->state() == QAbstractSocket::ConnectedState)
            return *it;
    return nullptr;
}

int ScriptedLiveServer::openConnections() const
{
    int open = 0;
    for (const QPointer<QTcpSocket> &socket : m_clients)
        if (socket && socket->state() == QAbstractSocket::ConnectedState)
            ++open;
    return open;
}

void ScriptedLiveServer::write(const QByteArray &bytes)
{
    QTcpSocket *socket = newestOpen();
    if (!socket || bytes.isEmpty())
        return;
    socket->write(bytes);
    socket->flush();
}

void ScriptedLiveServer::writeFrame(const QByteArray &payload)
{
    write(livebytes::frame(payload));
}

void ScriptedLiveServer::writeIdentity()
{
    writeFrame(QByteArrayLiteral("MARQUELL_SERVER"));
}

void ScriptedLiveServer::writeInPieces(const QByteArray &bytes, int pieceSize)
{
    const QPointer<QTcpSocket> target = newestOpen();
    if (!target)
        return;
    auto offset = std::make_shared<qsizetype>(0);
    auto *pacer = new QTimer(this);
    pacer->setInterval(1);
    QObject::connect(pacer, &QTimer::timeout, this, [target, bytes, pieceSize, offset, pacer] {
        if (!target || *offset >= bytes.size()) {
            pacer->stop();
            pacer->deleteLater();
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
        if (socket) {
            socket->flush();
            socket->disconnectFromHost();
        }
}
