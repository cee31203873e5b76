// SPDX-License-Identifier: MIT
#pragma once

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "fakeserviceadvertiser.h"
#include "iossocket.h"
#include "midisink.h"
#include "nophonerelay.h"
#include "phoneclient.h"
#include "scriptedliveserver.h"
#include "temphome.h"

#include <QSettings>
#include <QSignalSpy>

#include <memory>

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

// The daemon's Live side and phone side wired as main wires them, against a scripted
// Live server, with fast timers and a settings file in a temporary home. The DNS-SD
// tests use the real advertiser.
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
        auto client = std::make_unique<PhoneClient>();
        QSignalSpy accepted(&phone, &iOSSocket::clientConnected);
        const bool served = client->connectTo(phone.listeningPort()) &&
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
        if (!QTest::qWaitFor([&] { return server.received() == "MARQUELL_CLIENT"; }))
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
