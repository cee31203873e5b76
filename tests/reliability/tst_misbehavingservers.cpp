// SPDX-License-Identifier: MIT
// Both programs look for Live while a server misbehaves; each must reach Live, published
// meanwhile on another port, within 3.5 s.
#include "daemonlivefixture.h"
#include "liveclientharness.h"
#include "livereconnector.h"
#include "serverportfile.h"

#include <QRandomGenerator>
#include <QRegularExpression>

class TestMisbehavingServers : public QObject
{
    Q_OBJECT

private slots:
    void bothProgramsRecover_data()
    {
        QTest::addColumn<QByteArray>("greeting"); // to every client
        QTest::addColumn<bool>("closesMidFrame");
        QTest::addColumn<bool>("takesConnections"); // false: the kernel accepts, no one reads
        QByteArray garbage(1 << 20, 0);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(garbage.data()),
                                              garbage.size() / 4);
        garbage[0] = char(0x7F); // never a length the programs accept
        QTest::newRow("silent after accept") << QByteArray() << false << true;
        QTest::newRow("wrong identity") << frame("MARQUELL_SERVEX") << false << true;
        QTest::newRow("length 4097")
            << bytes({0, 0, 0x10, 0x01}) + QByteArray(64, 'x') << false << true;
        QTest::newRow("closed mid-frame")
            << bytes({0, 0, 0, 100}) + QByteArray(10, 'x') << true << true;
        QTest::newRow("1 MB of garbage") << garbage << false << true;
        QTest::newRow("never reads") << QByteArray() << false << false;
    }
    void bothProgramsRecover()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(bool, closesMidFrame);
        QFETCH(bool, takesConnections);
        LiveClientHarness h(SocketClient::kDefaultValidationTimeout);
        h.detector.setInterval(ServerDetector::kDefaultInterval);
        h.server.stopListening();
        Rig daemon(AbletonSocket::Timing{});
        LiveReconnector reconnector(daemon.socket, serverportfile::serverConfigPath());
        ScriptedLiveServer bad;
        bad.setGreeting(greeting);
        QTcpServer paused; // the kernel accepts for it; it never takes a connection
        QVERIFY(paused.listen(QHostAddress::LocalHost, 0));
        paused.pauseAccepting();
        h.home.writeServerJson(portJson(takesConnections ? bad.port() : paused.serverPort()));
        // Closes a mid-frame connection once the client has its piece.
        const auto poll = [&] {
            if (closesMidFrame && bad.hasClient())
                bad.closeClients();
        };
        h.detector.startDetection();
        reconnector.start();
        QTRY_VERIFY_WITH_TIMEOUT(
            (poll(), h.status.count(kWaiting) > 0 && daemon.connected.contains({true})), 3000);

        ScriptedLiveServer live; // and a cue mode that only it sends
        live.setGreeting(frame(livelink::kServerIdentity) + frame(bytes({7, 1})));
        h.home.writeServerJson(portJson(live.port()));
        QTRY_VERIFY_WITH_TIMEOUT(
            (poll(), h.window.events.contains(QStringLiteral("cue 1")) &&
                         daemon.phone.sent.contains(bytes({7, 1})) &&
                         live.received().startsWith(livelink::kClientIdentity)),
            3500);
        QCOMPARE(h.status.count(kConnected), 1);
        QCOMPARE(h.log.count(QStringLiteral("Server validated")), 1); // the daemon's, once
        // Between the bad server and Live the window showed a failure or a search.
        const QStringList &events = h.status.events;
        const qsizetype waiting = events.indexOf(kWaiting);
        const QStringList between = events.mid(waiting, events.indexOf(kConnected) - waiting);
        QVERIFY2(between.contains(kFailed) ||
                     between.indexOf(QRegularExpression(QStringLiteral("^status: Detecting"))) >= 0,
                 qPrintable(events.join(QStringLiteral(" | "))));
    }
};

QTEST_GUILESS_MAIN(TestMisbehavingServers)
#include "tst_misbehavingservers.moc"
