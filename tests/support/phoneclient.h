// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpSocket>

// A phone on loopback: reads the daemon's frames (any length) and writes raw bytes.
class PhoneClient final : public QObject
{
    Q_OBJECT

public:
    explicit PhoneClient(QObject *parent = nullptr);

    bool connectTo(quint16 port); // waits until connected
    void write(const QByteArray &bytes);
    // One piece per event-loop turn, so the daemon sees separate reads.
    void writeInPieces(const QByteArray &bytes, const QList<int> &sizes);
    bool isOpen() const { return m_socket.state() == QAbstractSocket::ConnectedState; }
    void close() { m_socket.abort(); }

    QList<QByteArray> frames; // payloads, in order

private:
    void onReadable();

    QTcpSocket m_socket;
    QByteArray m_buffer;
};
