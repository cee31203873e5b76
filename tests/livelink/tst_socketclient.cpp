// SPDX-License-Identifier: MIT
// The connection life cycle against a scripted server: handshake, time-out, teardown
// and restart of detection, framing, the bytes every sender writes, and what the
// application does with each validated message (bad bodies are dropped, the
// connection kept).
#include "liveclientharness.h"
#include "songlists.h"

#include <QSignalSpy>

#include <functional>

namespace {

using songlists::names;

const QString kLoopStarted = QStringLiteral("Starting server detection loop.");

using SendAction = std::function<void(SocketClient &, TransportMappings &)>;

QString describe(const std::optional<MappingData> &m)
{
    return m ? QStringLiteral("%1/%2/%3").arg(m->msgType).arg(m->channel).arg(m->identifier)
             : QStringLiteral("-");
}

} // namespace

Q_DECLARE_METATYPE(SendAction)

class TestSocketClient : public QObject
{
    Q_OBJECT

private slots:
    // Accepted: validated, answered once, every frame after the token dispatched
    // however the bytes are cut, and the time-out does nothing later.
    // Refused: torn down without a reply, and the search starts again.
    void handshake_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<int>("pieceSize"); // 0: one write
        QTest::addColumn<bool>("accepted");
        const QByteArray token = livelink::kServerIdentity;
        const QByteArray then = frame(bytes({5, 2})) + frame(bytes({7, 1})) + frame(bytes({1, 1})) +
                                frame(bytes({8, 0, 0, 0x2F, 0x12})) + frame(bytes({5, 4}));
        QTest::newRow("token in whitespace") << frame(" \t" + token + "\r\n") + then << 0 << true;
        QTest::newRow("one byte at a time") << frame(token) + then << 1 << true;
        QTest::newRow("seven bytes at a time") << frame(token) + then << 7 << true;
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
        h.connectStraight();
        if (accepted) {
            QTRY_COMPARE(h.window.events, (QStringList{"row 2", "cue 1", "bpm 120.5", "row 4"}));
            QVERIFY(h.client.isPlaying());
            QCOMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
            QTest::qWait(1000); // past the time-out: the only way to see it did nothing
            QCOMPARE(h.status.events, (QStringList{kWaiting, kConnected}));
            QCOMPARE(h.server.openConnections(), 1);
            QCOMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));
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

    // However a validated connection ends, it is reported and detection restarts once;
    // a client destroyed with its connection open reports nothing.
    void connectionEndsOnce_data()
    {
        QTest::addColumn<int>("how"); // 0: server closes, 1: client disconnects twice, 2: deleted
        QTest::newRow("server closes") << 0;
        QTest::newRow("client disconnects twice") << 1;
        QTest::newRow("client destroyed") << 2;
    }
    void connectionEndsOnce()
    {
        QFETCH(int, how);
        LiveClientHarness h;
        auto *client = new SocketClient(h.mappings);
        client->setServerDetectorDelegate(&h.status);
        SocketClient &c = how == 2 ? *client : h.client;
        h.server.setGreeting(frame(livelink::kServerIdentity));
        c.connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        QTRY_COMPARE(h.status.count(kConnected), 1);
        h.log.clear();
        if (how == 0)
            h.server.closeClients();
        for (int i = 0; how == 1 && i < 2; ++i)
            h.client.disconnectFromServer(); // the second before the restart has run
        delete client;
        QTRY_COMPARE(h.server.openConnections(), 0);
        QTRY_COMPARE(h.log.count(kLoopStarted), how == 2 ? 0 : 1);
        QVERIFY(!h.client.isDisconnecting()); // cleared where detection restarts
        QVERIFY(!h.client.isConnected());
        QCOMPARE(h.detector.detectionAttemptCount(), 0);
        QTest::qWait(100); // a late second report of the same loss must not count twice
        QCOMPARE(h.status.count(kFailed), how == 2 ? 0 : 1);
        QCOMPARE(h.log.count(kLoopStarted), how == 2 ? 0 : 1);
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
        h.connectStraight();
        QTRY_COMPARE(h.status.events, QStringList{kWaiting});
        sendEverything();
        h.server.writeIdentity();
        QTRY_COMPARE(h.server.received(), QByteArray(livelink::kClientIdentity));
        h.server.takeReceived();
        h.server.closeClients();
        QTRY_COMPARE(h.status.count(kFailed), 1);
        sendEverything();
        QTest::qWait(50);
        QCOMPARE(h.server.received(), QByteArray());
    }

    // Values outside a byte are refused, not wrapped; a large setlist leaves whole.
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
        QList<Song> large;
        QByteArray largeBytes = bytes({4});
        for (quint64 id = 1; id <= 3000; ++id) {
            large.append(Song{id, QString(200, QLatin1Char('n')), "3:00"});
            largeBytes += u64(id) + text(QByteArray(200, 'n'));
        }
        row("3000 songs", largeBytes, [large](C &c, auto &) { c.sendSetlist(large); });
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
        send(h.client, h.mappings);
        // A marker after the message shows that nothing else was written before it.
        h.client.sendTransportCommand(2);
        QTRY_COMPARE_WITH_TIMEOUT(h.server.received(), expected + bytes({1, 2}), 10000);
    }

    // What validated messages change, one line per change: window calls, playing
    // state, the four mappings (every map replaces all four; unknown names and values
    // MIDI cannot carry are skipped), pool and setlist (Live's own setlist is shown,
    // not echoed; the views hear of every pool read, even when its setlist was not).
    // Bad bodies change nothing and keep the connection.
    void dispatch_data()
    {
        QTest::addColumn<QList<QByteArray>>("payloads");
        QTest::addColumn<QStringList>("changes");
        const QByteArray a = song(1, "Alpha", "3:00");
        const QByteArray b = song(2, "Bravo", "4:10");
        const QByteArray c = song(3, "Charlie", "2:05");
        using P = QList<QByteArray>;
        using S = QStringList;
        auto row = [](const char *name, const P &payloads, const S &changes) {
            QTest::newRow(name) << payloads << changes;
        };
        row("map, no records", P{bytes({0})}, S{"maps 1: -,-,-,-"});
        row("map, all four",
            P{bytes({0}) + mapRecord("next", 1, 15, 127) + mapRecord("previous", 1, 0, 0) +
              mapRecord("stop", 2, 3, 5) + mapRecord("play", 7, 1, 1)},
            S{"maps 1: 7/1/1,2/3/5,1/0/0,1/15/127"});
        row("map, later record wins, unknown name skipped",
            P{bytes({0}) + mapRecord("stop", 0, 1, 10) + mapRecord("jump", 0, 1, 9) +
              mapRecord("stop", 1, 2, 20)},
            S{"maps 1: -,1/2/20,-,-"});
        row("map, channel above 15, identifier above 127 skipped",
            P{bytes({0}) + mapRecord("play", 0, 16, 10) + mapRecord("stop", 1, 0, 300) +
              mapRecord("next", 0, 15, 11)},
            S{"maps 1: -,-,-,0/15/11"});
        row("map record cut short",
            P{bytes({0}) + mapRecord("play", 0, 2, 60) + mapRecord("stop", 0, 1, 1).chopped(1)},
            S{});
        row("pool, separator, nothing after", P{bytes({3}) + b + a + bytes({4})},
            S{"songs 1: Alpha,Bravo | "});
        row("pool and setlist", P{bytes({3}) + a + b + bytes({4}) + b + c},
            S{"songs 1: Alpha,Bravo | Bravo,Charlie"});
        row("setlist record cut short: old setlist stays",
            P{bytes({3}) + a + bytes({4}) + b + c.chopped(2)}, S{"songs 1: Alpha | Old set"});
        row("pool record cut short", P{bytes({3}) + a + b.chopped(1)}, S{});
        row("tempo, extra bytes", P{bytes({8, 0, 0, 0x2E, 0xE0, 9})}, S{"bpm 120"});
        row("tempo of 4 bytes", P{bytes({8, 0, 0x2F, 0x12})}, S{});
        row("selection and cue mode, short ones dropped",
            P{bytes({5, 0}), bytes({7, 0}), bytes({5, 255}), bytes({7, 2}), bytes({5}), bytes({7})},
            S{"row 0", "cue 0", "row 255", "cue 2"});
        row("playing; other values change nothing",
            P{bytes({1, 1}), bytes({1, 3}), bytes({1, 0}), bytes({1})}, S{"playing true"});
        row("playing, then stopped", P{bytes({1, 1}), bytes({1, 2})},
            S{"playing true", "playing false"});
        row("ping reply, unknown types, notice",
            P{bytes({6, 1, 2, 3, 4, 5, 6, 7, 8}), bytes({4, 0}), bytes({255, 1}), bytes({2, 1})},
            S{});
    }
    void dispatch()
    {
        QFETCH(QList<QByteArray>, payloads);
        QFETCH(QStringList, changes);
        LiveClientHarness h;
        for (int tag = 1; tag <= 4; ++tag)
            h.mappings.setMapping(tag, MappingData{9, 9, 9});
        h.songs.replaceSongPool({Song{50, "Old pool", "1:00"}});
        h.songs.replaceSetlist(QList<Song>{Song{51, "Old set", "1:00"}});
        QVERIFY(h.connectAndValidate());
        QSignalSpy playing(&h.client, &SocketClient::isPlayingChanged);
        QSignalSpy mapped(&h.mappings, &TransportMappings::midiMappingDidUpdate);
        QSignalSpy songs(&h.songs, &SongManager::songPoolDidUpdate);
        QVERIFY(h.deliver(payloads));
        QStringList seen = h.window.events;
        for (const QList<QVariant> &args : playing)
            seen << QStringLiteral("playing ") + args.at(0).toString();
        const QString maps =
            QStringList{describe(h.mappings.playMapping), describe(h.mappings.stopMapping),
                        describe(h.mappings.prevMapping), describe(h.mappings.nextMapping)}
                .join(',');
        if (mapped.count() || maps != QLatin1String("9/9/9,9/9/9,9/9/9,9/9/9"))
            seen << QStringLiteral("maps %1: ").arg(mapped.count()) + maps;
        const QString pool = names(h.songs.songPoolData()).join(',') + QStringLiteral(" | ") +
                             names(h.songs.setListData()).join(',');
        if (songs.count() || pool != QLatin1String("Old pool | Old set"))
            seen << QStringLiteral("songs %1: ").arg(songs.count()) + pool;
        QCOMPARE(seen, changes);
        QCOMPARE(h.client.isPlaying(),
                 changes.contains("playing true") && !changes.contains("playing false"));
        QCOMPARE(h.server.received(), QByteArray()); // nothing echoed to Live
        QVERIFY(h.client.isConnected());
    }
};

QTEST_MAIN(TestSocketClient)
#include "tst_socketclient.moc"
