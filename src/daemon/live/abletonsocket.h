// SPDX-License-Identifier: MIT
#pragma once

#include "connectionstate.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <optional>

class DaemonStateCache;
class PhoneRelay;
class QTcpSocket;

// The daemon's own client of the Live link: validates the server and subscribes to
// the song position, reads its frames one at a time into the show state cache,
// relays today's types to the phone, pings Live, and carries the phone's messages
// (setlists above all) to Live.
class AbletonSocket final : public QObject
{
    Q_OBJECT

public:
    struct Timing
    {
        std::chrono::milliseconds cancelWaitingAfter{500}; // a refused attempt is dropped then
        std::chrono::milliseconds pingInterval{2000};      // next ping after each reply
        // A server that connects and never identifies itself is dropped then.
        std::chrono::milliseconds validationTimeout{3000};
    };

    AbletonSocket(DaemonStateCache &cache, PhoneRelay &phone, Timing timing,
                  QObject *parent = nullptr);
    AbletonSocket(DaemonStateCache &cache, PhoneRelay &phone, QObject *parent = nullptr)
        : AbletonSocket(cache, phone, Timing(), parent)
    {}
    ~AbletonSocket() override;

    void setPhoneRelay(PhoneRelay &phone) { m_phone = &phone; }

    // Starts a new connection to 127.0.0.1:port. The current connection stays in
    // place until the new one is ready.
    void connectToLive(quint16 port);

    // One unframed message to Live. A setlist from the phone (first byte 4) is
    // re-encoded for Live and then merged into the cached song data.
    void send(const QByteArray &bytes);
    void ping();

    bool isConnected() const { return m_isConnected; }
    bool serverValidated() const { return m_serverValidated; }

    // The setlist upload for Live built from the phone's setlist (full song
    // records); none when a record is cut or not UTF-8.
    static std::optional<QByteArray> setlistForLive(QByteArrayView fromPhone);

    // Monotonic clock in nanoseconds: the value a ping carries.
    static quint64 monotonicNanoseconds();

signals:
    void connectionStateChanged(const ConnectionState &state);
    // Emitted on every assignment, even false after false: the phone side tells
    // its client again each time Live is found missing.
    void isConnectedChanged(bool connected);
    // Every validated message from Live, after the cache has taken it: lets other
    // views of the show (the web remote) follow Live without a second reader.
    void messageReceived(const QByteArray &payload);

private:
    enum class Reading
    {
        Length,
        Payload
    };

    void onReady(QTcpSocket *socket);
    void onError(QTcpSocket *socket);
    void onClosed(QTcpSocket *socket);
    void onValidationTimeout();
    void readFrames(QTcpSocket *socket);
    bool isCurrent(QTcpSocket *socket) const;
    void handlePayload(const QByteArray &payload);
    void dispatch(const QByteArray &payload);
    void handlePingReply(const QByteArray &payload);
    void keepSubscribed(const QByteArray &payload, std::optional<QByteArray> &field);
    void write(const QByteArray &bytes);
    void cancel(QTcpSocket *socket);
    void detach(QTcpSocket *socket);
    void setConnected(bool connected);
    void publish(const ConnectionState &state) { emit connectionStateChanged(state); }

    DaemonStateCache &m_cache;
    PhoneRelay *m_phone;
    Timing m_timing;
    // The connection that last became ready; it stays after it ends, until replaced.
    QPointer<QTcpSocket> m_connection;
    Reading m_reading = Reading::Length;
    quint32 m_payloadLength = 0;
    bool m_serverValidated = false;
    bool m_isConnected = false;
    QTimer m_pingTimer; // one pending ping at most, however many replies arrive
    QTimer m_validationTimer;
};
