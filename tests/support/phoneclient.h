// SPDX-License-Identifier: MIT
#pragma once

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

// A phone on loopback: reads the daemon's frames (any length) and writes raw bytes.
class PhoneClient final
{
public:
    PhoneClient()
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            m_buffer += m_socket.readAll();
            while (m_buffer.size() >= 4) {
                const qsizetype length = qFromBigEndian<quint32>(m_buffer.constData());
                if (m_buffer.size() < 4 + length)
                    return;
                frames.append(m_buffer.sliced(4, length));
                m_buffer.remove(0, 4 + length);
            }
        });
    }
    bool connectTo(quint16 port) // waits until connected
    {
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        return QTest::qWaitFor([this] { return isOpen(); }, 2000);
    }
    // One piece per event-loop turn, so the daemon sees separate reads.
    void write(const QList<QByteArray> &pieces)
    {
        for (const QByteArray &piece : pieces) {
            m_socket.write(piece);
            m_socket.flush();
            QTest::qWait(0);
        }
    }
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }

    QList<QByteArray> frames; // payloads, in order

private:
    QByteArray m_buffer;
    QTcpSocket m_socket;
};
