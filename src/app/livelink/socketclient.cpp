// SPDX-License-Identifier: MIT
#include "socketclient.h"

#include "livelinkcodec.h"
#include "log.h"
#include "mappingdata.h"
#include "serverdetector.h"
#include "serverdetectordelegate.h"
#include "socketclientdelegate.h"
#include "songmanager.h"
#include "transportmappings.h"

#include <QHash>
#include <QTcpSocket>

#include <algorithm>
#include <array>
#include <functional>
#include <variant>

namespace {

constexpr std::array<const char *, 4> kControlNames{"play", "stop", "previous", "next"};

} // namespace

SocketClient::SocketClient(TransportMappings &mappings, QObject *parent)
    : QObject(parent), m_mappings(mappings)
{
    m_validationTimer.setSingleShot(true);
    QObject::connect(&m_validationTimer, &QTimer::timeout, this,
                     &SocketClient::onValidationTimeout);
}

SocketClient::~SocketClient()
{
    if (m_socket) {
        QObject::disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
    }
}

void SocketClient::setSongManager(SongManager *songManager)
{
    m_songManager = songManager;
}

void SocketClient::setServerDetector(ServerDetector *detector)
{
    m_detector = detector;
}

void SocketClient::connectToServer(const QString &host, int port)
{
    m_isAttemptingConnection = true;
    if (m_socket) {
        // Replaced, not torn down: the caller is already starting over.
        QObject::disconnect(m_socket, nullptr, this, nullptr);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
    }
    m_reader.clear();
    m_isConnected = false;
    m_serverValidated = false; // every connection starts unvalidated

    m_socket = new QTcpSocket(this);
    QTcpSocket *socket = m_socket;
    QObject::connect(socket, &QTcpSocket::connected, this, &SocketClient::onConnected);
    QObject::connect(socket, &QTcpSocket::readyRead, this, &SocketClient::onReadyRead);
    QObject::connect(socket, &QTcpSocket::disconnected, this, &SocketClient::tearDown);
    QObject::connect(
        socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
            if (socket != m_socket)
                return;
            mlog::out(QStringLiteral("Live link connection error: ") + socket->errorString());
            tearDown();
        });

    // Each attempt gets the whole time-out; an earlier attempt's cannot cut a later one short.
    m_validationTimer.start(m_validationTimeout);
    if (port < 0 || port > 65535) {
        mlog::out(QStringLiteral("Invalid port for the Live link: %1").arg(port));
        QMetaObject::invokeMethod(this, &SocketClient::tearDown, Qt::QueuedConnection);
        return;
    }
    socket->connectToHost(host, static_cast<quint16>(port));
}

void SocketClient::disconnectFromServer()
{
    tearDown();
}

void SocketClient::onConnected()
{
    m_isConnected = true;
    // Messages are a few bytes each, sent when the performer acts: do not hold them back.
    if (m_socket)
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_detectorDelegate)
                m_detectorDelegate->showWaitingForValidation();
        },
        Qt::QueuedConnection);
}

void SocketClient::onValidationTimeout()
{
    if (!m_serverValidated)
        tearDown();
}

void SocketClient::onReadyRead()
{
    QTcpSocket *socket = m_socket;
    if (!socket)
        return;
    m_reader.feed(socket->readAll());
    m_readAt = SongPositionModel::Clock::now();
    // Every complete frame now, partial ones wait for the next event.
    while (socket == m_socket && !m_isDisconnecting) {
        FrameReader::Result result = m_reader.next();
        if (result.status == FrameReader::Status::NeedMore)
            return;
        if (result.status == FrameReader::Status::BadLength) {
            // Nothing after a bad length can be trusted: the stream is out of step.
            mlog::out(QStringLiteral("Invalid payload length: %1").arg(result.length));
            tearDown();
            return;
        }
        if (m_serverValidated)
            handleMessage(result.payload);
        else
            handleHandshake(result.payload);
    }
}

void SocketClient::handleHandshake(const QByteArray &payload)
{
    if (!livelink::isServerIdentity(payload)) {
        mlog::out(QStringLiteral("Invalid server ID"));
        tearDown();
        return;
    }
    m_serverValidated = true;
    m_validationTimer.stop();
    write(livelink::clientIdentityReply());
    if (m_position)
        write(livelink::encodeSubscribe(livelink::SongPositionFeature));
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_detectorDelegate)
                m_detectorDelegate->showConnected();
        },
        Qt::QueuedConnection);
}

void SocketClient::tearDown()
{
    if (m_isDisconnecting)
        return;
    m_isDisconnecting = true;
    m_validationTimer.stop();
    if (m_socket) {
        QTcpSocket *socket = m_socket;
        m_socket = nullptr;
        QObject::disconnect(socket, nullptr, this, nullptr);
        socket->abort();
        socket->deleteLater(); // may be inside one of its own signals
    }
    m_reader.clear();
    m_isConnected = false;
    m_liveSetlistIds.clear();
    if (m_position)
        m_position->reset();

    if (m_detectorDelegate)
        m_detectorDelegate->showConnectionFailed(QString());

    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_detector) {
                m_detector->reset();
                m_detector->startDetection();
            }
            m_isDisconnecting = false;
        },
        Qt::QueuedConnection);
}

namespace {

template <class... Ts> struct Overloaded : Ts...
{
    using Ts::operator()...;
};
template <class... Ts> Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

void SocketClient::handleMessage(const QByteArray &payload)
{
    const livelink::ServerMessage message = livelink::decodeServerMessage(payload);
    std::visit(
        Overloaded{
            [this](const livelink::MidiMap &map) { applyMidiMap(map); },
            [this](const livelink::PlayingState &state) {
                if (state.value == 1)
                    setPlaying(true);
                else if (state.value == 2)
                    setPlaying(false);
            },
            [](const livelink::Notice &) {},
            [this](const livelink::SongPoolUpdate &update) { applySongPool(&update); },
            [this](const livelink::SelectedIndex &selected) {
                queueForDelegate([index = int(selected.index)](SocketClientDelegate &d) {
                    d.selectSetlistRow(index);
                });
            },
            [this](const livelink::CueMode &cue) {
                queueForDelegate(
                    [mode = int(cue.mode)](SocketClientDelegate &d) { d.showCueMode(mode); });
            },
            [this](const livelink::Tempo &tempo) {
                mlog::out(QStringLiteral("BPM received"));
                queueForDelegate([bpm = tempo.bpm()](SocketClientDelegate &d) { d.showBPM(bpm); });
            },
            [this](const livelink::SongPosition &position) {
                if (m_position)
                    m_position->applyPosition(position, m_readAt);
            },
            [this](const livelink::Sections &sections) {
                if (m_position)
                    m_position->applySections(sections);
            },
            [this](const livelink::SetlistMarks &marks) {
                if (m_position)
                    m_position->applyMarks(marks, m_liveSetlistIds);
            },
            // The application does not ping; only the daemon reads ping replies.
            [](const livelink::PingReply &) { mlog::out(QStringLiteral("Unknown header: 6")); },
            [](const livelink::UnknownMessage &unknown) {
                mlog::out(QStringLiteral("Unknown header: %1").arg(unknown.type));
            },
            [this](const livelink::Malformed &bad) { handleMalformed(bad); },
        },
        message);
}

void SocketClient::handleMalformed(const livelink::Malformed &bad)
{
    switch (static_cast<livelink::ServerType>(bad.type)) {
    case livelink::ServerType::MidiMap:
        mlog::out(QStringLiteral("Ignoring malformed MIDI map message."));
        return;
    case livelink::ServerType::SongPool:
        applySongPool(nullptr);
        return;
    case livelink::ServerType::Tempo:
        mlog::out(QStringLiteral("BPM received")); // printed before the size is known
        return;
    case livelink::ServerType::PingReply:
        mlog::out(QStringLiteral("Unknown header: 6"));
        return;
    default:
        mlog::out(QStringLiteral("Ignoring short message of type %1.").arg(bad.type));
    }
}

void SocketClient::queueForDelegate(std::function<void(SocketClientDelegate &)> call)
{
    // Window updates run after the message that caused them has been handled.
    QMetaObject::invokeMethod(
        this,
        [this, call = std::move(call)] {
            if (m_delegate)
                call(*m_delegate);
        },
        Qt::QueuedConnection);
}

void SocketClient::applyMidiMap(const livelink::MidiMap &map)
{
    std::array<std::optional<MappingData>, 4> byTag;
    for (const livelink::MidiMapRecord &record : map.records) {
        const auto known =
            std::find_if(kControlNames.begin(), kControlNames.end(), [&record](const char *name) {
                return record.name == QLatin1String(name);
            });
        if (known == kControlNames.end()) {
            mlog::out(QStringLiteral("Unknown control name: ") + record.name);
            continue;
        }
        // A channel or note number MIDI cannot carry is no usable mapping; the rest of
        // the message still holds.
        if (record.channel > 15 || record.identifier > 127) {
            mlog::out(
                QStringLiteral("Ignoring out-of-range mapping for %1: channel %2, identifier %3")
                    .arg(record.name)
                    .arg(record.channel)
                    .arg(record.identifier));
            continue;
        }
        byTag[std::distance(kControlNames.begin(), known)] =
            MappingData{record.msgType, record.channel, record.identifier};
    }
    for (int tag = 1; tag <= 4; ++tag)
        m_mappings.setMapping(tag, byTag[tag - 1]);
    QPointer<TransportMappings> mappings(&m_mappings);
    QMetaObject::invokeMethod(
        &m_mappings, [mappings] { emit mappings->midiMappingDidUpdate(); }, Qt::QueuedConnection);
}

// A null update is a pool section that could not be read: nothing changes.
void SocketClient::applySongPool(const livelink::SongPoolUpdate *update)
{
    mlog::out(QStringLiteral("Processing Song Pool Update."));
    if (!update) {
        mlog::out(QStringLiteral("Ignoring malformed song pool message."));
        return;
    }
    if (m_songManager)
        m_songManager->replaceSongPool(update->pool);
    if (update->setlistSection != livelink::SetlistSection::Malformed) {
        m_liveSetlistIds.clear();
        for (const Song &entry : update->setlist)
            m_liveSetlistIds.append(entry.id);
    }
    if (!update->setlistBytesFollow) {
        if (m_songManager)
            m_songManager->replaceSetlist(std::nullopt);
        return;
    }
    mlog::out(QStringLiteral("Processing Setlist Update."));
    if (update->setlistSection == livelink::SetlistSection::Malformed) {
        mlog::out(QStringLiteral("Ignoring malformed setlist; the setlist is unchanged."));
        if (m_songManager)
            m_songManager->keepSetlist();
        return;
    }
    if (m_songManager)
        m_songManager->replaceSetlist(update->setlist);
}

void SocketClient::setPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    emit isPlayingChanged(playing);
}

// ---- senders ---------------------------------------------------------------------

void SocketClient::sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag)
{
    if (msgType == 0xF0)
        return; // a learnt message Live cannot map
    send(livelink::encodeSetMapping(channel, msgType, identifier, tag));
}

void SocketClient::sendTransportCommand(int command)
{
    sendByteMessage(command, quint8(livelink::ClientType::TransportCommand), "transport command");
}

void SocketClient::sendClearMapping(int tag)
{
    sendByteMessage(tag, quint8(livelink::ClientType::ClearMapping), "clear mapping tag");
}

void SocketClient::sendSelectSetlistIndex(int index)
{
    sendByteMessage(index, quint8(livelink::ClientType::SelectSetlistIndex), "setlist index");
}

void SocketClient::sendSetlist(const QList<Song> &songs)
{
    send(livelink::encodeSetlist(songs));
}

void SocketClient::sendPlaySongPoolSong(quint64 id)
{
    send(livelink::encodePlaySongPoolSong(id));
}

void SocketClient::sendCueMode(int mode)
{
    sendByteMessage(mode, quint8(livelink::ClientType::CueMode), "cue mode");
}

void SocketClient::sendClearAllMappings()
{
    send(livelink::encodeClearAllMappings());
}

void SocketClient::sendJumpToSection(quint64 songId, int section)
{
    if (section < 0 || section >= livelink::kNoSection) {
        mlog::out(QStringLiteral("Not sending section %1: outside 0 to 254.").arg(section));
        return;
    }
    send(livelink::encodeJumpToSection(songId, quint8(section)));
}

void SocketClient::sendStopAfter(quint64 songId, bool stopAfter)
{
    send(livelink::encodeSetStopAfter(songId, stopAfter));
}

void SocketClient::sendByteMessage(int value, quint8 type, const char *what)
{
    if (value < 0 || value > 255) {
        // Wrapping would send a different value; better to send nothing.
        mlog::out(QStringLiteral("Not sending %1 %2: outside 0 to 255.")
                      .arg(QLatin1String(what))
                      .arg(value));
        return;
    }
    send(livelink::encodeByteMessage(static_cast<quint8>(value),
                                     static_cast<livelink::ClientType>(type)));
}

void SocketClient::send(const QByteArray &bytes)
{
    // Before validation the server expects only the identity reply.
    if (!m_socket || !m_isConnected || !m_serverValidated)
        return;
    write(bytes);
}

bool SocketClient::write(const QByteArray &bytes)
{
    if (!m_socket)
        return false;
    // QTcpSocket keeps in its buffer whatever the kernel does not take yet, so a
    // message leaves whole or, on failure, not at all.
    const qint64 written = m_socket->write(bytes);
    if (written != bytes.size()) {
        mlog::out(QStringLiteral("Failed to send %1 bytes to Live: %2")
                      .arg(bytes.size())
                      .arg(m_socket->errorString()));
        return false;
    }
    m_socket->flush();
    return true;
}
