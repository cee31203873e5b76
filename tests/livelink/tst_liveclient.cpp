// SPDX-License-Identifier: MIT
// The application's Live link: search, connection, bytes sent, what each message changes.
#include "liveclientharness.h"
#include "serverportfile.h"
#include "songlists.h"

#include <QRegularExpression>
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

void sendEverything(SocketClient &client)
{
    client.sendTransportCommand(1);
    client.sendMapping(0, 1, 64, 1);
    client.sendSetlist({Song{7, "Hello", "3:00"}});
    client.sendPlaySongPoolSong(7);
    client.sendClearAllMappings();
}

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

Q_DECLARE_METATYPE(SendAction)

class TestLiveClient : public QObject
{
    Q_OBJECT

private slots:
    // The port comes from server.json (6000 without one), read on every tick until connected.
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
        d.setDelegate(&h.status);
        d.setInterval(fromDefault ? 1h : 100ms);
        QCOMPARE(d.ipAddress(), QStringLiteral("0.0.0.0"));
        QCOMPARE(d.port(), port);
        d.updateParameters(QStringLiteral("127.0.0.1"), port);
        d.startDetection();
        QCOMPARE(h.status.events,
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

    // A probe without answer times out; a detector destroyed while it waits hears nothing.
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
    // However cut, the token validates, is answered once, the time-out does nothing; nothing
    // after a bad length is dispatched. Each end: one report, one restart, nothing written.
    void handshake_data()
    {
        QTest::addColumn<QByteArray>("greeting");
        QTest::addColumn<int>("pieceSize"); // 0: one write
        QTest::addColumn<int>("ending");    // 1: the server closes, 2: the client disconnects twice
        QTest::addColumn<QStringList>("window");
        QTest::addColumn<QStringList>("status"); // then the search's, after a failure
        const QByteArray token = livelink::kServerIdentity;
        const QByteArray then = frame(bytes({5, 2})) + frame(bytes({7, 1})) + frame(bytes({1, 1})) +
                                frame(bytes({8, 0, 0, 0x2F, 0x12})) + frame(bytes({5, 4}));
        const QStringList all{"row 2", "cue 1", "bpm 120.5", "row 4"};
        const QStringList kept{kWaiting, kConnected}, refused{kWaiting, kFailed},
            ended{kWaiting, kConnected, kFailed};
        auto row = [](const char *name, const QByteArray &greeting, int pieceSize, int ending,
                      const QStringList &window, const QStringList &status) {
            QTest::newRow(name) << greeting << pieceSize << ending << window << status;
        };
        row("token in whitespace", frame(" \t" + token + "\r\n") + then, 0, 0, all, kept);
        row("one byte at a time", frame(token) + then, 1, 0, all, kept);
        row("seven bytes at a time", frame(token) + then, 7, 0, all, kept);
        row("silence", {}, 0, 0, {}, refused);
        row("token and another character", frame(token + "X"), 0, 0, {}, refused);
        row("wrong frame, then token", frame("HELLO") + frame(token), 0, 0, {}, refused);
        row("message before token", frame(bytes({5, 1})) + frame(token), 0, 0, {}, refused);
        row("server closes", frame(token), 0, 1, {}, ended);
        row("client disconnects twice", frame(token), 0, 2, {}, ended);
        // The token in a read of its own, so the connection is validated before.
        for (quint32 length : {0u, 4097u}) {
            QByteArray header(4, '\0');
            qToBigEndian(length, header.data());
            row(qPrintable(QStringLiteral("length %1").arg(length)),
                frame(token) + frame(bytes({5, 1})) + header + then, int(frame(token).size()), 0,
                {"row 1"}, ended);
        }
    }
    void handshake()
    {
        QFETCH(QByteArray, greeting);
        QFETCH(int, pieceSize);
        QFETCH(int, ending);
        QFETCH(QStringList, window);
        QFETCH(QStringList, status);
        const bool validated = status.contains(kConnected), kept = !status.contains(kFailed);
        LiveClientHarness h(800ms);
        h.server.setGreeting(greeting, pieceSize);
        sendEverything(h.client);
        h.connectStraight();
        QTRY_COMPARE(h.status.count(kWaiting), 1);
        if (!h.client.serverValidated())
            sendEverything(h.client); // the server expects the identity reply first
        QTRY_COMPARE(h.window.events, window);
        if (ending)
            QTRY_COMPARE(h.status.count(kConnected), 1);
        if (ending == 1)
            h.server.closeClients();
        for (int i = 0; ending == 2 && i < 2; ++i)
            h.client.disconnectFromServer(); // the second before the restart has run
        QTRY_COMPARE(h.status.count(kFailed), kept ? 0 : 1);
        if (!kept)
            sendEverything(h.client);
        QTest::qWait(1000); // past the time-out, and past a late second report of the end
        if (!kept)
            status << "status: Detecting server on \nPort " + QString::number(h.server.port()) +
                          "...";
        QCOMPARE(h.status.events, status);
        QCOMPARE(h.window.events, window);
        QCOMPARE(h.log.count(kLoopStarted), kept ? 0 : 1);
        QCOMPARE(h.detector.isDetecting(), !kept);
        QVERIFY(!h.client.isDisconnecting()); // cleared where detection restarts
        QCOMPARE(h.client.isConnected(), kept);
        QCOMPARE(h.client.serverValidated(), kept);
        QCOMPARE(h.client.isPlaying(), kept);
        QCOMPARE(h.server.openConnections(), kept ? 1 : 0);
        QCOMPARE(h.server.received(),
                 validated ? QByteArray(livelink::kClientIdentity) : QByteArray());
    }

    void destroyedClientReportsNothing()
    {
        LiveClientHarness h;
        auto *client = new SocketClient(h.mappings);
        client->setServerDetectorDelegate(&h.status);
        h.server.setGreeting(frame(livelink::kServerIdentity));
        client->connectToServer(QStringLiteral("127.0.0.1"), h.server.port());
        QTRY_COMPARE(h.status.count(kConnected), 1);
        delete client;
        QTRY_COMPARE(h.server.openConnections(), 0);
        QTest::qWait(100); // a late report would have come by now
        QCOMPARE(h.status.count(kFailed), 0);
        QCOMPARE(h.log.count(kLoopStarted), 0);
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

    // One line per change. A map replaces all four; Live's setlist is shown, not echoed;
    // views hear of every pool read, setlist or not; bad bodies change nothing, stay open.
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

QTEST_MAIN(TestLiveClient)
#include "tst_liveclient.moc"
