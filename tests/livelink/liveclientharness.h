// SPDX-License-Identifier: MIT
#pragma once

#include "livebytes.h"
#include "livelinkcodec.h"
#include "log.h"
#include "scriptedliveserver.h"
#include "serverdetector.h"
#include "serverdetectordelegate.h"
#include "socketclient.h"
#include "socketclientdelegate.h"
#include "songmanager.h"
#include "temphome.h"
#include "transportmappings.h"

#include <QtTest>

#include <chrono>

using namespace livebytes;
using namespace std::chrono_literals;

const QString kWaiting = QStringLiteral("Waiting for Validation");
const QString kConnected = QStringLiteral("Connected to Live");
const QString kFailed = QStringLiteral("Connection failed. Retrying...");

// What the show window would be told, as the texts it shows or short event names.
class RecordingDetectorDelegate final : public ServerDetectorDelegate
{
public:
    void showServerStatus(const QString &text) override { events << "status: " + text; }
    void showWaitingForValidation() override { events << kWaiting; }
    void showConnected() override { events << kConnected; }
    // The socket client always passes no error: anything else would show on screen.
    void showConnectionFailed(const QString &error) override
    {
        events << (error.isEmpty() ? kFailed : QStringLiteral("Connection failed: ") + error);
    }
    int count(const QString &event) const { return events.count(event); }
    QStringList events;
};

class RecordingClientDelegate final : public SocketClientDelegate
{
public:
    void selectSetlistRow(int index) override { events << QStringLiteral("row %1").arg(index); }
    void showCueMode(int mode) override { events << QStringLiteral("cue %1").arg(mode); }
    void showBPM(float bpm) override { events << QStringLiteral("bpm %1").arg(double(bpm)); }
    QStringList events;
};

// The application's Live link objects wired as the executable wires them, against a
// scripted server on a free loopback port published in a temporary home.
struct LiveClientHarness
{
    TempHome home;
    mlog::Capture log;
    ScriptedLiveServer server;
    TransportMappings mappings;
    SocketClient client{mappings};
    SongManager songs{client};
    ServerDetector detector{client};
    RecordingDetectorDelegate status;
    RecordingClientDelegate window;

    explicit LiveClientHarness(std::chrono::milliseconds validationTimeout = 5s)
    {
        home.writeServerJson(portJson(server.port()));
        client.setSongManager(&songs);
        client.setServerDetector(&detector);
        client.setDelegate(&window);
        client.setServerDetectorDelegate(&status);
        client.setValidationTimeout(validationTimeout);
        detector.setDelegate(&status);
        detector.setInterval(1h); // restarts are visible, ticks only where a test asks
        detector.updateParameters(QStringLiteral("127.0.0.1"), server.port());
    }

    void connectStraight() { client.connectToServer(QStringLiteral("127.0.0.1"), server.port()); }

    // Connects straight to the server and waits until the handshake is done.
    bool connectAndValidate()
    {
        server.setGreeting(frame(livelink::kServerIdentity));
        connectStraight();
        return QTest::qWaitFor([this] { return status.count(kConnected) == 1; }, 5000) &&
               QTest::qWaitFor([this] { return server.received() == livelink::kClientIdentity; },
                               5000) &&
               !server.takeReceived().isEmpty();
    }

    // Sends the frames, then a setlist position of 99 as a marker, and waits until the
    // marker reaches the window: everything before it has been handled by then.
    bool deliver(const QList<QByteArray> &payloads)
    {
        QByteArray bytes;
        for (const QByteArray &payload : payloads)
            bytes += frame(payload);
        server.write(bytes + frame(livebytes::bytes({5, 99})));
        const bool seen =
            QTest::qWaitFor([this] { return window.events.endsWith(QStringLiteral("row 99")); });
        if (seen)
            window.events.removeLast();
        return seen;
    }

    int notDetected(int port) const
    {
        return log.count(
            QStringLiteral("Server not detected on 127.0.0.1:%1. Will retry.").arg(port));
    }
};
