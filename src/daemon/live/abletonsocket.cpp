// SPDX-License-Identifier: MIT
#include "abletonsocket.h"

#include "daemonstatecache.h"
#include "livelinkcodec.h"
#include "log.h"
#include "phonerelay.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QtEndian>

namespace {

// Marks a connection that has ended (closed, failed or cancelled): its handlers
// never run again and it cannot be cancelled twice.
constexpr char kEndedProperty[] = "marquellEnded";

bool hasEnded(const QTcpSocket *socket)
{
    return socket->property(kEndedProperty).toBool();
}

quint8 byteAt(QByteArrayView bytes, qsizetype index)
{
    return static_cast<quint8>(bytes[index]);
}

} // namespace

AbletonSocket::AbletonSocket(DaemonStateCache &cache, PhoneRelay &phone, Timing timing,
                             QObject *parent)
    : QObject(parent), m_cache(cache), m_phone(&phone), m_timing(timing)
{
    qRegisterMetaType<ConnectionState>();
    m_pingTimer.setSingleShot(true);
    m_pingTimer.setInterval(m_timing.pingInterval);
    QObject::connect(&m_pingTimer, &QTimer::timeout, this, &AbletonSocket::ping);
    m_validationTimer.setSingleShot(true);
    m_validationTimer.setInterval(m_timing.validationTimeout);
    QObject::connect(&m_validationTimer, &QTimer::timeout, this,
                     &AbletonSocket::onValidationTimeout);
}

AbletonSocket::~AbletonSocket()
{
    // Sockets are children: keep their last signals away from a half-destroyed object.
    const QList<QTcpSocket *> sockets = findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
    for (QTcpSocket *socket : sockets)
        QObject::disconnect(socket, nullptr, this, nullptr);
}

void AbletonSocket::connectToLive(quint16 port)
{
    auto *socket = new QTcpSocket(this);
    // Live is on this machine: no proxy lookup on every attempt.
    socket->setProxy(QNetworkProxy::NoProxy);
    QObject::connect(socket, &QTcpSocket::connected, this, [this, socket] { onReady(socket); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, this, [this, socket] { onError(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, socket] { onClosed(socket); });
    QObject::connect(socket, &QTcpSocket::readyRead, this, [this, socket] { readFrames(socket); });
    socket->connectToHost(QHostAddress(QHostAddress::LocalHost), port);
}

bool AbletonSocket::isCurrent(QTcpSocket *socket) const
{
    return socket == m_connection && !hasEnded(socket);
}

void AbletonSocket::onReady(QTcpSocket *socket)
{
    publish(ConnectionState::connected());
    if (m_connection && m_connection != socket) {
        QTcpSocket *old = m_connection;
        detach(old);
        old->abort();
        old->deleteLater();
    }
    m_connection = socket;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_reading = Reading::Length;
    m_payloadLength = 0;
    // Every connection begins with the handshake, however the previous one ended.
    m_serverValidated = false;
    m_pingTimer.stop();
    m_validationTimer.start();
    setConnected(true);
    readFrames(socket);
}

void AbletonSocket::onValidationTimeout()
{
    if (m_serverValidated || !m_connection || hasEnded(m_connection))
        return;
    mlog::out(QStringLiteral("No server identity within ") +
              QString::number(m_timing.validationTimeout.count() / 1000.0) + QStringLiteral(" s"));
    cancel(m_connection);
}

void AbletonSocket::onError(QTcpSocket *socket)
{
    if (hasEnded(socket))
        return;
    const QAbstractSocket::SocketError error = socket->error();
    const QString description = socket->errorString();

    if (socket != m_connection) {
        // Not ready yet. Refused: nothing listens, so wait and drop the attempt.
        // Any other failure is published and the attempt dropped the same way, so
        // the reconnection cycle keeps running.
        if (error == QAbstractSocket::ConnectionRefusedError)
            publish(ConnectionState::waiting());
        else if (!m_isConnected)
            publish(ConnectionState::failed(description));
        // Nothing more to hear from this attempt; only the cancel below ends it.
        QObject::disconnect(socket, nullptr, this, nullptr);
        QTimer::singleShot(m_timing.cancelWaitingAfter, this,
                           [this, guard = QPointer<QTcpSocket>(socket)] {
                               if (guard)
                                   cancel(guard);
                           });
        return;
    }

    // The end of the stream is handled when the socket reports it disconnected.
    if (error == QAbstractSocket::RemoteHostClosedError)
        return;
    const bool duringPayload = m_reading == Reading::Payload;
    mlog::out((duringPayload ? QStringLiteral("Error while reading payload: ")
                             : QStringLiteral("Error while reading length: ")) +
              description);
    publish(ConnectionState::failed(description));
    setConnected(false);
    // A failed connection is ended, so disconnected follows and Live is sought again.
    cancel(socket);
}

void AbletonSocket::onClosed(QTcpSocket *socket)
{
    if (!isCurrent(socket))
        return;
    // Whole frames that arrived before the close are still handled.
    readFrames(socket);
    if (!isCurrent(socket))
        return;
    detach(socket);
    if (m_reading == Reading::Payload)
        mlog::out(QStringLiteral("Connection closed by server (during payload)"));
    else
        mlog::out(QStringLiteral("Connection closed by server."));
    publish(ConnectionState::disconnected());
    setConnected(false);
    m_serverValidated = false;
}

void AbletonSocket::readFrames(QTcpSocket *socket)
{
    while (isCurrent(socket)) {
        if (m_reading == Reading::Length) {
            if (socket->bytesAvailable() < 4)
                return;
            const QByteArray bytes = socket->read(4);
            if (bytes.size() != 4) {
                mlog::out(QStringLiteral("Invalid length data"));
                cancel(socket);
                return;
            }
            const quint32 length = qFromBigEndian<quint32>(bytes.constData());
            if (length == 0 || length > livelink::kMaxPayload) {
                mlog::out(QStringLiteral("Invalid payload length: ") + QString::number(length));
                setConnected(false);
                // The stream cannot be resynchronised: end it so Live is sought again.
                cancel(socket);
                return;
            }
            m_payloadLength = length;
            m_reading = Reading::Payload;
        } else {
            if (socket->bytesAvailable() < m_payloadLength)
                return;
            const QByteArray payload = socket->read(m_payloadLength);
            if (payload.size() != qsizetype(m_payloadLength)) {
                mlog::out(QStringLiteral("Incomplete payload"));
                cancel(socket);
                return;
            }
            m_reading = Reading::Length;
            m_payloadLength = 0;
            handlePayload(payload);
        }
    }
}

void AbletonSocket::handlePayload(const QByteArray &payload)
{
    if (m_serverValidated) {
        dispatch(payload);
        emit messageReceived(payload);
        return;
    }
    if (livelink::isServerIdentity(payload)) {
        m_serverValidated = true;
        mlog::out(QStringLiteral("Server validated"));
        // What a previous server said inside the song is not this one's; an old Remote
        // Script ignores the subscription and never replaces it.
        MarquellState &state = m_cache.currentState();
        state.songPosition.reset();
        state.sections.reset();
        state.setlistMarks.reset();
        send(livelink::clientIdentityReply() +
             livelink::encodeSubscribe(livelink::SongPositionFeature));
        return;
    }
    mlog::out(QStringLiteral("Invalid server ID"));
    if (m_connection)
        cancel(m_connection);
}

void AbletonSocket::dispatch(const QByteArray &payload)
{
    if (payload.isEmpty()) {
        mlog::out(QStringLiteral("Received empty buffer"));
        return;
    }
    MarquellState &state = m_cache.currentState();
    const quint8 type = byteAt(payload, 0);
    switch (type) {
    case quint8(livelink::ServerType::MidiMap):
        if (!livelink::isWellFormedMidiMap(payload))
            return;
        state.midiMapInit = payload;
        m_phone->sendCached(state.midiMapInit, QStringLiteral("MIDI mappings"));
        return;
    case quint8(livelink::ServerType::PlayingState):
        if (payload.size() < 2)
            return;
        m_phone->sendToiOS(payload.first(2));
        return;
    case quint8(livelink::ServerType::Notice):
        m_phone->sendToiOS(QByteArray(1, char(type)));
        return;
    case quint8(livelink::ServerType::SongPool):
        m_cache.updateSongData(payload);
        return;
    case quint8(livelink::ServerType::SelectedIndex):
        mlog::out(QStringLiteral("🔁 Setlist Index Update"));
        if (payload.size() < 2)
            return;
        state.selectedIndex = payload;
        m_phone->sendCached(state.selectedIndex, QStringLiteral("Selected Index"));
        return;
    case quint8(livelink::ServerType::PingReply):
        handlePingReply(payload);
        return;
    case quint8(livelink::ServerType::CueMode):
        if (payload.size() < 2)
            return;
        state.cueJumpMode = payload;
        m_phone->sendCached(state.cueJumpMode, QStringLiteral("Cue Jump Mode"));
        return;
    case quint8(livelink::ServerType::Tempo):
        if (payload.size() < 5)
            return;
        state.bpm = payload;
        m_phone->sendCached(state.bpm, QStringLiteral("Beats per Minute"));
        return;
    case quint8(livelink::ServerType::SongPosition):
        keepSubscribed(payload, state.songPosition);
        return;
    case quint8(livelink::ServerType::Sections):
        keepSubscribed(payload, state.sections);
        return;
    case quint8(livelink::ServerType::SetlistMarks):
        keepSubscribed(payload, state.setlistMarks);
        return;
    default:
        mlog::out(QStringLiteral("Unknown message type: ") + QString::number(type));
        return;
    }
}

void AbletonSocket::keepSubscribed(const QByteArray &payload, std::optional<QByteArray> &field)
{
    // Cached for the web remote only: the phone app knows none of these types.
    if (std::holds_alternative<livelink::Malformed>(livelink::decodeServerMessage(payload))) {
        mlog::out(QStringLiteral("Malformed message of type ") +
                  QString::number(byteAt(payload, 0)) + QStringLiteral(" ignored"));
        return;
    }
    field = payload;
}

void AbletonSocket::handlePingReply(const QByteArray &payload)
{
    if (payload.size() < 9)
        return;
    const quint64 sent = qFromBigEndian<quint64>(payload.constData() + 1);
    const quint64 now = monotonicNanoseconds();
    // Zero (the server's own cycle-starting ping) or a future value is not one of
    // our pings: no round trip to report, but the cycle goes on.
    if (sent != 0 && sent <= now) {
        const double milliseconds = double(now - sent) / 1000000.0;
        mlog::out(QStringLiteral("🎯 RTT to Ableton: ") + QString::number(milliseconds, 'f', 3) +
                  QStringLiteral(" ms"));
    }
    m_pingTimer.start();
}

void AbletonSocket::ping()
{
    mlog::out(QStringLiteral("Pinging"));
    send(livelink::encodePing(monotonicNanoseconds()));
}

void AbletonSocket::send(const QByteArray &bytes)
{
    if (!m_connection || bytes.isEmpty())
        return;
    if (byteAt(bytes, 0) != quint8(livelink::ClientType::Setlist)) {
        write(bytes);
        return;
    }
    if (const std::optional<QByteArray> forLive = setlistForLive(bytes))
        write(*forLive);
    else
        mlog::out(QStringLiteral("Setlist from iOS is malformed; nothing sent to Live"));
    m_cache.mergeSetlistFromiOS(bytes);
}

void AbletonSocket::write(const QByteArray &bytes)
{
    QTcpSocket *socket = m_connection;
    if (hasEnded(socket) || socket->state() != QAbstractSocket::ConnectedState) {
        mlog::out(QStringLiteral("Failed to send data: Socket is not connected"));
        return;
    }
    const qint64 written = socket->write(bytes);
    if (written != bytes.size()) {
        mlog::out(QStringLiteral("Failed to send data: ") + socket->errorString());
        return;
    }
    socket->flush();
    mlog::out(QStringLiteral("Data sent"));
}

std::optional<QByteArray> AbletonSocket::setlistForLive(QByteArrayView fromPhone)
{
    QList<Song> songs;
    qsizetype offset = 1;
    while (offset < fromPhone.size() && byteAt(fromPhone, offset) != livelink::kSetlistSeparator) {
        std::optional<Song> song = livelink::readSongRecord(fromPhone, offset);
        if (!song)
            return std::nullopt;
        songs.append(std::move(*song));
    }
    if (songs.isEmpty()) {
        mlog::out(QStringLiteral("📝 Setlist is empty. Sending header only."));
        return QByteArray(1, char(livelink::kSetlistSeparator));
    }
    // Texts arrive with one-byte lengths, so every name fits the upload as it is.
    return livelink::encodeSetlist(songs);
}

quint64 AbletonSocket::monotonicNanoseconds()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return quint64(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

void AbletonSocket::detach(QTcpSocket *socket)
{
    socket->setProperty(kEndedProperty, true);
    QObject::disconnect(socket, nullptr, this, nullptr);
}

void AbletonSocket::cancel(QTcpSocket *socket)
{
    if (hasEnded(socket))
        return;
    detach(socket);
    socket->abort();
    if (socket != m_connection)
        socket->deleteLater();
    mlog::out(QStringLiteral("Cancelled connection to Live"));
    // An attempt dropped while a connection is in place says nothing about that one:
    // publishing it would tell the phone Live is gone and replace a good connection.
    if (socket != m_connection && m_connection && !hasEnded(m_connection))
        return;
    setConnected(false);
    publish(ConnectionState::disconnected());
}

void AbletonSocket::setConnected(bool connected)
{
    m_isConnected = connected;
    emit isConnectedChanged(connected);
}
