// SPDX-License-Identifier: MIT
#include "iossocket.h"

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "listenport.h"
#include "livelinkcodec.h"
#include "log.h"
#include "midisink.h"
#include "nophonerelay.h"

#include <QSettings>
#include <QSysInfo>
#include <QTcpSocket>

namespace {

// Bounded reads keep a flooding phone from growing the daemon's memory.
constexpr qint64 kReadChunk = 64 * 1024;

const QString kNotAdvertisedNote =
    QStringLiteral("Not advertised (no DNS-SD service): give phones this computer's address");

bool isAddressError(QAbstractSocket::SocketError error)
{
    return error == QAbstractSocket::AddressInUseError ||
           error == QAbstractSocket::SocketAccessError ||
           error == QAbstractSocket::SocketAddressNotAvailableError;
}

} // namespace

iOSSocket::iOSSocket(AbletonSocket &live, DaemonStateCache &cache, MidiSink &midi,
                     ServiceAdvertiser &advertiser, QSettings &settings, Options options,
                     QObject *parent)
    : QObject(parent), m_live(live), m_cache(cache), m_midi(midi), m_advertiser(advertiser),
      m_settings(settings), m_options(options), m_deviceName(QSysInfo::machineHostName())
{
    qRegisterMetaType<PublisherState>();
    if (m_deviceName.isEmpty())
        m_deviceName = QStringLiteral("Unknown Device");
    // From here on the Live link relays to this socket.
    m_live.setPhoneRelay(*this);
    m_cache.setPhoneRelay(*this);
    QObject::connect(&m_live, &AbletonSocket::isConnectedChanged, this,
                     &iOSSocket::onLiveConnected);
    QObject::connect(&m_advertiser, &ServiceAdvertiser::unavailable, this,
                     &iOSSocket::onAdvertiserUnavailable);
    QObject::connect(&m_advertiser, &ServiceAdvertiser::advertised, this, &iOSSocket::onAdvertised);
    m_quietTimer.setSingleShot(true);
    m_quietTimer.setInterval(m_options.setlistQuietTime);
    QObject::connect(&m_quietTimer, &QTimer::timeout, this,
                     [this] { handle(m_parser.quietTimeElapsed()); });
}

iOSSocket::~iOSSocket()
{
    if (m_client)
        QObject::disconnect(m_client, nullptr, this, nullptr);
}

quint16 iOSSocket::listeningPort() const
{
    return m_listener && m_listener->isListening() ? m_listener->serverPort() : 0;
}

void iOSSocket::startAdvertising(const QString &serviceName, const QString &serviceType)
{
    mlog::out(QStringLiteral("Starting advertising"));
    m_serviceName = serviceName;
    m_serviceType = serviceType;
    m_wantAdvertising = true;
    makeListener();
}

void iOSSocket::setListenPort(quint16 port)
{
    if (port == 0)
        return;
    m_settings.setValue(listenport::settingKey, int(port));
    m_usingFallbackPort = false;
    mlog::system(QStringLiteral("iOSSocket: listen port set to ") + QString::number(port));
    if (!m_wantAdvertising)
        return;
    dropListener();
    QTimer::singleShot(0, this, [this] {
        if (m_wantAdvertising && !m_listener)
            makeListener();
    });
}

void iOSSocket::makeListener()
{
    mlog::out(QStringLiteral("making new listener"));
    const quint16 port = m_usingFallbackPort ? 0 : listenport::wanted(m_settings);
    auto *listener = new QTcpServer(this);
    m_listener = listener;
    if (!listener->listen(m_options.address, port)) {
        const QString error = listener->errorString();
        if (isAddressError(listener->serverError())) {
            onAddressError(error);
            return;
        }
        mlog::out(QStringLiteral("Failed to create listener: ") + error);
        restartListener();
        return;
    }
    QObject::connect(listener, &QTcpServer::newConnection, this, &iOSSocket::onNewConnection);
    QObject::connect(listener, &QTcpServer::acceptError, this, [this, listener] {
        if (listener == m_listener)
            onOtherFailure(listener->errorString());
    });
    onListening();
}

void iOSSocket::onListening()
{
    const quint16 port = m_listener->serverPort();
    mlog::system(QStringLiteral("iOSSocket: listening on port ") + QString::number(port));
    publish(PublisherState::published(port, m_advertisingNote));
    m_advertiser.advertise({m_serviceName, m_serviceType, port, m_deviceName});
}

void iOSSocket::onAddressError(const QString &error)
{
    dropListener();
    const quint16 configured = listenport::wanted(m_settings);
    if (!m_usingFallbackPort) {
        mlog::system(QStringLiteral("iOSSocket: port ") + QString::number(configured) +
                     QStringLiteral(" unavailable, ") +
                     QStringLiteral("falling back to an OS-assigned port — ") + error);
        m_usingFallbackPort = true;
        makeListener();
        return;
    }
    mlog::system(QStringLiteral("iOSSocket: could not bind any port — ") + error);
    publish(PublisherState::portUnavailable(configured, error));
}

void iOSSocket::onOtherFailure(const QString &error)
{
    mlog::out(QStringLiteral("Listener failed with ") + error + QStringLiteral(", restarting"));
    publish(PublisherState::unpublished());
    restartListener();
}

void iOSSocket::restartListener()
{
    if (!m_wantAdvertising)
        return;
    mlog::out(QStringLiteral("restarting listener"));
    m_usingFallbackPort = false;
    dropListener();
    QTimer::singleShot(m_options.restartDelay, this, [this] {
        if (m_wantAdvertising && !m_listener)
            makeListener();
    });
}

void iOSSocket::dropListener()
{
    m_advertiser.withdraw();
    if (!m_listener)
        return;
    QTcpServer *listener = m_listener;
    m_listener = nullptr;
    QObject::disconnect(listener, nullptr, this, nullptr);
    listener->close();
    listener->deleteLater();
}

void iOSSocket::onAdvertiserUnavailable(const QString &)
{
    m_advertisingNote = kNotAdvertisedNote;
    if (const quint16 port = listeningPort())
        publish(PublisherState::published(port, m_advertisingNote));
}

void iOSSocket::onAdvertised()
{
    if (m_advertisingNote.isEmpty())
        return;
    m_advertisingNote.clear();
    if (const quint16 port = listeningPort())
        publish(PublisherState::published(port));
}

void iOSSocket::onNewConnection()
{
    while (QTcpSocket *socket = m_listener ? m_listener->nextPendingConnection() : nullptr) {
        // Clients outlive the listener that accepted them.
        socket->setParent(this);
        mlog::out(QStringLiteral("iOS client connected"));
        if (m_client) {
            // Replaced: dropped without the "disconnected" line.
            QTcpSocket *old = m_client;
            QObject::disconnect(old, nullptr, this, nullptr);
            old->abort();
            old->deleteLater();
        }
        m_client = socket;
        // Nothing of the previous client's input may be glued to this one's.
        m_parser.clear();
        m_quietTimer.stop();
        socket->setReadBufferSize(kReadChunk);
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(socket, &QTcpSocket::readyRead, this,
                         [this, socket] { onClientReadable(socket); });
        QObject::connect(socket, &QTcpSocket::disconnected, this,
                         [this, socket] { onClientEnded(socket); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, this,
                         [this, socket] { onClientEnded(socket); });

        const MarquellState &state = m_cache.currentState();
        sendCached(state.songData, QStringLiteral("songPool + setlist"));
        sendCached(state.selectedIndex, QStringLiteral("selected index"));
        sendCached(state.bpm, QStringLiteral("tempo"));
        sendCached(state.cueJumpMode, QStringLiteral("cue jump mode"));
        sendCached(state.midiMapInit, QStringLiteral("MIDI mappings"));
        emit clientConnected();
        if (socket->bytesAvailable() > 0)
            onClientReadable(socket);
    }
}

void iOSSocket::onClientReadable(QTcpSocket *socket)
{
    bool received = false;
    while (socket == m_client && socket->bytesAvailable() > 0) {
        const QByteArray chunk = socket->read(kReadChunk);
        if (chunk.isEmpty())
            break;
        received = true;
        handle(m_parser.feed(chunk));
    }
    if (received && socket == m_client)
        mlog::out(QStringLiteral("receiving messages"));
}

void iOSSocket::onClientEnded(QTcpSocket *socket)
{
    // Whatever arrived before the end is still handled, and the end ends a setlist
    // that waited for the quiet time: a phone may send its edit and hang up at once.
    if (socket == m_client && socket->bytesAvailable() > 0)
        onClientReadable(socket);
    if (socket == m_client) {
        m_quietTimer.stop();
        handle(m_parser.connectionEnded());
        mlog::out(QStringLiteral("Connection closed or failed"));
    }
    cancel(socket);
}

void iOSSocket::cancel(QTcpSocket *socket)
{
    QObject::disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
    if (socket != m_client)
        return;
    m_client = nullptr;
    m_parser.clear();
    m_quietTimer.stop();
    mlog::out(QStringLiteral("iOS client disconnected"));
}

void iOSSocket::handle(const PhoneInputParser::Result &result)
{
    for (const PhoneInputParser::Message &message : result.messages) {
        const QByteArray &bytes = message.bytes;
        if (message.kind == PhoneInputParser::Message::Kind::Midi)
            m_midi.send(quint8(bytes[0]), quint8(bytes[1]), quint8(bytes[2]));
        else
            m_live.send(bytes);
    }
    if (result.awaitingQuiet)
        m_quietTimer.start();
    if (!result.fault)
        return;
    const QString first = QStringLiteral("0x") +
                          QString::number(result.faultByte, 16).rightJustified(2, u'0').toUpper();
    switch (*result.fault) {
    case PhoneInputParser::Fault::UnknownType:
        mlog::out(QStringLiteral("Dropped input from iOS starting with byte ") + first +
                  QStringLiteral(": not a known message"));
        break;
    case PhoneInputParser::Fault::BadMidi:
        mlog::out(QStringLiteral("Dropped input from iOS starting with byte ") + first +
                  QStringLiteral(": not a MIDI message"));
        break;
    case PhoneInputParser::Fault::BadSetlist:
        mlog::out(QStringLiteral("Dropped input from iOS starting with byte ") + first +
                  QStringLiteral(": a setlist text is not UTF-8"));
        break;
    case PhoneInputParser::Fault::CutShort:
        mlog::out(QStringLiteral("Dropped input from iOS starting with byte ") + first +
                  QStringLiteral(": cut short when the phone hung up"));
        break;
    case PhoneInputParser::Fault::Overflow:
        mlog::out(QStringLiteral("Input from iOS passed 1 MiB without ending a message; "
                                 "dropping the client"));
        if (m_client)
            cancel(m_client);
        break;
    }
}

void iOSSocket::sendToiOS(const QByteArray &bytes)
{
    QTcpSocket *client = m_client;
    if (!client)
        return;
    if (client->write(livelink::frame(bytes)) < 0) {
        mlog::out(QStringLiteral("❌ Send to iOS failed: ") + client->errorString());
        cancel(client);
        return;
    }
    client->flush();
    if (client->bytesToWrite() > m_options.maxUnsentBytes) {
        mlog::out(QStringLiteral("iOS client is not reading (") +
                  QString::number(client->bytesToWrite()) +
                  QStringLiteral(" bytes waiting); dropping it"));
        cancel(client);
    }
}

void iOSSocket::sendCached(const std::optional<QByteArray> &bytes, const QString &label)
{
    if (!bytes)
        return;
    mlog::out(NoPhoneRelay::cachedSendLine(label, bytes->size()));
    sendToiOS(*bytes);
}

void iOSSocket::onLiveConnected(bool connected)
{
    if (!connected && m_client)
        sendToiOS(QByteArray(1, char(0x09)));
}

void iOSSocket::publish(const PublisherState &state)
{
    emit publisherStateChanged(state);
}
