// SPDX-License-Identifier: MIT
#include "scriptedliveserver.h"

#include "livebytes.h"

#include <QHostAddress>

ScriptedLiveServer::ScriptedLiveServer(quint16 port, QObject *parent) : QObject(parent)
{
    m_server.listen(QHostAddress::LocalHost, port);
    connect(&m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket *socket = m_server.nextPendingConnection()) {
            socket->setParent(this);
            socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            if (m_client)
                m_client->deleteLater();
            m_client = socket;
            m_received.clear();
            ++m_accepted;
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                if (socket != m_client)
                    return;
                m_received += socket->readAll();
                emit bytesReceived();
            });
            emit clientAccepted();
        }
    });
}

QByteArray ScriptedLiveServer::takeReceived()
{
    return std::exchange(m_received, QByteArray());
}

void ScriptedLiveServer::write(const QByteArray &bytes)
{
    if (!m_client)
        return;
    m_client->write(bytes);
    m_client->flush();
}

void ScriptedLiveServer::writeFrame(const QByteArray &payload)
{
    write(livebytes::frame(payload));
}

void ScriptedLiveServer::writeIdentity()
{
    writeFrame(QByteArrayLiteral("MARQUELL_SERVER"));
}

void ScriptedLiveServer::closeClient()
{
    if (!m_client)
        return;
    m_client->flush();
    m_client->disconnectFromHost();
}
