// SPDX-License-Identifier: MIT
#pragma once

#include "livebytes.h"
#include "livelinkcodec.h"
#include "log.h"
#include "recordingdelegates.h"
#include "scriptedliveserver.h"
#include "serverdetector.h"
#include "socketclient.h"
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
        QVERIFY(server.isListening());
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

    // Connects straight to the server and waits until the handshake is done.
    bool connectAndValidate()
    {
        server.setGreeting(frame(livelink::kServerIdentity));
        client.connectToServer(QStringLiteral("127.0.0.1"), server.port());
        return QTest::qWaitFor([this] { return status.count(kConnected) == 1; }, 5000) &&
               QTest::qWaitFor([this] { return server.received() == livelink::kClientIdentity; },
                               5000);
    }

    // Sends the frames, then a setlist position of 99 as a marker, and waits until the
    // marker reaches the window: everything before it has been handled by then.
    bool deliver(const QList<QByteArray> &payloads)
    {
        QByteArray bytes;
        for (const QByteArray &payload : payloads)
            bytes += frame(payload);
        server.write(bytes + frame(livebytes::bytes({5, 99})));
        const bool seen = QTest::qWaitFor(
            [this] {
                return !window.events.isEmpty() && window.events.last() == QLatin1String("row 99");
            },
            5000);
        if (seen)
            window.events.removeLast();
        return seen;
    }
};
