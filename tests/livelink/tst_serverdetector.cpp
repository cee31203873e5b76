// SPDX-License-Identifier: MIT
// The search for the Live link server: ticks, the published port read on every tick,
// the one-time connection, and probes that cannot connect.
#include "liveclientharness.h"
#include "serverportfile.h"

#include <QRegularExpression>

namespace {

// A loopback listener whose accept queue is full and never drained: further connects
// get no answer, like a black-holed port. False when this kernel answers them anyway.
bool fillAcceptQueue(QTcpServer &listener, QObject &fillers)
{
    listener.setListenBacklogSize(0);
    listener.listen(QHostAddress::LocalHost, 0);
    listener.pauseAccepting();
    for (int i = 0; i < 8; ++i) {
        auto *socket = new QTcpSocket(&fillers);
        socket->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        if (!socket->waitForConnected(200))
            return true;
    }
    return false;
}

} // namespace

class TestServerDetector : public QObject
{
    Q_OBJECT

private slots:
    // The port comes from server.json (6000 without one) and is read again on every
    // detection; once connected the loop stops.
    void findsThePublishedPort_data()
    {
        QTest::addColumn<bool>("fromDefault");
        QTest::newRow("from 6000 before the first tick") << true;
        QTest::newRow("from a dead port while searching") << false;
    }
    void findsThePublishedPort()
    {
        QFETCH(bool, fromDefault);
        LiveClientHarness h;
        h.server.setGreeting(frame(livelink::kServerIdentity));
        const int dead = ScriptedLiveServer::closedPort();
        if (fromDefault)
            QVERIFY(QFile::remove(serverportfile::serverConfigPath()));
        else
            h.home.writeServerJson(portJson(dead));
        const int port = fromDefault ? 6000 : dead;
        ServerDetector d(h.client);
        RecordingDetectorDelegate status;
        d.setDelegate(&status);
        d.setInterval(fromDefault ? 1h : 100ms);
        QCOMPARE(d.ipAddress(), QStringLiteral("0.0.0.0"));
        QCOMPARE(d.port(), port);
        d.updateParameters(QStringLiteral("127.0.0.1"), port);
        d.startDetection();
        QCOMPARE(status.events,
                 QStringList{QStringLiteral("status: Detecting server on \nPort %1...").arg(port)});
        if (!fromDefault) { // else no tick: nothing probes 6000
            QTRY_COMPARE(h.notDetected(dead), 1);
            QTRY_VERIFY(h.log.contains(QStringLiteral("Performing server detection. Attempt #3")));
        }
        d.setInterval(1h); // the change alone, one probe: a tick could add a second
        h.home.writeServerJson(portJson(h.server.port()));
        QTRY_COMPARE(h.status.count(kConnected), 1);
        QCOMPARE(d.port(), h.server.port());
        d.setInterval(100ms); // the next tick ends the loop
        QTRY_VERIFY(!d.isDetecting());
        QVERIFY(!h.log.contains(QStringLiteral("Checking server reachability at 127.0.0.1:6000.")));
        QCOMPARE(h.server.acceptedCount(), 2); // the probe, then the connection
        QCOMPARE(h.server.openConnections(), 1);
        // The detector's lines carry a time stamp.
        const QRegularExpression stamp(
            "^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\] ");
        for (const QString &line : h.log.outLines())
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        d.reset();
        QCOMPARE(d.detectionAttemptCount(), 0);
        QVERIFY(!d.hasConnectedOnce());
    }

    void searchStartsOverAfterLostConnection()
    {
        LiveClientHarness h;
        h.server.setGreeting(frame(livelink::kServerIdentity));
        h.detector.setInterval(50ms);
        h.detector.startDetection();
        QTRY_COMPARE(h.status.count(kConnected), 1);
        h.server.closeClients();
        QTRY_COMPARE(h.status.count(kConnected), 2);
        QCOMPARE(h.status.count(kFailed), 1);
        QCOMPARE(h.log.count("Performing server detection. Attempt #1"), 2);
        QCOMPARE(h.log.count("Performing server detection. Attempt #2"), 0);
    }

    // A probe that gets no answer times out; a detector destroyed while its probe
    // waits must not hear the late result.
    void blackHoledPortDoesNotStallTheLoop()
    {
        QTcpServer listener;
        QObject fillers;
        if (!fillAcceptQueue(listener, fillers))
            QSKIP("this kernel answers connects to a full accept queue");
        const int port = listener.serverPort();
        LiveClientHarness h;
        h.home.writeServerJson(portJson(port));
        auto *detector = new ServerDetector(h.client);
        detector->setInterval(300ms);
        detector->setProbeTimeout(150ms);
        detector->updateParameters(QStringLiteral("127.0.0.1"), port);
        detector->startDetection();
        QTRY_VERIFY(h.notDetected(port) >= 2);
        const int unreachable = h.log.count("Server unreachable.");
        QTRY_VERIFY(h.log.messages().last().startsWith("Checking server reachability"));
        const int notDetected = h.notDetected(port);
        delete detector;
        QTRY_COMPARE(h.log.count("Server unreachable."), unreachable + 1);
        QTest::qWait(50); // let the posted result run
        QCOMPARE(h.notDetected(port), notDetected);
    }
};

QTEST_MAIN(TestServerDetector)
#include "tst_serverdetector.moc"
