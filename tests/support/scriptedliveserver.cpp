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
        writeInPieces(m_greeting, m_pieceSize);
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

// Piece size 0: all at once, now.
void ScriptedLiveServer::writeInPieces(const QByteArray &bytes, int pieceSize)
{
    const QList<QTcpSocket *> open = openClients();
    if (open.isEmpty() || bytes.isEmpty())
        return;
    const QPointer<QTcpSocket> target = open.last();
    if (pieceSize <= 0) {
        target->write(bytes);
        target->flush();
        return;
    }
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
    for (QTcpSocket *socket : openClients()) {
        socket->flush();
        socket->disconnectFromHost();
    }
}
