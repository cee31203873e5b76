// SPDX-License-Identifier: MIT
// The connection life cycle against a scripted server: handshake, time-out, teardown
// and restart of detection, framing, and the bytes every sender writes.
#include "liveclientharness.h"

#include <QSignalSpy>

#include <functional>

namespace {

const QString kLoopStarted = QStringLiteral("Starting server detection loop.");

using SendAction = std::function<void(SocketClient &, TransportMappings &)>;

} // namespace

Q_DECLARE_METATYPE(SendAction)

class TestSocketClient : public QObject
{
    Q_OBJECT

private slots:
    void handshake_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<int>("pieceSize"); // 0: one write
        QTest::addColumn<bool>("accepted");
        const QByteArray token = livelink::kServerIdentity;
        QTest::newRow("token") << frame(token) << 0 << true;
        QTest::newRow("token in whitespace") << frame(" \t" + token + "\r\n") << 0 << true;
        QTest::newRow("token one byte at a time") << frame(token) << 1 << true;
        QTest::newRow("token and another character") << frame(token + "X") << 0 << false;
        QTest::newRow("wrong frame, then token") << frame("HELLO") + frame(token) << 0 << false;
        QTest::newRow("message before token") << frame(bytes({5, 1})) + frame(token) << 0 << false;
    }
    void handshake()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(int, pieceSize);
        QFETCH(bool, accepted);
        constexpr auto timeout = 300ms;
        LiveClientHarness h(timeout);
        h.server.setGreeting(greeting, pieceSize);
        h.log.clear();
        h.client.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());

        if (accepted) {
            QTRY_COMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
            QTRY_COMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));
            QVERIFY(h.client.serverValidated());
            // The time-out must do nothing now; waiting past it is the only way to see that.
            QTest::qWait(int(timeout.count()) * 2);
            QCOMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
            QVERIFY(h.client.isConnected());
            QCOMPARE(h.server.openConnections(), 1);
            QCOMPARE(h.server.received().size(), 15);
            QCOMPARE(h.log.count(kLoopStarted), 0);
        } else {
            QTRY_COMPARE(h.status.count(kFailed), 1);
            QTRY_COMPARE(h.server.openConnections(), 0);
            QVERIFY(!h.client.isConnected());
            QVERIFY(!h.client.serverValidated());
            QCOMPARE(h.status.count(kConnected), 0);
            QCOMPARE(h.server.received(), QByteArray()); // no reply to a stranger
            QTRY_COMPARE(h.log.count(kLoopStarted), 1);
            QVERIFY(h.detector.isDetecting());
            QCOMPARE(h.status.failureErrors, QStringList{QString()});
        }
    }

    // A server that accepts and says nothing is given up after the time-out, and the
    // new search starts counting at 1 again; it finds the server again, and so on.
    void silentServerTimesOutAndSearchStartsOver()
    {
        LiveClientHarness h(200ms);
        h.detector.setInterval(50ms);
        QElapsedTimer clock;
        clock.start();
        h.detector.startDetection();
        QTRY_VERIFY(h.status.count(kFailed) >= 1);
        QVERIFY(clock.elapsed() >= 200);
        QTRY_VERIFY_WITH_TIMEOUT(
            h.log.count(QStringLiteral("Performing server detection. Attempt #1")) >= 2, 10000);
        QCOMPARE(h.log.count(QStringLiteral("Performing server detection. Attempt #2")), 0);
        QVERIFY(h.server.acceptedCount() >= 2);
        QCOMPARE(h.server.received(), QByteArray()); // never validated, never written to
        const QStringList events = h.status.events;
        QCOMPARE(events.first(),
                 QStringLiteral("status: Detecting server on \nPort %1...").arg(h.server.port()));
        QVERIFY(events.indexOf(kWaiting) < events.indexOf(kFailed));
        QCOMPARE(events.count(kConnected), 0);
    }

    void connectionEndsOnce_data()
    {
        QTest::addColumn<bool>("byServer"); // or by the client, twice in a row
        QTest::newRow("server closes") << true;
        QTest::newRow("client disconnects twice") << false;
    }
    // However a validated connection ends, it is reported and detection restarts once.
    void connectionEndsOnce()
    {
        QFETCH(bool, byServer);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.log.clear();
        if (byServer) {
            h.server.closeClients();
        } else {
            h.client.disconnectFromServer();
            h.client.disconnectFromServer(); // before the restart has run
            QVERIFY(h.client.isDisconnecting());
        }
        QTRY_COMPARE(h.status.count(kFailed), 1);
        QTRY_COMPARE(h.log.count(kLoopStarted), 1);
        QVERIFY(!h.client.isDisconnecting()); // cleared where detection restarts
        QVERIFY(!h.client.isConnected());
        QVERIFY(h.detector.isDetecting());
        QCOMPARE(h.detector.detectionAttemptCount(), 0);
        QTRY_COMPARE(h.server.openConnections(), 0);
        // A late second report of the same loss must not count twice.
        QTest::qWait(100);
        QCOMPARE(h.status.count(kFailed), 1);
        QCOMPARE(h.log.count(kLoopStarted), 1);
        QCOMPARE(h.log.count(QStringLiteral("Resetting server detector state.")), 1);
    }

    void frameLengths_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::addColumn<bool>("valid");
        QTest::newRow("4096, the largest") << 4096u << true;
        QTest::newRow("zero") << 0u << false;
        QTest::newRow("4097") << 4097u << false;
        QTest::newRow("huge") << 0xFFFFFFFFu << false;
    }
    void frameLengths()
    {
        QFETCH(quint32, length);
        QFETCH(bool, valid);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        if (valid) {
            QByteArray notice(length, 'x');
            notice[0] = 2;
            QVERIFY(h.deliver({notice}));
            QCOMPARE(h.status.count(kFailed), 0);
            QVERIFY(h.client.isConnected());
            return;
        }
        QByteArray header(4, '\0');
        qToBigEndian(length, header.data());
        // Whatever follows a bad length is out of step and must not be dispatched.
        h.server.write(frame(bytes({5, 1})) + header + frame(bytes({5, 2})));
        QTRY_COMPARE(h.status.count(kFailed), 1);
        QTRY_VERIFY(h.log.contains(QStringLiteral("Invalid payload length: %1").arg(length)));
        QTRY_COMPARE(h.window.events, QStringList{QStringLiteral("row 1")});
        QTRY_COMPARE(h.log.count(kLoopStarted), 1);
        QTRY_COMPARE(h.server.openConnections(), 0);
    }

    void framesWhateverTheChunking_data()
    {
        QTest::addColumn<int>("pieceSize");
        QTest::newRow("one write") << 0;
        QTest::newRow("one byte at a time") << 1;
        QTest::newRow("three bytes at a time") << 3;
        QTest::newRow("seven bytes at a time") << 7;
    }
    void framesWhateverTheChunking()
    {
        QFETCH(int, pieceSize);
        LiveClientHarness h;
        const QByteArray script = frame(livelink::kServerIdentity) + frame(bytes({5, 2})) +
                                  frame(bytes({7, 1})) + frame(bytes({1, 1})) +
                                  frame(bytes({8, 0, 0, 0x2F, 0x12})) + frame(bytes({5, 4})) +
                                  frame(bytes({7, 2}));
        h.server.setGreeting(script, pieceSize);
        QSignalSpy playing(&h.client, &SocketClient::isPlayingChanged);
        h.client.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        const QStringList expected{"row 2", "cue 1", "bpm 120.5", "row 4", "cue 2"};
        QTRY_COMPARE(h.window.events, expected);
        QCOMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
        QCOMPARE(playing.count(), 1);
        QVERIFY(h.client.isPlaying());
        QCOMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));
    }

    void sendsWithoutConnectionDoNothing()
    {
        LiveClientHarness h;
        h.log.clear();
        auto sendEverything = [&h] {
            h.client.sendTransportCommand(1);
            h.client.sendMapping(0, 1, 64, 1);
            h.client.sendClearMapping(2);
            h.client.sendSelectSetlistIndex(3);
            h.client.sendSetlist({Song{7, "Hello", "3:00"}});
            h.client.sendPlaySongPoolSong(7);
            h.client.sendCueMode(1);
            h.client.sendClearAllMappings();
        };
        sendEverything(); // never connected
        QCOMPARE(h.log.messages(), QStringList());

        // Connected but not yet validated: the server expects the identity reply first.
        h.client.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        QTRY_COMPARE(h.status.events, QStringList{kWaiting});
        sendEverything();
        h.server.writeIdentity();
        QTRY_COMPARE(h.status.count(kConnected), 1);
        QTRY_COMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));

        // Torn down.
        h.server.closeClients();
        QTRY_COMPARE(h.status.count(kFailed), 1);
        h.server.clearReceived();
        sendEverything();
        QTest::qWait(50);
        QCOMPARE(h.server.received(), QByteArray());
        QCOMPARE(h.status.count(kFailed), 1);
    }

    void senders_data()
    {
        QTest::addColumn<SendAction>("send");
        QTest::addColumn<QByteArray>("expected");
        QTest::addColumn<QString>("logLine");
        auto row = [](const char *name, SendAction send, const QByteArray &expected,
                      const QString &logLine = {}) {
            QTest::newRow(name) << send << expected << logLine;
        };
        row(
            "play", [](SocketClient &c, auto &) { c.sendTransportCommand(1); }, bytes({1, 1}));
        row(
            "transport 256", [](SocketClient &c, auto &) { c.sendTransportCommand(256); }, {},
            "Not sending transport command 256: outside 0 to 255.");
        row(
            "clear mapping", [](SocketClient &c, auto &) { c.sendClearMapping(3); }, bytes({2, 3}));
        row(
            "select index 0", [](SocketClient &c, auto &) { c.sendSelectSetlistIndex(0); },
            bytes({3, 0}));
        row(
            "select index 255", [](SocketClient &c, auto &) { c.sendSelectSetlistIndex(255); },
            bytes({3, 255}));
        row(
            "select index 256", [](SocketClient &c, auto &) { c.sendSelectSetlistIndex(256); }, {},
            "Not sending setlist index 256: outside 0 to 255.");
        row(
            "select index -1", [](SocketClient &c, auto &) { c.sendSelectSetlistIndex(-1); }, {},
            "Not sending setlist index -1: outside 0 to 255.");
        row(
            "cue mode 2", [](SocketClient &c, auto &) { c.sendCueMode(2); }, bytes({7, 2}));
        row(
            "cue mode 258", [](SocketClient &c, auto &) { c.sendCueMode(258); }, {},
            "Not sending cue mode 258: outside 0 to 255.");
        row(
            "empty setlist", [](SocketClient &c, auto &) { c.sendSetlist({}); }, bytes({4}));
        row(
            "one-song setlist",
            [](SocketClient &c, auto &) {
                c.sendSetlist({Song{7, "Hello", "3:00"}});
            },
            bytes({4, 0, 0, 0, 0, 0, 0, 0, 7, 5, 'H', 'e', 'l', 'l', 'o'}));
        row(
            "play pool song",
            [](SocketClient &c, auto &) { c.sendPlaySongPoolSong(0x0102030405060708ull); },
            bytes({5, 1, 2, 3, 4, 5, 6, 7, 8}));
        row(
            "set mapping", [](SocketClient &c, auto &) { c.sendMapping(3, 1, 0x0140, 2); },
            bytes({0, 3, 1, 0x01, 0x40, 2}));
        row("mapping Live cannot map",
            [](SocketClient &c, auto &) { c.sendMapping(3, 0xF0, 0x40, 2); }, {});
        row(
            "clear all mappings", [](SocketClient &c, auto &) { c.sendClearAllMappings(); },
            bytes({9}));
        row(
            "all four mappings, clear for missing",
            [](SocketClient &c, TransportMappings &m) {
                m.playMapping = MappingData{0, 0, 60};
                m.nextMapping = MappingData{1, 15, 127};
                m.sendAll(c);
            },
            bytes({0, 0, 0, 0, 60, 1, 2, 2, 2, 3, 0, 15, 1, 0, 127, 4}));
    }
    void senders()
    {
        QFETCH(SendAction, send);
        QFETCH(QByteArray, expected);
        QFETCH(QString, logLine);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.log.clear();
        h.server.clearReceived();
        send(h.client, h.mappings);
        // A marker after the message shows that nothing else was written before it.
        h.client.sendTransportCommand(2);
        QTRY_COMPARE(h.server.received(), expected + bytes({1, 2}));
        if (logLine.isEmpty())
            QVERIFY(!h.log.messages().join('\n').contains(QLatin1String("Not sending")));
        else
            QCOMPARE(h.log.count(logLine), 1);
    }

    void largeSetlistGoesOutWhole()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.server.clearReceived();
        QList<Song> setlist;
        for (quint64 id = 1; id <= 3000; ++id)
            setlist.append(Song{id, QString(200, QLatin1Char('n')), "3:00"});
        const QByteArray expected = livelink::encodeSetlist(setlist);
        QVERIFY(expected.size() > 600000);
        h.client.sendSetlist(setlist);
        h.client.sendTransportCommand(2);
        QTRY_COMPARE_WITH_TIMEOUT(h.server.received().size(), expected.size() + 2, 10000);
        QCOMPARE(h.server.received(), expected + bytes({1, 2}));
    }

    void clientDestroyedWithOpenConnection()
    {
        LiveClientHarness h;
        auto *client = new SocketClient(h.mappings);
        client->setServerDetectorDelegate(&h.status);
        h.server.setGreeting(frame(livelink::kServerIdentity));
        client->connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        QTRY_COMPARE(h.status.count(kConnected), 1);
        delete client;
        QTRY_COMPARE(h.server.openConnections(), 0);
        QCOMPARE(h.status.count(kFailed), 0);
    }
};

QTEST_MAIN(TestSocketClient)
#include "tst_socketclient.moc"
