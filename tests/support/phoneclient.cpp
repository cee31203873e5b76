// SPDX-License-Identifier: MIT
#include "phoneclient.h"

#include <QHostAddress>
#include <QTest>
#include <QtEndian>

PhoneClient::PhoneClient(QObject *parent) : QObject(parent)
{
    QObject::connect(&m_socket, &QTcpSocket::readyRead, this, &PhoneClient::onReadable);
}

bool PhoneClient::connectTo(quint16 port)
{
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return QTest::qWaitFor([this] { return isOpen(); }, 2000);
}

void PhoneClient::write(const QByteArray &bytes)
{
    m_socket.write(bytes);
    m_socket.flush();
}

void PhoneClient::writeInPieces(const QByteArray &bytes, const QList<int> &sizes)
{
    qsizetype offset = 0;
    for (int size : sizes) {
        write(bytes.sliced(offset, size));
        offset += size;
        QTest::qWait(0);
    }
}

void PhoneClient::onReadable()
{
    m_buffer += m_socket.readAll();
    while (m_buffer.size() >= 4) {
        const quint32 length = qFromBigEndian<quint32>(m_buffer.constData());
        if (m_buffer.size() < 4 + qsizetype(length))
            return;
        frames.append(m_buffer.sliced(4, length));
        m_buffer.remove(0, 4 + length);
    }
}
