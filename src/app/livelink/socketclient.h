// SPDX-License-Identifier: MIT
#pragma once

#include "framereader.h"
#include "livelinkcodec.h"
#include "livelinksender.h"
#include "songposition.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;
class ServerDetector;
class ServerDetectorDelegate;
class SocketClientDelegate;
class SongManager;
class TransportMappings;

// The application's end of the Live link: connects when the server detector asks,
// checks the server's identity, turns every message from Live into model and window
// updates, and writes the messages the application sends. When a connection fails or
// ends it reports the failure once and hands back to the detector. Main thread only.
//
// Wiring: the song manager and the detector both need the client, so they are given
// to it by setters after construction. Delegates are not owned; an owner that dies
// first must clear them.
class SocketClient final : public QObject, public LiveLinkSender
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDefaultValidationTimeout{3000};

    explicit SocketClient(TransportMappings &mappings, QObject *parent = nullptr);
    ~SocketClient() override;

    void setSongManager(SongManager *songManager);
    void setServerDetector(ServerDetector *detector);
    // With a model set, every connection subscribes to the position inside the song
    // right after the handshake; without one the client sends what it always has.
    void setSongPosition(SongPositionModel *model) { m_position = model; }
    void setDelegate(SocketClientDelegate *delegate) { m_delegate = delegate; }
    void setServerDetectorDelegate(ServerDetectorDelegate *delegate)
    {
        m_detectorDelegate = delegate;
    }
    // Time allowed for the handshake, counted from the start of each attempt.
    void setValidationTimeout(std::chrono::milliseconds timeout) { m_validationTimeout = timeout; }

    // Opens a connection, replacing any previous one.
    void connectToServer(const QString &host, int port);
    // Tears the connection down and restarts detection; a second request while one
    // is in progress does nothing.
    void disconnectFromServer();

    bool isConnected() const { return m_isConnected; }
    bool isAttemptingConnection() const { return m_isAttemptingConnection; }
    bool isDisconnecting() const { return m_isDisconnecting; }
    bool serverValidated() const { return m_serverValidated; }
    // Detection clears it whenever it starts.
    void clearServerValidated() { m_serverValidated = false; }
    bool isPlaying() const { return m_isPlaying; }

    // LiveLinkSender: each writes one whole message, only on a validated connection.
    void sendMapping(quint8 channel, quint8 msgType, quint16 identifier, quint8 tag) override;
    void sendTransportCommand(int command) override;
    void sendClearMapping(int tag) override;
    void sendSelectSetlistIndex(int index) override;
    void sendSetlist(const QList<Song> &songs) override;
    void sendPlaySongPoolSong(quint64 id) override;
    void sendCueMode(int mode) override;
    void sendClearAllMappings() override;
    void sendJumpToSection(quint64 songId, int section) override;
    void sendStopAfter(quint64 songId, bool stopAfter) override;

signals:
    void isPlayingChanged(bool playing);

private:
    void onConnected();
    void onReadyRead();
    void onValidationTimeout();
    void tearDown();
    void handleHandshake(const QByteArray &payload);
    void handleMessage(const QByteArray &payload);
    void handleMalformed(const livelink::Malformed &bad);
    void applyMidiMap(const livelink::MidiMap &map);
    void applySongPool(const livelink::SongPoolUpdate *update);
    void queueForDelegate(std::function<void(SocketClientDelegate &)> call);
    void sendByteMessage(int value, quint8 type, const char *what);
    void send(const QByteArray &bytes);
    bool write(const QByteArray &bytes);
    void setPlaying(bool playing);

    TransportMappings &m_mappings;
    QPointer<SongManager> m_songManager;
    QPointer<ServerDetector> m_detector;
    QPointer<SongPositionModel> m_position;
    QList<quint64> m_liveSetlistIds;               // the entries Live's setlist marks follow
    SongPositionModel::Clock::time_point m_readAt; // when the frames being handled arrived
    SocketClientDelegate *m_delegate = nullptr;
    ServerDetectorDelegate *m_detectorDelegate = nullptr;

    QTcpSocket *m_socket = nullptr;
    FrameReader m_reader;
    QTimer m_validationTimer;
    std::chrono::milliseconds m_validationTimeout = kDefaultValidationTimeout;

    bool m_isConnected = false;
    bool m_isDisconnecting = false;
    bool m_isAttemptingConnection = false;
    bool m_serverValidated = false;
    bool m_isPlaying = false;
};
