// SPDX-License-Identifier: MIT
#pragma once

#include "framereader.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

// A phone on loopback: reads the daemon's frames and writes raw bytes.
class PhoneClient final
{
public:
    PhoneClient()
    {
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            m_reader.feed(m_socket.readAll());
            for (auto frame = m_reader.next(); frame.status == FrameReader::Status::Frame;
                 frame = m_reader.next())
                frames.append(frame.payload);
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
    FrameReader m_reader;
    QTcpSocket m_socket;
};
