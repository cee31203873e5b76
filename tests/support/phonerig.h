// SPDX-License-Identifier: MIT
#pragma once

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "framereader.h"
#include "iossocket.h"
#include "midisink.h"
#include "nophonerelay.h"
#include "scriptedliveserver.h"
#include "serviceadvertiser.h"
#include "temphome.h"

#include <QHostAddress>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>
#include <optional>

// Records what would be on the network; answers at once, as a DNS-SD daemon would.
class FakeServiceAdvertiser final : public ServiceAdvertiser
{
    Q_OBJECT

public:
    void advertise(const Service &service) override
    {
        current = service;
        emit advertised(service.name);
    }
    void withdraw() override { current.reset(); }

    std::optional<Service> current; // what is on the network now
};

// A phone on loopback: reads the daemon's frames and writes raw bytes.
class PhoneClient final
{
public:
    explicit PhoneClient(quint16 port)
    {
        m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
        m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
        QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
            m_reader.feed(m_socket.readAll());
            for (auto frame = m_reader.next(); frame.status == FrameReader::Status::Frame;
                 frame = m_reader.next())
                frames.append(frame.payload);
        });
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

// Records the phone's MIDI as the virtual source would send it: status, data 1, data 2.
class RecordingMidiSink final : public MidiSink
{
public:
    void send(quint8 status, quint8 data1, quint8 data2) override
    {
        const char message[] = {char(status), char(data1), char(data2)};
        sent.append(QByteArray(message, 3));
    }
    QList<QByteArray> sent;
};

// The daemon's Live and phone sides wired as main wires them, against a scripted Live
// server, with fast timers and settings in a temporary home; any advertiser.
template <class Advertiser> struct PhoneRigWith
{
    explicit PhoneRigWith(iOSSocket::Options options = fastOptions())
        : settings(home.path() + QStringLiteral("/daemon.ini"), QSettings::IniFormat),
          live(cache, placeholder, {std::chrono::milliseconds(50), std::chrono::milliseconds(100)}),
          phone(live, cache, midi, advertiser, settings, options)
    {}

    static iOSSocket::Options fastOptions()
    {
        iOSSocket::Options options;
        options.restartDelay = std::chrono::milliseconds(20);
        options.address = QHostAddress(QHostAddress::LocalHost);
        return options;
    }

    // Starts the listener on the given port setting (none: the default port).
    bool listen(const QVariant &port = ScriptedLiveServer::closedPort())
    {
        if (port.isValid())
            settings.setValue(QStringLiteral("iosListenerPort"), port);
        phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));
        return phone.listeningPort() != 0;
    }

    // A new phone connected and served its cached state.
    std::unique_ptr<PhoneClient> connectPhone()
    {
        QSignalSpy accepted(&phone, &iOSSocket::clientConnected);
        auto client = std::make_unique<PhoneClient>(phone.listeningPort());
        const bool served = QTest::qWaitFor([&] { return client->isOpen(); }, 2000) &&
                            QTest::qWaitFor([&] { return accepted.count() == 1; });
        return served ? std::move(client) : nullptr;
    }

    // Listening, the daemon connected to the scripted Live and validated, `client` connected.
    bool start()
    {
        if (!listen())
            return false;
        live.connectToLive(server.port());
        if (!QTest::qWaitFor([&] { return server.hasClient(); }))
            return false;
        server.writeIdentity();
        if (!QTest::qWaitFor([&] { return server.received() == livebytes::daemonReply(); }))
            return false;
        server.takeReceived();
        client = connectPhone();
        return client != nullptr;
    }

    PublisherState lastPublished() const
    {
        return published.isEmpty() ? PublisherState::unpublished()
                                   : published.last().at(0).value<PublisherState>();
    }

    TempHome home;
    QSettings settings;
    NoPhoneRelay placeholder;
    DaemonStateCache cache{placeholder};
    AbletonSocket live;
    ScriptedLiveServer server;
    RecordingMidiSink midi;
    Advertiser advertiser;
    iOSSocket phone;
    std::unique_ptr<PhoneClient> client; // the phone start() connected
    QSignalSpy published{&phone, &iOSSocket::publisherStateChanged};
};

using PhoneRig = PhoneRigWith<FakeServiceAdvertiser>;
