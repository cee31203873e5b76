// SPDX-License-Identifier: MIT
#pragma once

#include "phoneinputparser.h"
#include "phonerelay.h"
#include "publisherstate.h"
#include "serviceadvertiser.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>

class AbletonSocket;
class DaemonStateCache;
class MidiSink;
class QSettings;

// The daemon's side of the phone link: a TCP listener on every interface,
// advertised by DNS-SD, serving one phone at a time. It sends the phone the cached
// show state on connect and every relay from Live, tells it when Live is gone, and
// carries what the phone writes to Live (AbletonSocket::send, the one path there)
// or, for MIDI records, to the MIDI sink. Main thread only.
class iOSSocket final : public QObject, public PhoneRelay
{
    Q_OBJECT

public:
    struct Options
    {
        // A setlist ends when the phone has written nothing for this long: longer
        // than one TCP retransmission (200 ms at least), so a lost segment on Wi-Fi
        // does not cut a setlist in two; a setlist edit can wait that long.
        std::chrono::milliseconds setlistQuietTime{250};
        // Pause before a listener that failed for a reason other than its address is
        // made again, so a failure that persists does not spin.
        std::chrono::milliseconds restartDelay{1000};
        // A phone that stops reading is dropped once this much waits to be sent.
        qint64 maxUnsentBytes = 1024 * 1024;
        // Every interface: phones are on the local network.
        QHostAddress address = QHostAddress::Any;
    };

    iOSSocket(AbletonSocket &live, DaemonStateCache &cache, MidiSink &midi,
              ServiceAdvertiser &advertiser, QSettings &settings, Options options,
              QObject *parent = nullptr);
    iOSSocket(AbletonSocket &live, DaemonStateCache &cache, MidiSink &midi,
              ServiceAdvertiser &advertiser, QSettings &settings, QObject *parent = nullptr)
        : iOSSocket(live, cache, midi, advertiser, settings, Options(), parent)
    {}
    ~iOSSocket() override;

    void startAdvertising(const QString &serviceName, const QString &serviceType);
    // Stores a new port (0 is ignored) and makes the listener again on it.
    void setListenPort(quint16 port);

    void sendToiOS(const QByteArray &bytes) override;
    void sendCached(const std::optional<QByteArray> &bytes, const QString &label) override;

    bool hasClient() const { return m_client != nullptr; }
    quint16 listeningPort() const;
    bool usingFallbackPort() const { return m_usingFallbackPort; }
    QString deviceName() const { return m_deviceName; }

signals:
    void publisherStateChanged(const PublisherState &state);
    // A phone became the client and has been sent the cached state.
    void clientConnected();

private:
    void makeListener();
    void restartListener();
    void onListening();
    void onAddressError(const QString &error);
    void onOtherFailure(const QString &error);
    void onNewConnection();
    void onClientReadable(QTcpSocket *socket);
    void onClientEnded(QTcpSocket *socket);
    void onAdvertised();
    void handle(const PhoneInputParser::Result &result);
    void cancel(QTcpSocket *socket);
    void dropListener();
    void onAdvertiserUnavailable(const QString &reason);
    void onLiveConnected(bool connected);
    void publish(const PublisherState &state);

    AbletonSocket &m_live;
    DaemonStateCache &m_cache;
    MidiSink &m_midi;
    ServiceAdvertiser &m_advertiser;
    QSettings &m_settings;
    Options m_options;

    QPointer<QTcpServer> m_listener;
    QPointer<QTcpSocket> m_client;
    bool m_wantAdvertising = false;
    bool m_usingFallbackPort = false;
    QString m_deviceName;
    QString m_serviceName = QStringLiteral("Marquell");
    QString m_serviceType = QStringLiteral("_marquell._tcp");
    QString m_advertisingNote; // set while no DNS-SD daemon answers
    PhoneInputParser m_parser; // the current client's pending input
    QTimer m_quietTimer;
};
