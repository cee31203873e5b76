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
    // Accepted: validated, answered once, and the time-out does nothing later.
    // Refused: torn down without a reply, and the search starts again.
    void handshake_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<int>("pieceSize"); // 0: one write
        QTest::addColumn<bool>("accepted");
        const QByteArray token = livelink::kServerIdentity;
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
        LiveClientHarness h(800ms);
        h.server.setGreeting(greeting, pieceSize);
        h.client.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        if (accepted) {
            QTRY_COMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
            QTRY_COMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));
            QTest::qWait(1000); // past the time-out: the only way to see it did nothing
            QCOMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
            QCOMPARE(h.server.openConnections(), 1);
            QCOMPARE(h.server.received().size(), 15);
        } else {
            QTRY_COMPARE(h.status.count(kFailed), 1);
            QTRY_COMPARE(h.server.openConnections(), 0);
            QVERIFY(!h.client.serverValidated());
            QCOMPARE(h.status.count(kConnected), 0);
            QCOMPARE(h.server.received(), QByteArray()); // no reply to a stranger
            QTRY_VERIFY(h.detector.isDetecting());
            QCOMPARE(h.status.failureErrors, QStringList{QString()});
        }
    }

    // A server that accepts and says nothing is given up after the time-out, and the
    // new search starts counting at 1 again.
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
        QCOMPARE(h.server.received(), QByteArray()); // never validated, never written to
        QCOMPARE(h.status.events.first(),
                 QStringLiteral("status: Detecting server on \nPort %1...").arg(h.server.port()));
    }

    // However a validated connection ends, it is reported and detection restarts once.
    void connectionEndsOnce_data()
    {
        QTest::addColumn<bool>("byServer"); // or by the client, twice in a row
        QTest::newRow("server closes") << true;
        QTest::newRow("client disconnects twice") << false;
    }
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
        }
        QTRY_COMPARE(h.log.count(kLoopStarted), 1);
        QVERIFY(!h.client.isDisconnecting()); // cleared where detection restarts
        QVERIFY(!h.client.isConnected());
        QCOMPARE(h.detector.detectionAttemptCount(), 0);
        QTRY_COMPARE(h.server.openConnections(), 0);
        QTest::qWait(100); // a late second report of the same loss must not count twice
        QCOMPARE(h.status.count(kFailed), 1);
        QCOMPARE(h.log.count(kLoopStarted), 1);
    }

    // Whatever follows a bad length is out of step and must not be dispatched.
    void frameLengths_data()
    {
        QTest::addColumn<quint32>("length");
        QTest::newRow("4096, the largest") << 4096u;
        QTest::newRow("zero") << 0u;
        QTest::newRow("4097") << 4097u;
    }
    void frameLengths()
    {
        QFETCH(quint32, length);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        if (length == 4096) {
            QVERIFY(h.deliver({bytes({2}) + QByteArray(4095, 'x')}));
            QCOMPARE(h.status.count(kFailed), 0);
            return;
        }
        QByteArray header(4, '\0');
        qToBigEndian(length, header.data());
        h.server.write(frame(bytes({5, 1})) + header + frame(bytes({5, 2})));
        QTRY_COMPARE(h.status.count(kFailed), 1);
        QTRY_COMPARE(h.log.count(kLoopStarted), 1);
        QTRY_COMPARE(h.server.openConnections(), 0);
        QCOMPARE(h.window.events, QStringList{QStringLiteral("row 1")});
    }

    void framesWhateverTheChunking_data()
    {
        QTest::addColumn<int>("pieceSize");
        QTest::newRow("one write") << 0;
        QTest::newRow("one byte at a time") << 1;
        QTest::newRow("seven bytes at a time") << 7;
    }
    void framesWhateverTheChunking()
    {
        QFETCH(int, pieceSize);
        LiveClientHarness h;
        h.server.setGreeting(frame(livelink::kServerIdentity) + frame(bytes({5, 2})) +
                                 frame(bytes({7, 1})) + frame(bytes({1, 1})) +
                                 frame(bytes({8, 0, 0, 0x2F, 0x12})) + frame(bytes({5, 4})),
                             pieceSize);
        h.client.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        QTRY_COMPARE(h.window.events, (QStringList{"row 2", "cue 1", "bpm 120.5", "row 4"}));
        QVERIFY(h.client.isPlaying());
    }

    // Never connected, connected but not validated (the server expects the identity
    // reply first), and torn down: nothing is written.
    void sendsWithoutValidatedConnectionDoNothing()
    {
        LiveClientHarness h;
        auto sendEverything = [&h] {
            h.client.sendTransportCommand(1);
            h.client.sendMapping(0, 1, 64, 1);
            h.client.sendSetlist({Song{7, "Hello", "3:00"}});
            h.client.sendPlaySongPoolSong(7);
            h.client.sendClearAllMappings();
        };
        sendEverything();
        h.client.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        QTRY_COMPARE(h.status.events, QStringList{kWaiting});
        sendEverything();
        h.server.writeIdentity();
        QTRY_COMPARE(h.status.count(kConnected), 1);
        QTRY_COMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));
        h.server.closeClients();
        QTRY_COMPARE(h.status.count(kFailed), 1);
        h.server.clearReceived();
        sendEverything();
        QTest::qWait(50);
        QCOMPARE(h.server.received(), QByteArray());
    }

    // Values outside a byte are refused, not wrapped.
    void senders_data()
    {
        QTest::addColumn<SendAction>("send");
        QTest::addColumn<QByteArray>("expected");
        auto row = [](const char *name, const QByteArray &expected, SendAction send) {
            QTest::newRow(name) << send << expected;
        };
        using C = SocketClient;
        row("play", bytes({1, 1}), [](C &c, auto &) { c.sendTransportCommand(1); });
        row("transport 256", {}, [](C &c, auto &) { c.sendTransportCommand(256); });
        row("clear mapping", bytes({2, 3}), [](C &c, auto &) { c.sendClearMapping(3); });
        row("select 255", bytes({3, 255}), [](C &c, auto &) { c.sendSelectSetlistIndex(255); });
        row("select 256", {}, [](C &c, auto &) { c.sendSelectSetlistIndex(256); });
        row("select -1", {}, [](C &c, auto &) { c.sendSelectSetlistIndex(-1); });
        row("cue mode 2", bytes({7, 2}), [](C &c, auto &) { c.sendCueMode(2); });
        row("cue mode 258", {}, [](C &c, auto &) { c.sendCueMode(258); });
        row("setlist", bytes({4, 0, 0, 0, 0, 0, 0, 0, 7, 2, 'H', 'i'}), [](C &c, auto &) {
            c.sendSetlist({Song{7, "Hi", "3:00"}});
        });
        row("play pool song", bytes({5, 1, 2, 3, 4, 5, 6, 7, 8}),
            [](C &c, auto &) { c.sendPlaySongPoolSong(0x0102030405060708ull); });
        row("set mapping", bytes({0, 3, 1, 0x01, 0x40, 2}),
            [](C &c, auto &) { c.sendMapping(3, 1, 0x0140, 2); });
        row("mapping Live cannot map", {}, [](C &c, auto &) { c.sendMapping(3, 0xF0, 0x40, 2); });
        row("clear all mappings", bytes({9}), [](C &c, auto &) { c.sendClearAllMappings(); });
        row("all four mappings, clear for missing",
            bytes({0, 0, 0, 0, 60, 1, 2, 2, 2, 3, 0, 15, 1, 0, 127, 4}),
            [](C &c, TransportMappings &m) {
                m.playMapping = MappingData{0, 0, 60};
                m.nextMapping = MappingData{1, 15, 127};
                m.sendAll(c);
            });
    }
    void senders()
    {
        QFETCH(SendAction, send);
        QFETCH(QByteArray, expected);
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.server.clearReceived();
        send(h.client, h.mappings);
        // A marker after the message shows that nothing else was written before it.
        h.client.sendTransportCommand(2);
        QTRY_COMPARE(h.server.received(), expected + bytes({1, 2}));
    }

    void largeSetlistGoesOutWhole()
    {
        LiveClientHarness h;
        QVERIFY(h.connectAndValidate());
        h.server.clearReceived();
        QList<Song> setlist;
        for (quint64 id = 1; id <= 3000; ++id)
            setlist.append(Song{id, QString(200, QLatin1Char('n')), "3:00"});
        const QByteArray expected = livelink::encodeSetlist(setlist) + bytes({1, 2});
        h.client.sendSetlist(setlist);
        h.client.sendTransportCommand(2);
        QTRY_COMPARE_WITH_TIMEOUT(h.server.received().size(), expected.size(), 10000);
        QCOMPARE(h.server.received(), expected);
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
