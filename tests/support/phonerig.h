// SPDX-License-Identifier: MIT
#pragma once

#include "abletonsocket.h"
#include "daemonstatecache.h"
#include "dnssdadvertiser.h"
#include "fakeserviceadvertiser.h"
#include "iossocket.h"
#include "livebytes.h"
#include "midisink.h"
#include "nophonerelay.h"
#include "phoneclient.h"
#include "scriptedliveserver.h"
#include "temphome.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <array>
#include <memory>

// Records the phone's MIDI as the virtual source would send it.
class RecordingMidiSink final : public MidiSink
{
public:
    void send(quint8 status, quint8 data1, quint8 data2) override
    {
        sent.append({status, data1, data2});
    }
    QList<std::array<quint8, 3>> sent;
};

// The daemon's Live side and phone side wired as main wires them, against a scripted
// Live server, with fast timers and a settings file in a temporary home. The DNS-SD
// tests use the real advertiser.
template <class Advertiser> struct PhoneRigWith
{
    explicit PhoneRigWith(iOSSocket::Options options = fastOptions())
        : settings(home.path() + QStringLiteral("/daemon.ini"), QSettings::IniFormat),
          cache(placeholder), live(cache, placeholder,
                                   AbletonSocket::Timing{std::chrono::milliseconds(50),
                                                         std::chrono::milliseconds(100)}),
          phone(live, cache, midi, advertiser, settings, options)
    {}

    static iOSSocket::Options fastOptions()
    {
        iOSSocket::Options options;
        options.restartDelay = std::chrono::milliseconds(20);
        options.address = QHostAddress(QHostAddress::LocalHost);
        return options;
    }

    // Starts the listener on a free loopback port.
    bool listen()
    {
        settings.setValue(QStringLiteral("iosListenerPort"), ScriptedLiveServer::closedPort());
        phone.startAdvertising(QStringLiteral("Marquell"), QStringLiteral("_marquell._tcp"));
        return phone.listeningPort() != 0;
    }

    // Connects the daemon to the scripted Live and answers its handshake.
    bool validateLive()
    {
        live.connectToLive(server.port());
        if (!QTest::qWaitFor([&] { return server.hasClient(); }))
            return false;
        server.writeIdentity();
        if (!QTest::qWaitFor([&] { return live.serverValidated(); }))
            return false;
        return QTest::qWaitFor([&] { return server.received() == "MARQUELL_CLIENT"; }) &&
               !server.takeReceived().isEmpty();
    }

    // A new phone connected and served its cached state.
    std::unique_ptr<PhoneClient> connectPhone()
    {
        auto client = std::make_unique<PhoneClient>();
        QSignalSpy accepted(&phone, &iOSSocket::clientConnected);
        if (!client->connectTo(phone.listeningPort()) ||
            !QTest::qWaitFor([&] { return accepted.count() == 1; }))
            return nullptr;
        return client;
    }

    TempHome home;
    QSettings settings;
    NoPhoneRelay placeholder;
    DaemonStateCache cache;
    AbletonSocket live;
    ScriptedLiveServer server;
    RecordingMidiSink midi;
    Advertiser advertiser;
    iOSSocket phone;
    QSignalSpy published{&phone, &iOSSocket::publisherStateChanged};

    PublisherState lastPublished() const
    {
        return published.isEmpty() ? PublisherState::unpublished()
                                   : published.last().at(0).value<PublisherState>();
    }
};

using PhoneRig = PhoneRigWith<FakeServiceAdvertiser>;
